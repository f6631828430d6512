# Runs the built ocumbra-sim batch as a separate process.
ocumbra_add_test(NAME batch_cli_test SOURCES batch_cli_test.cpp LIBS fixdep glare toolkit)
add_dependencies(batch_cli_test ocumbra-sim kalentry)

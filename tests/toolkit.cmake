ocumbra_add_test(NAME arrayops_test SOURCES arrayops_test.cpp LIBS toolkit)
ocumbra_add_test(NAME paths_test SOURCES paths_test.cpp LIBS toolkit)
ocumbra_add_test(NAME viewing_test SOURCES viewing_test.cpp LIBS toolkit)
ocumbra_add_test(NAME parallel_test SOURCES parallel_test.cpp LIBS toolkit)
ocumbra_add_test(NAME large_blocks_test SOURCES large_blocks_test.cpp LIBS toolkit)

ocumbra_add_test(NAME imageio_test SOURCES imageio_test.cpp LIBS toolkit)
target_compile_definitions(imageio_test PRIVATE OCU_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")

# Runs the built ocumbra-sim as a separate process.
ocumbra_add_test(NAME cli_test SOURCES cli_test.cpp LIBS cli toolkit)
target_compile_definitions(cli_test PRIVATE OCU_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")
add_dependencies(cli_test ocumbra-sim)

# Writing files safely: size limits, signals and replacing files, in child processes.
ocumbra_add_test(NAME atomic_file_test SOURCES atomic_file_test.cpp LIBS toolkit)
ocumbra_add_test(NAME side_by_side_test SOURCES side_by_side_test.cpp LIBS toolkit)
ocumbra_add_test(NAME serial_worker_test SOURCES serial_worker_test.cpp LIBS toolkit)

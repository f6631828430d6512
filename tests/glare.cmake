ocumbra_add_test(NAME binomial_test SOURCES binomial_test.cpp LIBS glare)
ocumbra_add_test(NAME glare_test SOURCES glare_test.cpp LIBS glare)
ocumbra_add_test(NAME glare_cli_test SOURCES glare_cli_test.cpp LIBS glare toolkit)
add_dependencies(glare_cli_test ocumbra-sim)

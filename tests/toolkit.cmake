ocumbra_add_test(NAME arrayops_test SOURCES arrayops_test.cpp LIBS toolkit)

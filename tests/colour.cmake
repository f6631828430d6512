ocumbra_add_test(NAME colour_test SOURCES colour_test.cpp LIBS colour)

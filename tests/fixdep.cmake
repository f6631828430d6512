ocumbra_add_test(NAME resmap_test SOURCES resmap_test.cpp LIBS fixdep)

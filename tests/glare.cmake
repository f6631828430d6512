ocumbra_add_test(NAME binomial_test SOURCES binomial_test.cpp LIBS glare)

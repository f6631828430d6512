ocumbra_add_test(NAME blurkernels_test SOURCES blurkernels_test.cpp LIBS fixindep)
ocumbra_add_test(NAME fixindep_test SOURCES fixindep_test.cpp LIBS fixindep)

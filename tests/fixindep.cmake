ocumbra_add_test(NAME blurkernels_test SOURCES blurkernels_test.cpp LIBS fixindep)
# Also runs the `ocumbra-sim fixindep` subcommand in-process.
ocumbra_add_test(NAME fixindep_test SOURCES fixindep_test.cpp LIBS fixindep cli)

# The plug-in boundary: the program's host side (engine_client) and the
# plug-in's entry driven through the real libkalentry.so.

# A library without the plug-in's entry, for the binding's error.
add_library(kalnoentry MODULE engine_client_noentry.cpp)
set_target_properties(kalnoentry PROPERTIES PREFIX "lib" LIBRARY_OUTPUT_DIRECTORY ${OCUMBRA_BIN_DIR})

ocumbra_add_test(NAME engine_client_test SOURCES engine_client_test.cpp LIBS engine_client)
add_dependencies(engine_client_test kalnoentry)

# The plug-in's entry through the real libkalentry.so, loaded from bin/.
ocumbra_add_test(NAME engine_entry_test SOURCES engine_entry_test.cpp LIBS engine_client)
add_dependencies(engine_entry_test kalentry)

# A copy of the program in a folder without the plug-in: the binding's error.
add_test(NAME engine_client_without_plugin
         COMMAND sh -c "d=$(mktemp -d) && cp \"$0\" \"$d/\" && KAL_EXPECT_NO_PLUGIN=1 \"$d/engine_client_test\" --gtest_filter=Binding.ProgramWithoutThePlugInNextToIt; rc=$?; rm -rf \"$d\"; exit $rc"
                 $<TARGET_FILE:engine_client_test>)
set_tests_properties(engine_client_without_plugin PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0")

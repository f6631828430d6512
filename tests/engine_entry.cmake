# The plug-in boundary: the program's host side (engine_client) and the
# plug-in's entry driven through the real libkalentry.so.

# A library without the plug-in's entry, for the binding's error.
add_library(kalnoentry MODULE engine_client_noentry.cpp)
set_target_properties(kalnoentry PROPERTIES PREFIX "lib" LIBRARY_OUTPUT_DIRECTORY ${OCUMBRA_BIN_DIR})

ocumbra_add_test(NAME engine_client_test SOURCES engine_client_test.cpp LIBS engine_client)
add_dependencies(engine_client_test kalnoentry)

# The plug-in's entry through the real libkalentry.so, loaded from bin/.
if(TARGET kalentry)
  ocumbra_add_test(NAME engine_entry_test SOURCES engine_entry_test.cpp LIBS engine_client)
  add_dependencies(engine_entry_test kalentry)
endif()

# The pyramid engine's core, linked directly (without the plug-in's entry).
ocumbra_add_test(NAME engine_core_test SOURCES engine_core_test.cpp LIBS engine_core)

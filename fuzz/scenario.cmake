# The batch tool's .npy input reader and the scenario file reader. Their
# sources are compiled into the targets themselves so that libFuzzer sees
# their coverage.
ocumbra_add_fuzz(NAME npy_fuzz SOURCES npy_fuzz.cpp ${CMAKE_SOURCE_DIR}/cli/npy_input.cpp
                 LIBS toolkit SECONDS 5 SEEDS ${CMAKE_CURRENT_SOURCE_DIR}/seeds/npy)
ocumbra_add_fuzz(NAME scenario_json_fuzz SOURCES scenario_json_fuzz.cpp ${CMAKE_SOURCE_DIR}/scenario/scenario.cpp
                 LIBS field clinical colour fixdep toolkit Qt6::Core SECONDS 5
                 SEEDS ${CMAKE_CURRENT_SOURCE_DIR}/seeds/scenario_json)

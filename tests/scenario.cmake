# The combined simulation, scenario files and presets.
ocumbra_add_test(NAME scenario_test SOURCES scenario_test.cpp LIBS scenario)
add_dependencies(scenario_test kalentry)
ocumbra_add_test(NAME scenario_file_test SOURCES scenario_file_test.cpp LIBS scenario)
ocumbra_add_test(NAME scenario_cli_test SOURCES scenario_cli_test.cpp LIBS scenario cli)
add_dependencies(scenario_cli_test ocumbra-sim kalentry)

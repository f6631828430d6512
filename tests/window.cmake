# Window framework and main window tests (offscreen Qt).
add_library(window_testing STATIC window_testing.cpp)
target_link_libraries(window_testing PUBLIC toolkit_gui)
ocumbra_add_test(NAME framework_test SOURCES framework_test.cpp LIBS toolkit_gui window_testing Qt6::Test GUI)
target_compile_definitions(framework_test PRIVATE OCUMBRA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
ocumbra_add_test(NAME mainwindow_test SOURCES mainwindow_test.cpp LIBS ocumbra_app window_testing Qt6::Test GUI)
target_compile_definitions(mainwindow_test PRIVATE OCUMBRA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
# A long scripted session on one window: no growth in memory.
ocumbra_add_test(NAME soak_test SOURCES soak_test.cpp LIBS ocumbra_app Qt6::Test GUI)

# Window framework and main window tests (offscreen Qt).
add_library(window_testing STATIC window_testing.cpp)
target_link_libraries(window_testing PUBLIC toolkit_gui)
ocumbra_add_test(NAME framework_test SOURCES framework_test.cpp LIBS toolkit_gui window_testing Qt6::Test GUI)

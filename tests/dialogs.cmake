ocumbra_add_test(NAME parmvalues_test SOURCES parmvalues_test.cpp LIBS dialogs)
ocumbra_add_test(NAME dialogs_test SOURCES dialogs_test.cpp LIBS dialogs window_testing Qt6::Test GUI)
ocumbra_add_test(NAME commands_test SOURCES commands_test.cpp LIBS ocumbra_app window_testing Qt6::Test GUI)

ocumbra_add_test(NAME parmvalues_test SOURCES parmvalues_test.cpp LIBS dialogs)
ocumbra_add_test(NAME dialogs_test SOURCES dialogs_test.cpp LIBS dialogs Qt6::Test GUI)

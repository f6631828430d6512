ocumbra_add_test(NAME parmvalues_test SOURCES parmvalues_test.cpp LIBS dialogs)

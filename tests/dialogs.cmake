ocumbra_add_test(NAME parmvalues_test SOURCES parmvalues_test.cpp LIBS dialogs)
ocumbra_add_test(NAME dialogs_test SOURCES dialogs_test.cpp LIBS dialogs window_testing Qt6::Test GUI)
ocumbra_add_test(NAME commands_test SOURCES commands_test.cpp LIBS ocumbra_app window_testing Qt6::Test GUI)
# Acuity notations, Pelli-Robson scores and the width from a photo (tagged with Exiv2 here).
ocumbra_add_test(NAME clinical_dialogs_test SOURCES clinical_dialogs_test.cpp LIBS dialogs window_testing exiv2lib Qt6::Test GUI)
ocumbra_add_test(NAME field_dialog_test SOURCES field_dialog_test.cpp LIBS dialogs window_testing Qt6::Test GUI)
ocumbra_add_test(NAME combined_commands_test SOURCES combined_commands_test.cpp LIBS ocumbra_app window_testing Qt6::Test GUI)

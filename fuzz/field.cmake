# The perimetry readers: CSV (also drawn as a polar plot), JSON and DICOM.
ocumbra_add_fuzz(NAME field_csv_fuzz SOURCES field_csv_fuzz.cpp LIBS field SECONDS 5
                 SEEDS ${CMAKE_CURRENT_SOURCE_DIR}/seeds/field_csv)
ocumbra_add_fuzz(NAME field_json_fuzz SOURCES field_json_fuzz.cpp LIBS field SECONDS 5
                 SEEDS ${CMAKE_CURRENT_SOURCE_DIR}/seeds/field_json)
ocumbra_add_fuzz(NAME field_dicom_fuzz SOURCES field_dicom_fuzz.cpp LIBS field SECONDS 5
                 SEEDS ${CMAKE_CURRENT_SOURCE_DIR}/seeds/field_dicom)

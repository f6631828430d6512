ocumbra_add_test(NAME clinical_units_test SOURCES clinical_units_test.cpp LIBS clinical)
# Writes the EXIF tags of its photos with Exiv2 itself.
ocumbra_add_test(NAME photo_width_test SOURCES photo_width_test.cpp LIBS clinical toolkit exiv2lib)

# Perimetry measurements and the polar plot drawn from them.
find_package(DCMTK CONFIG REQUIRED)  # the DICOM test writes its objects with DCMTK
ocumbra_add_test(NAME measurement_test SOURCES measurement_test.cpp LIBS field DCMTK::dcmdata GTest::gmock)
ocumbra_add_test(NAME polarplot_test SOURCES polarplot_test.cpp LIBS field fixdep GTest::gmock)

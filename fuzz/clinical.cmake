# The clinical sources are compiled into the targets themselves so that
# libFuzzer sees their coverage.
ocumbra_add_fuzz(NAME acuity_fuzz SOURCES acuity_fuzz.cpp ${CMAKE_SOURCE_DIR}/clinical/units.cpp
                 LIBS toolkit SECONDS 5)
ocumbra_add_fuzz(NAME photo_width_fuzz SOURCES photo_width_fuzz.cpp ${CMAKE_SOURCE_DIR}/clinical/photo.cpp
                 LIBS toolkit exiv2lib SECONDS 5 SEEDS ${CMAKE_SOURCE_DIR}/fuzz/seeds/photo_width)

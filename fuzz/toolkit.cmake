ocumbra_add_fuzz(NAME imread_fuzz SOURCES imread_fuzz.cpp LIBS toolkit SECONDS 5
                 SEEDS ${CMAKE_CURRENT_SOURCE_DIR}/seeds/imread)

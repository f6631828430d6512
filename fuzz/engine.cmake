# The plug-in's entry under random call sequences. The entry and the engine's
# sources are compiled into the fuzz target itself, so that the fuzzer's
# coverage instrumentation reaches them; the host side is engine_client.
get_target_property(_engine_core_sources engine_core SOURCES)
set(_engine_fuzz_sources ${CMAKE_SOURCE_DIR}/engine/entry.cpp)
foreach(_s ${_engine_core_sources})
  if(IS_ABSOLUTE ${_s})
    list(APPEND _engine_fuzz_sources ${_s})
  else()
    list(APPEND _engine_fuzz_sources ${CMAKE_SOURCE_DIR}/engine/${_s})
  endif()
endforeach()
ocumbra_add_fuzz(NAME kalentry_fuzz
                 SOURCES kalentry_fuzz.cpp ${_engine_fuzz_sources}
                 LIBS engine_client
                 SECONDS 5)

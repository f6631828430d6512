if(TARGET engine_core)
  ocumbra_add_bench(NAME engine_core_bench SOURCES engine_core_bench.cpp LIBS engine_core)
endif()

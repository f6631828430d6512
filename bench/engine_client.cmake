if(TARGET kalentry)
  ocumbra_add_bench(NAME engine_client_bench SOURCES engine_client_bench.cpp LIBS engine_client)
  add_dependencies(engine_client_bench kalentry)
endif()

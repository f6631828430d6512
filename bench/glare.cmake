ocumbra_add_bench(NAME glare_bench SOURCES glare_bench.cpp LIBS glare)

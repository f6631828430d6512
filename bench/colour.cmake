ocumbra_add_bench(NAME colour_bench SOURCES colour_bench.cpp LIBS colour)

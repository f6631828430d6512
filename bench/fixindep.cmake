ocumbra_add_bench(NAME fixindep_bench SOURCES fixindep_bench.cpp LIBS fixindep)

ocumbra_add_bench(NAME fixdep_bench SOURCES fixdep_bench.cpp LIBS fixdep)

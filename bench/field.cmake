ocumbra_add_bench(NAME field_bench SOURCES field_bench.cpp LIBS field)

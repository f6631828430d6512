ocumbra_add_bench(NAME arrayops_bench SOURCES arrayops_bench.cpp LIBS toolkit)
ocumbra_add_bench(NAME imageio_bench SOURCES imageio_bench.cpp LIBS toolkit)

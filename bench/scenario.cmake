ocumbra_add_bench(NAME scenario_bench SOURCES scenario_bench.cpp LIBS scenario)

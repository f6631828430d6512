# The Python module's call overhead (C++ side; bench/python_overhead.py runs
# it and times the module) and the batch tool's throughput with parallel jobs.
ocumbra_add_bench(NAME python_overhead_bench SOURCES python_overhead_bench.cpp
                  LIBS fixindep fixdep glare colour toolkit)
add_dependencies(python_overhead_bench kalentry)
ocumbra_add_bench(NAME batch_bench SOURCES batch_bench.cpp LIBS toolkit)
add_dependencies(batch_bench ocumbra-sim kalentry)

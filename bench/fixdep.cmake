ocumbra_add_bench(NAME fixdep_bench SOURCES fixdep_bench.cpp LIBS fixdep)
ocumbra_add_bench(NAME fixation_path_bench SOURCES fixation_path_bench.cpp LIBS fixdep toolkit_gui)
add_dependencies(fixation_path_bench kalentry)

ocumbra_add_bench(NAME fixation_click_bench SOURCES fixation_click_bench.cpp LIBS ocumbra_app Qt6::Test)

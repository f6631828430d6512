# ocumbra_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [GUI])
# One GoogleTest executable per unit, its cases registered with CTest.
# GUI tests run on Qt's offscreen platform.
function(ocumbra_add_test)
  cmake_parse_arguments(T "GUI" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  set_target_properties(${T_NAME} PROPERTIES ENABLE_EXPORTS ON)
  # Under the sanitizers, scripts/test.sh points LSAN_OPTIONS at tests/lsan.supp
  # (process-lifetime caches of fontconfig and Qt that LeakSanitizer reports).
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST
                       WORKING_DIRECTORY ${OCUMBRA_BIN_DIR}
                       PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600)
endfunction()

# ocumbra_add_bench(NAME <name> SOURCES <files...> LIBS <targets...>)
function(ocumbra_add_bench)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
  set_target_properties(${B_NAME} PROPERTIES ENABLE_EXPORTS ON)
endfunction()

# ocumbra_add_fuzz(NAME <name> SOURCES <files...> LIBS <targets...> [SECONDS n] [SEEDS dir])
# The run writes new inputs only to its corpus folder in the build tree; SEEDS is read.
# A libFuzzer target; a short fixed-seed run of it is registered as a test.
function(ocumbra_add_fuzz)
  cmake_parse_arguments(F "" "NAME;SECONDS;SEEDS" "SOURCES;LIBS" ${ARGN})
  if(NOT F_SECONDS)
    set(F_SECONDS 5)
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS} Threads::Threads)
  set_target_properties(${F_NAME} PROPERTIES ENABLE_EXPORTS ON)
  set(_corpus ${CMAKE_CURRENT_BINARY_DIR}/${F_NAME}_corpus)
  file(MAKE_DIRECTORY ${_corpus})
  add_test(NAME ${F_NAME}_run
           COMMAND ${F_NAME} -seed=1 -max_total_time=${F_SECONDS} -rss_limit_mb=2048
                   -timeout=20 ${_corpus} ${F_SEEDS}
           WORKING_DIRECTORY ${OCUMBRA_BIN_DIR})
  set_tests_properties(${F_NAME}_run PROPERTIES ENVIRONMENT
                       "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=0" TIMEOUT 300)
endfunction()

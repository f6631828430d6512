# The Python module's tests (pytest, Debian's /usr/bin/python3), one CTest
# test per file so that they run side by side; the module from build/python,
# the tool and the data files from build/bin. In the sanitizer build the
# interpreter runs with the sanitizers' runtime preloaded (the module needs it
# loaded first; Python's own allocations are not checked for leaks).
if(TARGET ocumbra_python)
  set(_py_env "PYTHONPATH=$<TARGET_FILE_DIR:ocumbra_python>;OCUMBRA_BIN=${OCUMBRA_BIN_DIR};PYTHONDONTWRITEBYTECODE=1")
  set(_py_tests_ok ON)
  if(OCUMBRA_SANITIZE)
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
      set(_rt libclang_rt.asan-${CMAKE_SYSTEM_PROCESSOR}.so)
    else()
      set(_rt libasan.so)
    endif()
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_rt}
                    OUTPUT_VARIABLE _rt_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${_rt_path}" AND EXISTS "${_rt_path}")
      list(APPEND _py_env "LD_PRELOAD=${_rt_path}" "ASAN_OPTIONS=detect_leaks=0")
    else()
      message(STATUS "No ${_rt} to preload: the Python tests are left out of this build")
      set(_py_tests_ok OFF)
    endif()
  endif()
  if(_py_tests_ok)
    file(GLOB _py_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/python/test_*.py)
    foreach(_t ${_py_tests})
      get_filename_component(_name ${_t} NAME_WE)
      add_test(NAME python_${_name}
               COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${_t}
               WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/python)
      set_tests_properties(python_${_name} PROPERTIES TIMEOUT 600 ENVIRONMENT "${_py_env}")
    endforeach()
  endif()
endif()

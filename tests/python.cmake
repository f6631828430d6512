# The Python module's tests (pytest, Debian's /usr/bin/python3), one CTest
# test per file so that they run side by side; the module from build/python,
# the tool and the data files from build/bin.
if(TARGET ocumbra_python)
  file(GLOB _py_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/python/test_*.py)
  foreach(_t ${_py_tests})
    get_filename_component(_name ${_t} NAME_WE)
    add_test(NAME python_${_name}
             COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${_t}
             WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/python)
    set_tests_properties(python_${_name} PROPERTIES TIMEOUT 600 ENVIRONMENT
      "PYTHONPATH=$<TARGET_FILE_DIR:ocumbra_python>;OCUMBRA_BIN=${OCUMBRA_BIN_DIR};PYTHONDONTWRITEBYTECODE=1")
  endforeach()
endif()

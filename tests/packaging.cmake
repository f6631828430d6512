# The installed program: the install layout (a DESTDIR install of this build),
# the Debian package and the desktop files; the programs' command lines and
# the window's Help menu.
ocumbra_add_test(NAME install_test SOURCES install_test.cpp LIBS toolkit)
target_compile_definitions(install_test PRIVATE
  OCU_CMAKE_COMMAND="${CMAKE_COMMAND}" OCU_CPACK_COMMAND="${CMAKE_CPACK_COMMAND}"
  OCU_BUILD_DIR="${CMAKE_BINARY_DIR}" OCU_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  OCU_INSTALL_LIBDIR="${CMAKE_INSTALL_LIBDIR}" OCU_VERSION="${PROJECT_VERSION}"
  OCU_DOCS=$<BOOL:${OCUMBRA_DOCS}>
  # The package is made of the Release build only.
  OCU_PACKAGE_TEST=$<NOT:$<BOOL:${OCUMBRA_SANITIZE}>>)
add_dependencies(install_test ocumbra ocumbra-sim kalentry)
if(OCUMBRA_DOCS)
  add_dependencies(install_test packaging_files)
endif()

ocumbra_add_test(NAME cli_help_test SOURCES cli_help_test.cpp LIBS cli toolkit)
target_compile_definitions(cli_help_test PRIVATE OCU_VERSION="${PROJECT_VERSION}")
add_dependencies(cli_help_test ocumbra-sim)

ocumbra_add_test(NAME startup_test SOURCES startup_test.cpp LIBS ocumbra_app window_testing Qt6::Test GUI)
target_compile_definitions(startup_test PRIVATE OCU_VERSION="${PROJECT_VERSION}"
  OCU_SOURCE_DIR="${CMAKE_SOURCE_DIR}" OCU_DOCS=$<BOOL:${OCUMBRA_DOCS}>)
add_dependencies(startup_test ocumbra)

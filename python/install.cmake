# cmake --install, component `python`: the module and its stub, where the
# interpreter looks for modules of the install prefix.
set(SLIPVEL_PYTHON_INSTALL_DIR "" CACHE PATH
    "where cmake --install puts the module, relative to the prefix (default: where the interpreter looks for that prefix)")
set(python_dir "${SLIPVEL_PYTHON_INSTALL_DIR}")
if(python_dir STREQUAL "")
  # The interpreter's own answer: Debian's Python looks in dist-packages under
  # /usr/local (its posix_local scheme, based at /usr) and /usr (deb_system),
  # other prefixes such as $HOME/.local in lib/pythonX.Y/site-packages.
  execute_process(COMMAND "${Python_EXECUTABLE}" "${CMAKE_CURRENT_SOURCE_DIR}/install_dir.py" "${CMAKE_INSTALL_PREFIX}"
                  OUTPUT_VARIABLE absolute_dir OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE asked)
  if(NOT asked EQUAL 0 OR absolute_dir STREQUAL "")
    message(FATAL_ERROR "${Python_EXECUTABLE} could not say where it looks for modules of ${CMAKE_INSTALL_PREFIX}: "
                        "set SLIPVEL_PYTHON_INSTALL_DIR")
  endif()
  file(RELATIVE_PATH python_dir "${CMAKE_INSTALL_PREFIX}" "${absolute_dir}")
endif()
message(STATUS "Python module: installs into <prefix>/${python_dir}")
install(TARGETS slipvel_python LIBRARY DESTINATION ${python_dir} COMPONENT python)
install(FILES slipvel.pyi DESTINATION ${python_dir} COMPONENT python)

# cmake --install, component `python`: the module and its stub, where the
# interpreter looks for modules of the prefix given at install time (so
# `cmake --install build --prefix P` needs no new configure).
set(SLIPVEL_PYTHON_INSTALL_DIR "" CACHE PATH
    "where cmake --install puts the module, relative to the prefix (default: where the interpreter looks for that prefix)")
install(CODE "
  set(python_dir \"${SLIPVEL_PYTHON_INSTALL_DIR}\")
  if(python_dir STREQUAL \"\")
    execute_process(COMMAND \"${Python_EXECUTABLE}\" \"${CMAKE_CURRENT_SOURCE_DIR}/install_dir.py\" \"\${CMAKE_INSTALL_PREFIX}\"
                    OUTPUT_VARIABLE python_dir OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE asked)
    if(NOT asked EQUAL 0 OR python_dir STREQUAL \"\")
      message(FATAL_ERROR \"${Python_EXECUTABLE} could not say where it looks for modules of \${CMAKE_INSTALL_PREFIX}: \"
                          \"set SLIPVEL_PYTHON_INSTALL_DIR\")
    endif()
  elseif(NOT IS_ABSOLUTE \"\${python_dir}\")
    set(python_dir \"\${CMAKE_INSTALL_PREFIX}/\${python_dir}\")
  endif()
  file(INSTALL DESTINATION \"\${python_dir}\" TYPE SHARED_LIBRARY FILES \"$<TARGET_FILE:slipvel_python>\")
  file(INSTALL DESTINATION \"\${python_dir}\" TYPE FILE FILES \"${CMAKE_CURRENT_SOURCE_DIR}/slipvel.pyi\")
" COMPONENT python)

# With shared libraries the module finds them from where it lies.
if(BUILD_SHARED_LIBS)
  install(CODE "
    file(RELATIVE_PATH to_libraries \"\${python_dir}\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}\")
    file(RPATH_SET FILE \"\$ENV{DESTDIR}\${python_dir}/$<TARGET_FILE_NAME:slipvel_python>\"
         NEW_RPATH \"\$ORIGIN/\${to_libraries}\")
  " COMPONENT python)
endif()

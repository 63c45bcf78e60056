# Installing and packaging. The program looks for its companions (settings
# program, manual, tf_style.css) in its own folder only, so they are
# installed side by side with it. tf_style.css is installed by
# doc/CMakeLists.txt.
set(TALLYFOLD_INSTALL_FOLDER bin)
# Where the build puts the program, and so its companions.
set(TALLYFOLD_PROGRAM_FOLDER ${CMAKE_BINARY_DIR})

if(TARGET tallyfold_settings)
  install(TARGETS tallyfold_settings RUNTIME DESTINATION ${TALLYFOLD_INSTALL_FOLDER})
endif()
include(${PROJECT_SOURCE_DIR}/doc/manual.cmake)

# `cmake --build <dir> --target dist`: installs into a staging folder and
# archives it, as a zip of the four files for Windows, a tarball of the
# installed tree for Linux.
set(stage ${CMAKE_BINARY_DIR}/dist-stage)
if(WIN32)
  set(TALLYFOLD_PACKAGE ${CMAKE_BINARY_DIR}/tallyfold-${PROJECT_VERSION}-windows.zip)
  set(archive_command
    ${CMAKE_COMMAND} -E chdir ${stage}/${TALLYFOLD_INSTALL_FOLDER}
    ${CMAKE_COMMAND} -E tar cf ${TALLYFOLD_PACKAGE} --format=zip
    tallyfold.exe config.exe tallyfold.chm tf_style.css)
else()
  set(TALLYFOLD_PACKAGE ${CMAKE_BINARY_DIR}/tallyfold-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}.tar.gz)
  set(archive_command
    ${CMAKE_COMMAND} -E chdir ${stage}
    ${CMAKE_COMMAND} -E tar czf ${TALLYFOLD_PACKAGE} --format=gnutar .)
endif()
add_custom_target(dist
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
  COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${stage}
  COMMAND ${archive_command}
  COMMENT "Packing ${TALLYFOLD_PACKAGE}"
  VERBATIM)
add_dependencies(dist tallyfold tallyfold_manual)
if(TARGET tallyfold_settings)
  add_dependencies(dist tallyfold_settings)
endif()

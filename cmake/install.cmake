# Installing and packaging. The program looks for its companions (settings
# program, manual, tf_style.css) in its own folder, then in share/tallyfold/
# beside that folder: on Windows they are installed side by side with it,
# on Linux the settings program goes to bin/ and the others to
# share/tallyfold/ (TALLYFOLD_COMPANION_DESTINATION, set in
# doc/CMakeLists.txt, which installs tf_style.css).
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

if(WIN32)
  return()
endif()

# ---- Linux: bash completion, the package's copyright file and changelog,
# the Debian package
install(FILES ${PROJECT_SOURCE_DIR}/tools/tallyfold-completion.bash
        DESTINATION share/bash-completion/completions RENAME tallyfold)
set(package_doc ${CMAKE_BINARY_DIR}/package)
file(WRITE ${package_doc}/copyright "Tallyfold ${PROJECT_VERSION}\n${TALLYFOLD_COPYRIGHT}\n")
# The map page carries d3-hierarchy inside the program: its terms go along.
set(d3_copyright /usr/share/doc/node-d3-hierarchy/copyright)
if(EXISTS ${d3_copyright})
  file(READ ${d3_copyright} d3_terms)
  file(APPEND ${package_doc}/copyright "\nThe map page includes d3-hierarchy, under these terms:\n\n${d3_terms}")
endif()
# A package made here, not from a Debian source package, carries the
# changelog of a native one. The date honours SOURCE_DATE_EPOCH.
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${package_doc}/changelog
  "tallyfold (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Tallyfold ${PROJECT_VERSION}.\n\n"
  " -- ${TALLYFOLD_MAKER} <${TALLYFOLD_SUPPORT_EMAIL}>  ${changelog_date}\n")
execute_process(COMMAND gzip -9nf ${package_doc}/changelog COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${package_doc}/copyright ${package_doc}/changelog.gz DESTINATION share/doc/tallyfold)

# `cmake --build <dir> --target package`: a Debian package that installs
# under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tallyfold)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "report how much disk space a folder tree takes")
set(CPACK_PACKAGE_DESCRIPTION "Tallyfold reads every folder below a start folder once and prints\n\
the folder tree with each folder's total size, its own size, its file count\n\
and the space lost to cluster rounding, as a paged and browsable console\n\
report or as a tab-separated, comma-separated or HTML report.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TALLYFOLD_MAKER} <${TALLYFOLD_SUPPORT_EMAIL}>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TALLYFOLD_PRODUCT_URL})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The dependencies (libc, libstdc++) are read from the programs themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

# The user manual, placed beside the built program (where -help and F1 open
# it) and installed with the other companions: compiled into tallyfold.chm
# with chmcmd (Debian package fp-utils) for Windows, tallyfold.html as it is
# for Linux, where the man page goes with it, compressed as Debian wants it.
set(TALLYFOLD_DOC ${PROJECT_SOURCE_DIR}/doc)

if(WIN32)
  find_program(TALLYFOLD_CHMCMD chmcmd)
  if(NOT TALLYFOLD_CHMCMD)
    message(FATAL_ERROR "chmcmd (Debian package fp-utils) is needed to build tallyfold.chm")
  endif()
  set(work ${CMAKE_BINARY_DIR}/manual)
  file(MAKE_DIRECTORY ${work})
  # chmcmd compiles the files named in the project beside it, so both are
  # copied into a folder of their own first.
  add_custom_command(OUTPUT ${TALLYFOLD_PROGRAM_FOLDER}/tallyfold.chm
    COMMAND ${CMAKE_COMMAND} -E copy ${TALLYFOLD_DOC}/tallyfold.hhp ${TALLYFOLD_DOC}/tallyfold.html ${work}
    COMMAND ${TALLYFOLD_CHMCMD} tallyfold.hhp
    COMMAND ${CMAKE_COMMAND} -E copy ${work}/tallyfold.chm ${TALLYFOLD_PROGRAM_FOLDER}/tallyfold.chm
    WORKING_DIRECTORY ${work}
    DEPENDS ${TALLYFOLD_DOC}/tallyfold.hhp ${TALLYFOLD_DOC}/tallyfold.html
    COMMENT "Compiling the manual into tallyfold.chm"
    VERBATIM)
  add_custom_target(tallyfold_manual ALL DEPENDS ${TALLYFOLD_PROGRAM_FOLDER}/tallyfold.chm)
  install(FILES ${TALLYFOLD_PROGRAM_FOLDER}/tallyfold.chm DESTINATION ${TALLYFOLD_INSTALL_FOLDER})
else()
  add_custom_command(OUTPUT ${TALLYFOLD_PROGRAM_FOLDER}/tallyfold.html
    COMMAND ${CMAKE_COMMAND} -E copy ${TALLYFOLD_DOC}/tallyfold.html ${TALLYFOLD_PROGRAM_FOLDER}/tallyfold.html
    DEPENDS ${TALLYFOLD_DOC}/tallyfold.html
    COMMENT "Copying the manual beside the program"
    VERBATIM)
  # The man page beside the program too: -help shows it in the terminal
  # when no desktop can open the manual.
  add_custom_command(OUTPUT ${TALLYFOLD_PROGRAM_FOLDER}/tallyfold.1
    COMMAND ${CMAKE_COMMAND} -E copy ${TALLYFOLD_DOC}/tallyfold.1 ${TALLYFOLD_PROGRAM_FOLDER}/tallyfold.1
    DEPENDS ${TALLYFOLD_DOC}/tallyfold.1
    COMMENT "Copying the man page beside the program"
    VERBATIM)
  set(man_pages "")
  foreach(page tallyfold.1 tallyfold-config.1)
    set(packed ${CMAKE_BINARY_DIR}/manual/${page}.gz)
    # -n leaves the time out of the header, so the same page packs the same.
    add_custom_command(OUTPUT ${packed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/manual
      COMMAND gzip -9n -c ${TALLYFOLD_DOC}/${page} > ${packed}
      DEPENDS ${TALLYFOLD_DOC}/${page}
      COMMENT "Compressing the man page ${page}")
    list(APPEND man_pages ${packed})
  endforeach()
  add_custom_target(tallyfold_manual ALL
    DEPENDS ${TALLYFOLD_PROGRAM_FOLDER}/tallyfold.html ${TALLYFOLD_PROGRAM_FOLDER}/tallyfold.1 ${man_pages})
  install(FILES ${TALLYFOLD_DOC}/tallyfold.html DESTINATION ${TALLYFOLD_COMPANION_DESTINATION})
  install(FILES ${man_pages} DESTINATION share/man/man1)
endif()

# The version resource and application manifest of a Windows program, made
# from the build's own settings (version, maker, copyright line) and compiled
# by the MinGW resource compiler.
enable_language(RC)

set(TALLYFOLD_RESOURCE_TEMPLATES ${CMAKE_CURRENT_LIST_DIR})

# tallyfold_add_resources(<target> <name> <description>)
function(tallyfold_add_resources target name description)
  set(TALLYFOLD_RESOURCE_NAME ${name})
  set(TALLYFOLD_RESOURCE_DESCRIPTION ${description})
  set(TALLYFOLD_RESOURCE_FILE ${name}.exe)
  set(folder ${CMAKE_BINARY_DIR}/generated/resources/${name})
  set(TALLYFOLD_RESOURCE_MANIFEST ${folder}/${name}.manifest)
  configure_file(${TALLYFOLD_RESOURCE_TEMPLATES}/program.manifest.in ${TALLYFOLD_RESOURCE_MANIFEST} @ONLY)
  configure_file(${TALLYFOLD_RESOURCE_TEMPLATES}/program.rc.in ${folder}/${name}.rc @ONLY)
  # The resource compiler does not see that the script includes the manifest.
  set_source_files_properties(${folder}/${name}.rc PROPERTIES OBJECT_DEPENDS ${TALLYFOLD_RESOURCE_MANIFEST})
  target_sources(${target} PRIVATE ${folder}/${name}.rc)
endfunction()

# Windows version resources, from the project's one version: compiled by windres into an object that
# the target links, since the shared compile options are the C++ compiler's, not windres's.
# quorin_version_resource(target file-type file-name description): file-type 1 a program, 2 a library.
function(quorin_version_resource target file_type file_name description)
  if(NOT WIN32)
    return()
  endif()
  set(RESOURCE_FILE_TYPE ${file_type})
  set(RESOURCE_FILE_NAME ${file_name})
  set(RESOURCE_DESCRIPTION "${description}")
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  set(object ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.o)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${script} @ONLY)
  add_custom_command(OUTPUT ${object} COMMAND ${CMAKE_RC_COMPILER} -i ${script} -o ${object}
    DEPENDS ${script} COMMENT "Version resource of ${file_name}")
  set_source_files_properties(${object} PROPERTIES EXTERNAL_OBJECT ON GENERATED ON)
  target_sources(${target} PRIVATE ${object})
endfunction()

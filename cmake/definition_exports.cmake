# The export names a module-definition file lists, one indented name per line. Shared by the build
# (version script, export-list test) and by the script that checks the built module's tables.
function(quorin_read_definition_exports file out)
  file(STRINGS ${file} lines)
  set(names "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]+([A-Za-z0-9_]+)[ \t]*$")
      list(APPEND names ${CMAKE_MATCH_1})
    endif()
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# The module's own export names, from quorin64.def; a change to the file reconfigures.
function(quorin_definition_exports out)
  quorin_read_definition_exports(${PROJECT_SOURCE_DIR}/quorin64.def names)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/quorin64.def)
  set(${out} ${names} PARENT_SCOPE)
endfunction()

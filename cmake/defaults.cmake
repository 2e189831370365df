# Settings every target of ours shares, applied by one function so that none is forgotten.
option(QUORIN_WERROR "Treat warnings as errors" ON)

function(quorin_defaults target)
  target_compile_features(${target} PRIVATE cxx_std_17)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
      -Wdouble-promotion -ffp-contract=off $<$<BOOL:${QUORIN_WERROR}>:-Werror>)
  if(WIN32)
    # Everything we build for Windows carries its runtime, so Wine and users need no mingw DLLs.
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()

# Module code: no exceptions anywhere, so nothing can be thrown across the host boundary.
function(quorin_module_code target)
  quorin_defaults(${target})
  target_compile_options(${target} PRIVATE -fno-exceptions)
endfunction()

# The module's export names, as the definition file lists them (one indented name per line).
function(quorin_definition_exports out)
  file(STRINGS ${PROJECT_SOURCE_DIR}/quorin64.def lines)
  set(names "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]+([A-Za-z0-9_]+)[ \t]*$")
      list(APPEND names ${CMAKE_MATCH_1})
    endif()
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/quorin64.def)
  set(${out} ${names} PARENT_SCOPE)
endfunction()

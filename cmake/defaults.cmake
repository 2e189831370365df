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

# Set, the Linux programs and shared objects we ship link the .xlsx libraries from there and the C++
# runtime statically, so that they need nothing from the system but glibc.
set(QUORIN_STATIC_PREFIX "" CACHE PATH "static .xlsx libraries built by 'scripts/mingw-libs linux' (releases, wheels)")

# For a file we ship. Nothing of the runtime or the static libraries is exported: another library in
# the same process (an office's, another Python extension's) keeps its own copy out of our way.
function(quorin_self_contained target)
  if(NOT WIN32 AND QUORIN_STATIC_PREFIX)
    target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++ -Wl,--exclude-libs,ALL)
  endif()
endfunction()

# Module code: no exceptions anywhere, so nothing can be thrown across the host boundary.
function(quorin_module_code target)
  quorin_defaults(${target})
  target_compile_options(${target} PRIVATE -fno-exceptions)
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/definition_exports.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/version_resource.cmake)

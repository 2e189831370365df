# expect_run.cmake - runs a command line and expects its exit status and every pattern in its output
# (standard output and error together). Lists are joined with @@, which add_test passes intact.
# cmake -DCOMMAND=program@@argument... -DSTATUS=N -DPATTERNS=regex@@regex... -P expect_run.cmake
string(REPLACE "@@" ";" command "${COMMAND}")
string(REPLACE "@@" ";" patterns "${PATTERNS}")
execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
message("${output}")
if(NOT status STREQUAL STATUS)
  message(FATAL_ERROR "exit status ${status}, expected ${STATUS}")
endif()
foreach(pattern IN LISTS patterns)
  if(NOT output MATCHES "${pattern}")
    message(FATAL_ERROR "the output does not say: ${pattern}")
  endif()
endforeach()

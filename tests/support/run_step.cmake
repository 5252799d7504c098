# run(COMMAND...): one step of a CMake-script test. Shows the step's output, stops the test when
# the step fails, and leaves its output in last_output for checks.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
  message("${output}")
  if(failed)
    message(FATAL_ERROR "failed: ${ARGN}")
  endif()
  set(last_output "${output}" PARENT_SCOPE)
endfunction()

# Configures and builds the example host on its own against the installed package, then runs
# its demo with the installed library.
foreach(var SOURCE BUILD PREFIX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not given")
  endif()
endforeach()
set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=${SANITIZE}")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BUILD} -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
          -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_CXX_FLAGS=${flags}
  RESULT_VARIABLE configured)
if(NOT configured EQUAL 0)
  message(FATAL_ERROR "configuring against the installed package failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD} RESULT_VARIABLE built)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "building against the installed package failed")
endif()
execute_process(COMMAND ${BUILD}/kqcp_demo_host --library ${PREFIX}/lib/libkqcp.so
  RESULT_VARIABLE ran OUTPUT_VARIABLE output ERROR_VARIABLE output)
message("${output}")
if(NOT ran EQUAL 0)
  message(FATAL_ERROR "the host built against the package failed")
endif()

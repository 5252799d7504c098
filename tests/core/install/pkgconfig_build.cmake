# Moves a copy of an installed platform (PREFIX) to WORK/moved, then builds the README's plug-in
# and a minimal host with nothing but the flags pkg-config gives for it, and runs the host.
foreach(var PREFIX WORK CXX HOST_SOURCE PLUGIN_SOURCE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not given")
  endif()
endforeach()
set(moved ${WORK}/moved)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${PREFIX}/ DESTINATION ${moved})

function(pkg_config what out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${moved}/lib/pkgconfig
            pkg-config ${what} kqcp
    RESULT_VARIABLE failed OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed)
    message(FATAL_ERROR "pkg-config ${what} kqcp failed")
  endif()
  message("pkg-config ${what}: ${flags}")
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()
pkg_config(--cflags cflags)
pkg_config(--libs libs)
# The flags must lead into the moved tree, not to where the platform was configured to go.
if(NOT "${cflags}" MATCHES "${moved}/lib/pkgconfig/\\.\\./\\.\\./include"
   AND NOT "${cflags}" MATCHES "${moved}/include")
  message(FATAL_ERROR "pkg-config names headers outside the moved install: ${cflags}")
endif()

set(sanitize "")
if(SANITIZE)
  set(sanitize -fsanitize=${SANITIZE})
endif()
include(${CMAKE_CURRENT_LIST_DIR}/../../support/run_step.cmake)
run(${CXX} ${cflags} ${sanitize} -fPIC -fvisibility=hidden -shared ${PLUGIN_SOURCE}
    -o ${WORK}/hello.so)
run(${CXX} ${cflags} ${sanitize} ${HOST_SOURCE} ${libs} -Wl,-rpath,${moved}/lib
    -o ${WORK}/minimal_host)
run(${WORK}/minimal_host ${WORK}/hello.so)

# Builds the Debian package with scripts/package into WORK, extracts it with dpkg-deb -x into a
# fresh root, and builds and runs a host against that root through pkg-config and through
# CMake; the packaged kqcp command runs too.
foreach(var SOURCE WORK CXX HOST_SOURCE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not given")
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/../../support/run_step.cmake)

run(${SOURCE}/scripts/package ${WORK}/build)
string(REGEX MATCH "[^\n]*kqcp_[^\n]*\\.deb" package "${last_output}")
if(NOT EXISTS "${package}")
  message(FATAL_ERROR "no package named in: ${last_output}")
endif()

# The dependencies name the runtime libraries the library links.
run(dpkg-deb -f ${package} Depends)
foreach(dependency libexpat1 libsqlite3-0 libstdc\\+\\+6)
  if(NOT last_output MATCHES "${dependency}")
    message(FATAL_ERROR "Depends lacks ${dependency}: ${last_output}")
  endif()
endforeach()

set(root ${WORK}/root)
file(REMOVE_RECURSE ${root} ${WORK}/pkgconfig ${WORK}/cmake-host)
file(MAKE_DIRECTORY ${root} ${WORK}/pkgconfig)
run(dpkg-deb -x ${package} ${root})
file(GLOB pcdir ${root}/usr/lib/*/pkgconfig ${root}/usr/lib/pkgconfig)
if(NOT pcdir)
  message(FATAL_ERROR "the package holds no pkg-config file")
endif()
get_filename_component(libdir ${pcdir} DIRECTORY)

run(${root}/usr/bin/kqcp --help)
if(NOT last_output MATCHES "usage: kqcp list")
  message(FATAL_ERROR "the packaged kqcp printed no usage")
endif()
if(NOT EXISTS ${root}/usr/share/man/man1/kqcp.1.gz)
  message(FATAL_ERROR "the package holds no manual page")
endif()

# pkg-config alone.
execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pcdir}
    pkg-config --cflags --libs kqcp
  RESULT_VARIABLE failed OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
if(failed OR NOT flags MATCHES "${root}")
  message(FATAL_ERROR "pkg-config does not lead into the extracted root: ${flags}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} ${HOST_SOURCE} ${flags} -Wl,-rpath,${libdir} -o ${WORK}/pkgconfig/package_host)
run(${WORK}/pkgconfig/package_host)
if(NOT last_output MATCHES "package host passed")
  message(FATAL_ERROR "the pkg-config host failed")
endif()

# find_package(kqcp) alone.
set(HOST_SOURCE ${HOST_SOURCE})
configure_file(${CMAKE_CURRENT_LIST_DIR}/CMakeLists.txt.in ${WORK}/cmake-host/src/CMakeLists.txt
  @ONLY)
run(${CMAKE_COMMAND} -S ${WORK}/cmake-host/src -B ${WORK}/cmake-host/build
  -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${root}/usr -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_BUILD_RPATH=${libdir})
run(${CMAKE_COMMAND} --build ${WORK}/cmake-host/build)
run(${WORK}/cmake-host/build/package_host)
if(NOT last_output MATCHES "package host passed")
  message(FATAL_ERROR "the CMake host failed")
endif()
message("package test passed: built, extracted, and used through pkg-config and CMake")

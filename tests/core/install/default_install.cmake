# Installs the build with default options into a fresh PREFIX and checks what arrived: the
# library, its headers, the CMake package and the pkg-config file, and no plug-in list, plug-in
# or program.
foreach(var BUILD PREFIX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not given")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
  RESULT_VARIABLE installed OUTPUT_QUIET)
if(NOT installed EQUAL 0)
  message(FATAL_ERROR "installing failed")
endif()

set(missing "")
foreach(expected lib/libkqcp.so include/kqcp/kqcp.h include/kqcp/implements.h
    lib/cmake/kqcp/kqcpConfig.cmake lib/cmake/kqcp/KQCPPlugin.cmake lib/pkgconfig/kqcp.pc)
  if(NOT EXISTS ${PREFIX}/${expected})
    list(APPEND missing ${expected})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "missing from the install: ${missing}")
endif()

file(GLOB_RECURSE everything RELATIVE ${PREFIX} ${PREFIX}/*)
set(unwanted "")
foreach(file IN LISTS everything)
  if(file MATCHES "KQCP_PLUGIN\\.xml$" OR file MATCHES "^bin/"
     OR (file MATCHES "\\.so$" AND NOT file STREQUAL "lib/libkqcp.so"))
    list(APPEND unwanted ${file})
  elseif(NOT file MATCHES "^(lib/libkqcp\\.so|include/kqcp/.*\\.h|lib/cmake/kqcp/.*\\.cmake|lib/pkgconfig/kqcp\\.pc)$")
    list(APPEND unwanted ${file})
  endif()
endforeach()
if(unwanted)
  message(FATAL_ERROR "a default install must not carry: ${unwanted}")
endif()
message("default install holds the library, headers, CMake package and pkg-config file only")

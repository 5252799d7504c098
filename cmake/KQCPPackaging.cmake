# The Debian package: library, headers, CMake and pkg-config files, and the kqcp and
# kqcp-bridge commands with their manual pages. Built by scripts/package (cpack -G DEB) from a
# tree configured for /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kqcp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "KQCP developers")
set(CPACK_PACKAGE_CONTACT "KQCP developers <kqcp-dev@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "in-process component platform for C++ hosts")
set(CPACK_PACKAGE_DESCRIPTION
    "KQCP is a C++20 library that host applications load into their own\n"
    "process: a worker pool, an asynchronous I/O frame, share sessions between\n"
    "processes over shared memory, memory and SQLite caches, XML packages over\n"
    "Expat, plug-ins and a Lua host registry. This package holds the library,\n"
    "its headers, CMake and pkg-config files, the kqcp command that lists,\n"
    "watches and sweeps the calling user's platforms, and kqcp-bridge, which\n"
    "carries a platform's share sessions between machines over NATS (with a\n"
    "systemd user unit template).")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies from what the library and the command really link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The library lands in the linker's search path: the ldconfig trigger refreshes its cache.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_STRIP_FILES ON)
# The default install and the tools component (with the package's own documents).
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_BINARY_DIR};kqcp;Unspecified;/" "${PROJECT_BINARY_DIR};kqcp;tools;/")

set(KQCP_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kqcp)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright DESTINATION ${KQCP_DOC_DIR}
  COMPONENT tools EXCLUDE_FROM_ALL)
set(changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/cmake/debian/changelog > ${changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog VERBATIM)
add_custom_target(kqcp_changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${KQCP_DOC_DIR} COMPONENT tools EXCLUDE_FROM_ALL)
include(CPack)

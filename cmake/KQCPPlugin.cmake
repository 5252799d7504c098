# kqcp_add_plugin(<target> SOURCES ...): builds a plug-in library that the platform can load.
# The plug-in sees only the public headers and exports only "GetPluginObject"; the BSTR functions
# it calls resolve against libkqcp.so, which the host has already loaded.
# In the source tree the headers sit beside this folder; the installed package sets the path.
if(NOT DEFINED KQCP_PUBLIC_INCLUDE_DIR)
  set(KQCP_PUBLIC_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR}/../include)
endif()

function(kqcp_add_plugin target)
  cmake_parse_arguments(ARG "" "OUTPUT_DIRECTORY" "SOURCES" ${ARGN})
  add_library(${target} MODULE ${ARG_SOURCES})
  target_include_directories(${target} PRIVATE ${KQCP_PUBLIC_INCLUDE_DIR})
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(ARG_OUTPUT_DIRECTORY)
    set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIRECTORY})
  endif()
endfunction()

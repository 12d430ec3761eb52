# Both programs' --version shows the project's version, the one the packages carry.
# Called by CTest: cmake -DPELLUCOR=... -DHDBTOOL=... -DVERSION=... [-DEMULATOR=...] -P version_test.cmake
cmake_minimum_required(VERSION 3.25)

set(failures 0)
foreach(program IN ITEMS PELLUCOR HDBTOOL)
  string(TOLOWER ${program} name)
  execute_process(COMMAND ${EMULATOR} ${${program}} --version
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  string(REPLACE "\r" "" out "${out}")
  if(NOT rc EQUAL 0 OR NOT out STREQUAL "${name} ${VERSION}\n" OR NOT err STREQUAL "")
    message(SEND_ERROR "FAILED: ${name} --version gave ${rc}, '${out}' (standard error '${err}'), not '${name} ${VERSION}'")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} checks failed")
endif()

# Rebuilds a copy of the sample repository with the console program and lists the result with
# hdbtool: the listing must be the expected one, apart from what depends on the host (its name
# and addresses) and the order of the accounts (the order in which the system lists folders).
# Called by CTest: cmake -DPELLUCOR=... -DHDBTOOL=... -DSOURCE=... -DWORK=... [-DEMULATOR=...] -P ...
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/native_path.cmake)

# The account blocks below Client List as one sorted list, each block joined into one line.
function(normalise listing out)
  string(REGEX REPLACE "ServerNameOrURL[^\n]*" "ServerNameOrURL <host>" listing "${listing}")
  string(REGEX REPLACE "BindToIPList[^\n]*" "BindToIPList <addresses>" listing "${listing}")
  string(FIND "${listing}" "\n  Client List\n" at)
  if(at LESS 0)
    set(${out} "${listing}" PARENT_SCOPE)
    return()
  endif()
  math(EXPR tail_at "${at} + 15")
  string(SUBSTRING "${listing}" 0 ${tail_at} head)
  string(SUBSTRING "${listing}" ${tail_at} -1 tail)
  string(REPLACE "\n      " "|      " tail "${tail}")
  string(REGEX MATCHALL "[^\n]+" accounts "${tail}")
  list(SORT accounts)
  list(JOIN accounts "\n" tail)
  set(${out} "${head}${tail}\n" PARENT_SCOPE)
endfunction()

set(repo "${WORK}/repository")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(COPY "${SOURCE}/examples/repository/" DESTINATION "${repo}")
native_path("${repo}" repo_arg)
native_path("${repo}/UserConfig.hdb" database_arg)

# One user folder of the sample has no summary: the run completes with that loss (exit 3).
execute_process(COMMAND ${EMULATOR} ${PELLUCOR} --batch "${repo_arg}" OUTPUT_VARIABLE out ERROR_VARIABLE err
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 3 OR NOT err MATCHES "summary: 3 users imported, 1 entry without an account; there was no old database")
  message(FATAL_ERROR "pellucor --batch exited ${rc}:\n${out}\n${err}")
endif()
string(REPLACE "\r" "" out "${out}")
string(REGEX MATCHALL "Processing user ID [^\n]*" processed "${out}")
list(LENGTH processed processed_count)
string(REGEX MATCHALL "ERROR - Cannot open summary file [^\n]*0000000a[^\n]*UserSummary.rtf\" repair is incomplete\\."
       errors "${out}")
list(LENGTH errors error_count)
if(NOT processed_count EQUAL 4 OR NOT error_count EQUAL 1)
  message(FATAL_ERROR "expected four users and one unreadable summary, got:\n${out}")
endif()

file(SHA256 "${repo}/UserConfig.hdb" before)
execute_process(COMMAND ${EMULATOR} ${HDBTOOL} dump "${database_arg}" OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
file(SHA256 "${repo}/UserConfig.hdb" after)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "hdbtool dump exited ${rc}")
endif()
if(NOT before STREQUAL after)
  message(FATAL_ERROR "hdbtool dump changed the database")
endif()
string(REPLACE "\r" "" listing "${listing}")
normalise("${listing}" got)
file(READ "${SOURCE}/tests/cli/sample_repository.dump" expected)
normalise("${expected}" expected)
if(NOT got STREQUAL expected)
  message(FATAL_ERROR "the rebuilt database differs from the expected one.\nGot:\n${got}\nExpected:\n${expected}")
endif()
file(REMOVE_RECURSE "${WORK}")
message(STATUS "sample repository rebuilt as expected")

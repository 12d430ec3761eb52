# Runs hdbtool as a program: on the rebuilt sample repository (verify, stat, an export and import
# round trip), on a file that is not a database and on output that cannot be written; and the
# rebuild keeping the old database's accounts (pellucor --keep-from).
# Called by CTest: cmake -DPELLUCOR=... -DHDBTOOL=... -DSOURCE=... -DWORK=... [-DEMULATOR=...] -P ...
cmake_minimum_required(VERSION 3.25)

set(failures 0)
macro(check condition message)
  cmake_language(EVAL CODE "if(${condition})\n set(passed TRUE)\nelse()\n set(passed FALSE)\nendif()")
  if(NOT passed)
    message(SEND_ERROR "FAILED: ${message}")
    math(EXPR failures "${failures} + 1")
  endif()
endmacro()

include(${CMAKE_CURRENT_LIST_DIR}/native_path.cmake)

function(hdbtool)
  execute_process(COMMAND ${EMULATOR} ${HDBTOOL} ${ARGN} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  string(REPLACE "\r" "" out "${out}")
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
  set(rc "${rc}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(repo "${WORK}/repository")
file(COPY "${SOURCE}/examples/repository/" DESTINATION "${repo}")
native_path("${repo}" repo_arg)
# One user folder of the sample has no summary: the rebuild completes with that loss (exit 3).
execute_process(COMMAND ${EMULATOR} ${PELLUCOR} --batch "${repo_arg}" OUTPUT_QUIET ERROR_QUIET RESULT_VARIABLE rc)
check("rc EQUAL 3" "the sample repository is rebuilt")
native_path("${repo}/UserConfig.hdb" database)
file(SHA256 "${repo}/UserConfig.hdb" before)

hdbtool(--version)
check("rc EQUAL 0 AND out MATCHES \"^hdbtool [0-9]+\\\\.[0-9]+\\\\.[0-9]+\\n$\"" "--version (got: ${out})")
hdbtool(help salvage)
check("rc EQUAL 0 AND out MATCHES \"^Usage: hdbtool salvage\"" "help salvage")

hdbtool(verify "${database}")
string(FIND "${out}" ": sound (38 keys, 39 blocks)" at)
check("rc EQUAL 0 AND NOT at EQUAL -1" "the rebuilt sample verifies sound (got ${rc}: ${out})")
hdbtool(stat --json "${database}")
string(FIND "${out}" "\"keys\": 38, \"depth\": 5," at)
check("rc EQUAL 0 AND NOT at EQUAL -1" "stat --json counts 38 keys, 5 levels (got ${rc})")

# Export, import, export again: the same text; the source is never changed.
hdbtool(export "${database}")
check("rc EQUAL 0" "export exits 0 (${err})")
set(exported "${out}")
file(WRITE "${WORK}/sample.txt" "${exported}")
native_path("${WORK}/sample.txt" text)
native_path("${WORK}/copy.hdb" copy)
hdbtool(import "${text}" "${copy}")
check("rc EQUAL 0" "import exits 0 (${err})")
hdbtool(import "${text}" "${copy}")
check("rc EQUAL 2 AND err MATCHES \"exists; give --force to replace it\"" "import refuses an existing file (${err})")
hdbtool(export "${copy}")
check("out STREQUAL exported" "the imported database exports as the same text")
file(SHA256 "${repo}/UserConfig.hdb" after)
check("before STREQUAL after" "verify, stat and export leave the database unchanged")

hdbtool(dump "${database}")
check("rc EQUAL 0" "dump of the clean sample")

# The rebuild asked to keep what the database it replaces knew, and asked with a wrong name.
execute_process(COMMAND ${EMULATOR} ${PELLUCOR} --batch "${repo_arg}" --keep-from "${repo_arg}/nope.hdb"
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
check("rc EQUAL 2 AND out STREQUAL \"\" AND NOT EXISTS \"${repo}/UserConfig.hdb.old\"" "--keep-from a missing file changes nothing (${rc}: ${err})")
execute_process(COMMAND ${EMULATOR} ${PELLUCOR} --batch "${repo_arg}" --keep-from "${database}" OUTPUT_VARIABLE out RESULT_VARIABLE rc)
string(REPLACE "\r" "" out "${out}")
string(REGEX MATCHALL "Kept from the old database: Client List.[0-9a-f]+: Password, NeedToSynchronizeClient" kept "${out}")
list(LENGTH kept kept_count)
check("rc EQUAL 3 AND kept_count EQUAL 3" "--keep-from the database itself keeps the three accounts (${rc}: ${out})")
check("EXISTS \"${repo}/UserConfig.hdb.old\"" "the old database was set aside first")

if(NOT EMULATOR)
  # POSIX devices: output that cannot be written, and a file that reads as endless zeros.
  execute_process(COMMAND ${HDBTOOL} dump "${database}" OUTPUT_FILE /dev/full ERROR_VARIABLE err RESULT_VARIABLE rc)
  check("rc EQUAL 1 AND err MATCHES \"hdbtool: cannot write the output: No space left on device\"" "dump >/dev/full fails (${rc}: ${err})")
  execute_process(COMMAND ${HDBTOOL} export "${database}" OUTPUT_FILE /dev/full ERROR_VARIABLE err RESULT_VARIABLE rc)
  check("rc EQUAL 1 AND err MATCHES \"cannot write the output\"" "export >/dev/full fails (${rc}: ${err})")
  hdbtool(dump /dev/zero)
  string(FIND "${err}" "hdbtool: /dev/zero: not a database: it holds no database signature (its first 256 bytes are all zero)" at)
  check("rc EQUAL 1 AND NOT at EQUAL -1" "dump /dev/zero is refused (${rc}: ${err})")
endif()

file(REMOVE_RECURSE "${WORK}")
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} check(s) failed")
endif()
message(STATUS "all checks passed")

# Runs the console program on scratch repositories and checks what it prints and how it exits.
# Called by CTest: cmake -DPROGRAM=... -DWORK=... [-DEMULATOR=...] -P pellucor_cli_test.cmake
cmake_minimum_required(VERSION 3.25)

set(failures 0)
# check(CONDITION MESSAGE): CONDITION is if() syntax in one string.
macro(check condition message)
  cmake_language(EVAL CODE "if(${condition})\n set(passed TRUE)\nelse()\n set(passed FALSE)\nendif()")
  if(NOT passed)
    message(SEND_ERROR "FAILED: ${message}")
    math(EXPR failures "${failures} + 1")
  endif()
endmacro()

include(${CMAKE_CURRENT_LIST_DIR}/native_path.cmake)

function(run_pellucor)
  # Never the caller's terminal: without --batch the program would show its dialog on it.
  execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${ARGN} INPUT_FILE /dev/null
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  string(REPLACE "\r" "" out "${out}")
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
  set(rc "${rc}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

run_pellucor(--help)
check("rc EQUAL 0" "--help exits 0")
check("out MATCHES \"--batch .REPOSITORY.\" AND out MATCHES \"--where\"" "--help describes --batch and --where")
run_pellucor(--version)
check("rc EQUAL 0 AND out MATCHES \"^pellucor \"" "--version")

run_pellucor()
check("rc EQUAL 2 AND err MATCHES \"not a terminal\" AND out STREQUAL \"\""
      "no arguments and no terminal: the dialog refuses on stderr, exit 2")
run_pellucor(--frobnicate)
check("rc EQUAL 2 AND err MATCHES \"--frobnicate\"" "unknown option: exit 2, named on stderr")
run_pellucor(--where extra)
check("rc EQUAL 2 AND err MATCHES \"no arguments\"" "--where with an argument: exit 2")
run_pellucor(--batch one two)
check("rc EQUAL 2 AND err MATCHES \"at most one\"" "--batch with two repositories: exit 2")

# An old database and a taken .old: the old file moves to .old0 unchanged.
set(repo "${WORK}/repository")
file(MAKE_DIRECTORY "${repo}/users")
file(WRITE "${repo}/UserConfig.hdb" "the old database")
file(WRITE "${repo}/UserConfig.hdb.old" "an older one")
native_path("${repo}" repo_arg)
run_pellucor(--batch "${repo_arg}")
check("rc EQUAL 0" "batch run exits 0 (was ${rc}: ${err})")
check("out MATCHES \"Server UserConfig Data Restored: Database Restoration Complete\\n$\""
      "the final message is the last line (got: ${out})")
file(READ "${repo}/UserConfig.hdb.old0" moved)
check("moved STREQUAL \"the old database\"" "the old database is now UserConfig.hdb.old0")
file(READ "${repo}/UserConfig.hdb.old" older)
check("older STREQUAL \"an older one\"" "UserConfig.hdb.old is untouched")
check("EXISTS \"${repo}/UserConfig.hdb\"" "a new database was written")

# A repository under a missing folder: one status line, exit 1.
native_path("${WORK}/missing/repository" missing_arg)
run_pellucor(--batch "${missing_arg}")
check("rc EQUAL 1" "creation failure exits 1 (was ${rc})")
check("out STREQUAL \"Error creating database file, repair failed.\\n\""
      "creation failure prints only its status line (got: ${out})")

# A repository path whose database path would pass 259 characters is refused at start.
string(REPEAT "r" 250 long)
run_pellucor(--batch "${long}")
check("rc EQUAL 2 AND err MATCHES \"at most 259\"" "over-long repository path refused (got: ${err})")
string(REPEAT "c" 260 longer)
run_pellucor(--batch "${longer}")
check("rc EQUAL 2 AND err MATCHES \"260 characters\"" "a command-line text over 259 characters refused (got: ${err})")

file(REMOVE_RECURSE "${WORK}")
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} check(s) failed")
endif()
message(STATUS "all checks passed")

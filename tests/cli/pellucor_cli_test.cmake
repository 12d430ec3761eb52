# Runs the console program on scratch repositories and checks what it prints on each stream and
# how it exits. Called by CTest: cmake -DPROGRAM=... -DWORK=... [-DEMULATOR=...] -P pellucor_cli_test.cmake
cmake_minimum_required(VERSION 3.25)

set(failures 0)
# check(CONDITION MESSAGE): CONDITION is if() syntax in one string.
macro(check condition message)
  cmake_language(EVAL CODE "if(${condition})\n set(passed TRUE)\nelse()\n set(passed FALSE)\nendif()")
  if(NOT passed)
    message(SEND_ERROR "FAILED: ${message}\n  exit ${rc}\n  stdout: ${out}\n  stderr: ${err}")
    math(EXPR failures "${failures} + 1")
  endif()
endmacro()

include(${CMAKE_CURRENT_LIST_DIR}/native_path.cmake)

# Root passes every permission check of this host; the refusals a user meets are seen only
# without the override capabilities (the Wine runner drops them itself).
set(runner ${EMULATOR})
set(can_refuse TRUE)
if(NOT EMULATOR)
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(uid STREQUAL "0")
    set(drop setpriv --bounding-set=-dac_override,-dac_read_search,-fowner)
    execute_process(COMMAND ${drop} true RESULT_VARIABLE drop_rc)
    if(drop_rc EQUAL 0)
      set(runner ${drop} --)
    else()
      set(can_refuse FALSE)
    endif()
  endif()
endif()

# run_pellucor(ARGS...) in ${WORK}; sets out, err and rc. OUTPUT_FILE sends standard output there.
function(run_pellucor)
  cmake_parse_arguments(R "" "OUTPUT_FILE" "" ${ARGN})
  # Never the caller's terminal: without --batch the program would show its dialog on it.
  if(R_OUTPUT_FILE)
    execute_process(COMMAND ${runner} ${PROGRAM} ${R_UNPARSED_ARGUMENTS} WORKING_DIRECTORY ${WORK}
                    INPUT_FILE /dev/null OUTPUT_FILE ${R_OUTPUT_FILE} ERROR_VARIABLE err RESULT_VARIABLE rc)
    set(out "")
  else()
    execute_process(COMMAND ${runner} ${PROGRAM} ${R_UNPARSED_ARGUMENTS} WORKING_DIRECTORY ${WORK}
                    INPUT_FILE /dev/null OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  endif()
  string(REPLACE "\r" "" out "${out}")
  string(REPLACE "\r" "" err "${err}")
  # Paths on standard error come as the program was given them; compare with forward slashes.
  string(REPLACE "\\" "/" err "${err}")
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
  set(rc "${rc}" PARENT_SCOPE)
endfunction()

# A fresh repository folder under ${WORK}; `users` holds the given user folders, each with a
# summary naming its user unless the folder's name ends in "-nosummary".
function(make_repository name)
  set(repo "${WORK}/${name}")
  file(REMOVE_RECURSE "${repo}")
  file(MAKE_DIRECTORY "${repo}/users")
  foreach(user IN LISTS ARGN)
    file(MAKE_DIRECTORY "${repo}/users/${user}")
    if(NOT user MATCHES "-nosummary$")
      file(WRITE "${repo}/users/${user}/UserSummary.rtf" "{\\rtf1\\ansi\nUser Name: ${user}\\par\n}")
    endif()
  endforeach()
endfunction()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# ---- Arguments ---------------------------------------------------------------------------------

run_pellucor(--help)
check("rc EQUAL 0 AND out MATCHES \"--batch .REPOSITORY.\" AND out MATCHES \"--where\" AND out MATCHES \"default password\""
      "--help describes --batch and --where, and the default passwords")
check("out MATCHES \"\\n  3  the rebuild completed with losses\"" "--help lists the exit codes")
run_pellucor(-h)
check("rc EQUAL 0 AND out MATCHES \"^Usage: pellucor\"" "-h is help")
run_pellucor(--batch --help)
check("rc EQUAL 0 AND out MATCHES \"^Usage: pellucor\" AND NOT EXISTS \"${WORK}/--help\"" "--batch --help is help, not a folder")
run_pellucor(--batch repository --version)
check("rc EQUAL 0 AND out MATCHES \"^pellucor [0-9]\"" "--version anywhere")
if(EMULATOR)
  run_pellucor("/?")
  check("rc EQUAL 0 AND out MATCHES \"^Usage: pellucor\"" "/? is help on Windows")
endif()

run_pellucor()
check("rc EQUAL 2 AND err MATCHES \"not a terminal\" AND out STREQUAL \"\""
      "no arguments and no terminal: the dialog refuses on stderr, exit 2")
run_pellucor(somewhere)
check("rc EQUAL 2 AND err MATCHES \"not a terminal[^\n]*use --batch\"" "a lone path is the dialog's, which explains --batch")
run_pellucor(--frobnicate)
check("rc EQUAL 2 AND err MATCHES \"unknown option '--frobnicate'\"" "unknown option: exit 2, named on stderr")
run_pellucor(--where extra)
check("rc EQUAL 2 AND err MATCHES \"no arguments\"" "--where with an argument: exit 2")
run_pellucor(--batch one two)
check("rc EQUAL 2 AND err MATCHES \"at most one\"" "--batch with two repositories: exit 2")
run_pellucor(--keep-from x.hdb somewhere)
check("rc EQUAL 2 AND err MATCHES \"--keep-from goes with --batch\"" "--keep-from without --batch: exit 2")
run_pellucor(--batch -odd)
check("rc EQUAL 2 AND err MATCHES \"pellucor --batch -- -odd\" AND NOT EXISTS \"${WORK}/-odd\""
      "an option-looking repository is refused")
make_repository(-odd)
run_pellucor(--batch -- -odd)
check("rc EQUAL 0 AND EXISTS \"${WORK}/-odd/UserConfig.hdb\"" "after --, an option-looking name is a repository")
string(REPEAT "r" 250 long)
run_pellucor(--batch "${long}")
check("rc EQUAL 2 AND err MATCHES \"at most 259\"" "over-long repository path refused")
string(REPEAT "c" 260 longer)
run_pellucor(--batch "${longer}")
check("rc EQUAL 2 AND err MATCHES \"260 characters\"" "a command-line text over 259 characters refused")

# ---- Complete runs and runs with losses --------------------------------------------------------

# An old database and a taken .old: the old file moves to .old0 unchanged.
make_repository(repository 00000002 00000003)
set(repo "${WORK}/repository")
file(WRITE "${repo}/UserConfig.hdb" "the old database")
file(WRITE "${repo}/UserConfig.hdb.old" "an older one")
native_path("${repo}" repo_arg)
run_pellucor(--batch "${repo_arg}")
check("rc EQUAL 0" "complete batch run exits 0")
check("out MATCHES \"Server UserConfig Data Restored: Database Restoration Complete\\n$\""
      "the final message is the last line of standard output")
check("err MATCHES \"pellucor: summary: 2 users imported, 0 entries without an account; old database set aside as [^\\n]*repository/UserConfig.hdb.old0.\\n$\""
      "the summary ends standard error and says where the old database went")
check("err MATCHES \"built-in default password\"" "the administrator is told about the default passwords")
file(READ "${repo}/UserConfig.hdb.old0" moved)
check("moved STREQUAL \"the old database\"" "the old database is now UserConfig.hdb.old0")
file(READ "${repo}/UserConfig.hdb.old" older)
check("older STREQUAL \"an older one\"" "UserConfig.hdb.old is untouched")
check("NOT EXISTS \"${repo}/UserConfig.hdb.lock\"" "the lock file goes with the run")

make_repository(losses 00000002 00000003-nosummary)
native_path("${WORK}/losses" losses_arg)
run_pellucor(--batch "${losses_arg}")
check("rc EQUAL 3 AND err MATCHES \"no account for .00000003-nosummary.: its UserSummary.rtf cannot be opened\""
      "an unreadable summary: exit 3 and the entry named")
check("err MATCHES \"summary: 1 user imported, 1 entry without an account\"" "the summary counts the loss")

# A mistyped repository that exists: the database is written, and the missing users folder said.
file(MAKE_DIRECTORY "${WORK}/mistyped")
native_path("${WORK}/mistyped" mistyped_arg)
run_pellucor(--batch "${mistyped_arg}")
check("rc EQUAL 3 AND err MATCHES \"the users folder [^\\n]*mistyped/users. does not exist; no users were imported\""
      "a missing users folder: exit 3 and why nothing was imported")

if(can_refuse)
  make_repository(locked-users 00000002)
  file(CHMOD "${WORK}/locked-users/users" PERMISSIONS OWNER_WRITE)
  native_path("${WORK}/locked-users" locked_arg)
  run_pellucor(--batch "${locked_arg}")
  file(CHMOD "${WORK}/locked-users/users" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  check("rc EQUAL 3 AND err MATCHES \"the users folder [^\\n]*locked-users/users. cannot be read: access denied\""
        "an unreadable users folder: exit 3 and the reason")
endif()

# ---- Failures ----------------------------------------------------------------------------------

native_path("${WORK}/missing/repository" missing_arg)
run_pellucor(--batch "${missing_arg}")
check("rc EQUAL 1" "creation failure exits 1")
check("out STREQUAL \"Error creating database file, repair failed.\\n\"" "creation failure prints only its status line")
check("err MATCHES \"cannot create the new database [^\\n]*missing/repository/UserConfig.hdb.: a folder on the path does not exist\""
      "the path and the reason of a creation failure")
check("err MATCHES \"the repository folder [^\\n]*missing/repository. does not exist\"" "a missing repository is named")

file(WRITE "${WORK}/plain-file" "not a folder")
native_path("${WORK}/plain-file" file_arg)
run_pellucor(--batch "${file_arg}")
check("rc EQUAL 1 AND err MATCHES \"plain-file. is a file, not a folder\"" "a file given as the repository")

if(can_refuse)
  make_repository(read-only 00000002)
  file(CHMOD "${WORK}/read-only" PERMISSIONS OWNER_READ OWNER_EXECUTE)
  native_path("${WORK}/read-only" read_only_arg)
  run_pellucor(--batch "${read_only_arg}")
  check("rc EQUAL 1 AND err MATCHES \"cannot create the new database [^\\n]*read-only/UserConfig.hdb.: access denied\""
        "a read-only repository: exit 1, access denied")

  file(WRITE "${WORK}/read-only-old/UserConfig.hdb" "the old database")
  file(CHMOD "${WORK}/read-only-old" PERMISSIONS OWNER_READ OWNER_EXECUTE)
  native_path("${WORK}/read-only-old" read_only_old_arg)
  run_pellucor(--batch "${read_only_old_arg}")
  check("rc EQUAL 1 AND err MATCHES \"cannot move the old database [^\\n]*: access denied[^\\n]*nothing was changed\""
        "an old database that cannot be moved: exit 1, nothing changed")
  file(READ "${WORK}/read-only-old/UserConfig.hdb" kept)
  check("kept STREQUAL \"the old database\"" "the old database is left as it was")

  file(MAKE_DIRECTORY "${WORK}/no-access")
  file(CHMOD "${WORK}/no-access" PERMISSIONS OWNER_WRITE)
  native_path("${WORK}/no-access" no_access_arg)
  run_pellucor(--batch "${no_access_arg}")
  check("rc EQUAL 1 AND err MATCHES \"access denied\"" "a repository without access: exit 1, access denied")
  foreach(folder read-only read-only-old no-access)
    file(CHMOD "${WORK}/${folder}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  endforeach()
endif()

if(EMULATOR)
  # A name the Windows code page cannot hold reaches the program as "?".
  file(MAKE_DIRECTORY "${WORK}/中mega")
  native_path("${WORK}/中mega" cjk_arg)
  run_pellucor(--batch "${cjk_arg}")
  check("rc EQUAL 1 AND err MATCHES \"name is not valid\"" "a path Windows cannot encode: exit 1 and why")
endif()

# Standard output that cannot be written: the run completes and the exit code says so.
if(EXISTS /dev/full AND NOT EMULATOR)
  run_pellucor(--help OUTPUT_FILE /dev/full)
  check("rc EQUAL 4" "--help >/dev/full: exit 4")
  make_repository(full 00000002)
  native_path("${WORK}/full" full_arg)
  run_pellucor(--batch "${full_arg}" OUTPUT_FILE /dev/full)
  check("rc EQUAL 4 AND err MATCHES \"summary: 1 user imported, 0 entries without an account\""
        ">/dev/full: exit 4, the run complete")
endif()

file(REMOVE_RECURSE "${WORK}")
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} check(s) failed")
endif()
message(STATUS "all checks passed")

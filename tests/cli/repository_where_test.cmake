# The console program finds a repository installed in a Wine prefix: the uninstall entry written
# by Wine's own reg (/reg:32, as the server's 32-bit installer writes it), RepositoryConfig.ini
# written as a file. The Linux program reads the prefix's saved registry and prints host paths;
# the Windows program, run under Wine in the same prefix, prints Windows paths.
# Called by CTest: cmake -DPROGRAM=... -DSOURCE=... -DWORK=... [-DEMULATOR=...] -P ...
cmake_minimum_required(VERSION 3.25)

# check(CONDITION MESSAGE): CONDITION is if() syntax naming variables, not their values, since
# Windows paths hold backslashes; a function, so that MESSAGE is not read as code either.
set(failures 0)
function(check condition message)
  cmake_language(EVAL CODE "if(${condition})\n set(passed TRUE)\nelse()\n set(passed FALSE)\nendif()")
  if(NOT passed)
    message(SEND_ERROR "FAILED: ${message}")
    math(EXPR failures "${failures} + 1")
    set(failures ${failures} PARENT_SCOPE)
  endif()
endfunction()

find_program(WINE NAMES wine wine64 PATHS /usr/lib/wine)
find_program(WINESERVER NAMES wineserver wineserver64 PATHS /usr/lib/wine)
if(EMULATOR)
  set(wine_command ${EMULATOR})
else()
  set(wine_command ${WINE})
endif()
if(NOT wine_command OR NOT WINESERVER)
  message(STATUS "SKIPPED: wine is not installed, so no Wine prefix can hold an installation")
  return()
endif()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/drive-e")
set(prefix "${WORK}/prefix")
set(ENV{WINEPREFIX} "${prefix}")
set(ENV{WINEDEBUG} "-all")

set(entry "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Data Repository Manager")
set(installation "C:\\Program Files\\Vantrell\\Orvane Data Repository Manager")

function(wine_reg)
  execute_process(COMMAND ${wine_command} reg ${ARGN} /reg:32 RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  # The registry file is saved when the prefix's server ends.
  execute_process(COMMAND ${WINESERVER} -w)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "wine reg ${ARGN} failed (${rc})")
  endif()
endfunction()

function(run_pellucor)
  execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${ARGN} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  string(REPLACE "\r" "" out "${out}")
  string(REPLACE "\r" "" err "${err}")
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
  set(rc "${rc}" PARENT_SCOPE)
endfunction()

wine_reg(add "${entry}" /v UninstallString /t REG_SZ /d "${installation}\\uninst.exe" /f)
set(folder "${prefix}/drive_c/Program Files/Vantrell/Orvane Data Repository Manager")
file(MAKE_DIRECTORY "${folder}")
file(REAL_PATH "${folder}" folder)
file(CREATE_LINK "${WORK}/drive-e" "${prefix}/dosdevices/e:" SYMBOLIC)
file(REAL_PATH "${WORK}/drive-e" drive_e)

if(EMULATOR)
  set(data_folder "${installation}\\data")
  set(store "E:\\Store")
  set(default_path "c:\\program files\\vantrell\\Orvane Data Repository Manager\\data")
else()
  set(data_folder "${folder}/data")
  set(store "${drive_e}/Store")
  set(default_path "${folder}/data")  # the default path, in the case the disk has
endif()

# No RepositoryConfig.ini: the installation's data folder.
run_pellucor(--where)
check("rc EQUAL 0" "--where with an installation exits 0 (was ${rc}: ${err})")
set(expected "${data_folder}\n")
check("out STREQUAL expected" "--where prints the data folder (got: ${out})")
check("err MATCHES \"data folder\"" "--where says it took the data folder (got: ${err})")

# RepositoryConfig.ini names E:\Store\ on a drive of the prefix; the sample repository is there.
file(COPY "${SOURCE}/examples/repository/" DESTINATION "${WORK}/drive-e/Store")
file(WRITE "${folder}/RepositoryConfig.ini" "[Repository]\r\nPath=E:\\Store\\\r\n")
run_pellucor(--where)
check("rc EQUAL 0" "--where with RepositoryConfig.ini exits 0 (was ${rc}: ${err})")
set(expected "${store}\n")
check("out STREQUAL expected" "--where prints the configured path without its separator (got: ${out})")
check("err MATCHES \"RepositoryConfig.ini\"" "--where names the configuration file (got: ${err})")

# A batch run without a path rebuilds the repository found.
run_pellucor(--batch)
# The sample has one user folder without a summary: the run completes with that loss.
check("rc EQUAL 3" "--batch without a path completes with the sample's one loss (was ${rc}: ${err})")
check("out MATCHES \"Database Restoration Complete\"" "--batch without a path completes (got: ${out})")
set(database "${WORK}/drive-e/Store/UserConfig.hdb")
check("EXISTS \"\${database}\"" "the found repository got its database")

# Without the uninstall entry: the default path, exit 1.
wine_reg(delete "${entry}" /f)
run_pellucor(--where)
check("rc EQUAL 1" "--where without an installation exits 1 (was ${rc})")
set(expected "${default_path}\n")
check("out STREQUAL expected" "--where prints the default path (got: ${out})")
check("err MATCHES \"default path\"" "--where says it fell back (got: ${err})")

execute_process(COMMAND ${WINESERVER} -w)
file(REMOVE_RECURSE "${WORK}")
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} check(s) failed")
endif()
message(STATUS "all checks passed")

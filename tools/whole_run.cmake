# One whole run of a built program, as a test:
#   cmake -DPROGRAM=exe -DWORK=dir [-DRUNNER=cmd;args] [-DREFERENCE=exe]
#         [-DLOGCAT=exe] -P tools/whole_run.cmake
# Runs PROGRAM (through RUNNER, an emulator or Wine) with no arguments from
# an empty directory of its own under WORK. It must end with 0 and leave
# nothing there but today's weekday log, and that log must be byte for byte
# the one REFERENCE (the native program) leaves; with the result check in
# every run, that also says that the digits were right.
cmake_minimum_required(VERSION 3.25)

string(TIMESTAMP weekday "%w")
set(expected "log/Tavrex-${weekday}.log")

# run(DIR EXE [RUNNER...]): EXE copied into DIR and run there; fails the test
# unless it ends with 0 and leaves only the expected log.
function(run dir exe)
  get_filename_component(name ${exe} NAME)
  file(REMOVE_RECURSE ${dir})
  file(MAKE_DIRECTORY ${dir})
  file(COPY ${exe} DESTINATION ${dir})
  # Into a file, not a pipe: under Wine, services that the run starts may
  # hold a pipe open long after it.
  execute_process(COMMAND ${ARGN} ./${name} WORKING_DIRECTORY ${dir}
    RESULT_VARIABLE status OUTPUT_FILE ${dir}.out ERROR_FILE ${dir}.out)
  if(NOT status EQUAL 0)
    file(READ ${dir}.out said)
    message(FATAL_ERROR "${exe} ended with ${status}; it said:\n${said}")
  endif()
  file(GLOB_RECURSE left RELATIVE ${dir} LIST_DIRECTORIES false ${dir}/*)
  list(REMOVE_ITEM left ${name})
  if(NOT left STREQUAL expected)
    message(FATAL_ERROR "${exe} left [${left}] in its directory, expected [${expected}]")
  endif()
endfunction()

if(NOT EXISTS "${PROGRAM}")
  message(FATAL_ERROR "no program ${PROGRAM}")
endif()
if(REFERENCE AND NOT EXISTS "${REFERENCE}")
  message(FATAL_ERROR "the reference program ${REFERENCE} is not built: "
    "cmake --workflow --preset native builds and tests it")
endif()
run(${WORK}/run ${PROGRAM} ${RUNNER})
file(SIZE ${WORK}/run/${expected} bytes)
set(verdict "exit code 0, ${expected} (${bytes} bytes) and nothing else left")
if(REFERENCE)
  run(${WORK}/reference ${REFERENCE})
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
    ${WORK}/run/${expected} ${WORK}/reference/${expected} RESULT_VARIABLE differ)
  if(differ)
    if(LOGCAT)
      execute_process(COMMAND ${LOGCAT} ${WORK}/run/${expected} ${WORK}/reference/${expected})
    endif()
    message(FATAL_ERROR "the log differs from the reference run's (${REFERENCE})")
  endif()
  string(APPEND verdict "; the log is byte for byte the native run's")
endif()
file(REMOVE_RECURSE ${WORK})
message("${verdict}")

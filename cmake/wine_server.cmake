# cmake "-DWINE=cmd;args" -DWINESERVER=path -DACTION=start|stop -P cmake/wine_server.cmake
# Starts the Wine server of a build's prefix, with Wine's own services, to
# stay until it is stopped, so that the tests, a process each, neither start
# one each and load the prefix's registry again nor start the services
# (which would hold their output open to the end); or stops it and
# whatever still runs there. They get no pipe of CTest's to hold.
function(quietly)
  execute_process(COMMAND ${ARGN}
    INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null RESULT_VARIABLE status)
  set(status ${status} PARENT_SCOPE)
endfunction()
# WINE is the build's emulator: the environment first, the loader last.
list(POP_BACK WINE loader)
# A server left from the tests' discovery, which would not stay, goes
# first; stopping one that already ended is no failure.
quietly(${WINE} ${WINESERVER} -k)
if(ACTION STREQUAL "start")
  quietly(${WINE} ${WINESERVER} -p)
  if(status EQUAL 0)
    quietly(${WINE} ${loader} cmd.exe /c exit)
  endif()
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the Wine server or its services did not start: ${status}")
  endif()
endif()

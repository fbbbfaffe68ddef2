# A Windows build's programs run on a Linux build machine under Wine, in a
# prefix of the build's own (build/NAME/wine-prefix), which the target
# wine_prefix creates. Sets CMAKE_CROSSCOMPILING_EMULATOR to the command
# that runs a program there, and TAVREX_WINESERVER; or, where this machine
# cannot run them, leaves the emulator empty and says why in
# TAVREX_NOT_RUN.
set(TAVREX_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # A 32-bit prefix: booting it starts no 64-bit half.
  set(loader wine)
  set(arch WINEARCH=win32)
else()
  set(loader wine64)
  set(arch)
endif()
find_program(TAVREX_WINE_${loader} ${loader} PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(TAVREX_WINESERVER wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH)
set(TAVREX_NOT_RUN "")
if(NOT TAVREX_WINE_${loader} OR NOT TAVREX_WINESERVER)
  set(TAVREX_NOT_RUN "Wine's /usr/lib/wine/${loader} is not installed")
elseif(CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT TAVREX_RUNS_I386)
  set(TAVREX_NOT_RUN "32-bit Wine cannot run here: ${TAVREX_RUNS_I386_REASON}")
else()
  # No Mono or Gecko install prompts, no windows, no debugging chatter.
  set(TAVREX_WINE_ENV ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
    WINEPREFIX=${TAVREX_WINE_PREFIX} WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=" ${arch})
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVREX_WINE_ENV} ${TAVREX_WINE_${loader}})
  add_custom_command(OUTPUT ${TAVREX_WINE_PREFIX}/system.reg
    COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init
    COMMAND ${TAVREX_WINE_ENV} ${TAVREX_WINESERVER} -w
    COMMENT "Creating the Wine prefix ${TAVREX_WINE_PREFIX}"
    VERBATIM)
  add_custom_target(wine_prefix ALL DEPENDS ${TAVREX_WINE_PREFIX}/system.reg)
endif()
if(TAVREX_NOT_RUN)
  set(TAVREX_ROUTE "not run: ${TAVREX_NOT_RUN}" CACHE INTERNAL "")
else()
  set(TAVREX_ROUTE "run under Wine (${loader}) in ${TAVREX_WINE_PREFIX}" CACHE INTERNAL "")
endif()
# What runs a program of this build, for make run.
set(TAVREX_RUNNER "${CMAKE_CROSSCOMPILING_EMULATOR}" CACHE INTERNAL "")

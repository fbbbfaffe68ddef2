#!/usr/bin/env bash
# make run: builds the program, runs it once from a scratch directory with no
# arguments, and says what it did: exit code, wall time, and the log's
# records as plain text.
#   tools/run.sh          the native release build, in build/run
#   tools/run.sh win64    the x86-64 Windows build under Wine, in build/run-win64
#   tools/run.sh win32    the shipped 32-bit Windows program under 32-bit Wine,
#                         in build/run-win32
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

which=${1:-native}
case $which in
  native) exe_name=Tavrex rundir=$BUILD/run runner=() ;;
  win64 | win32) exe_name=Tavrex.exe rundir=$BUILD/run-$which ;;
  *) echo "usage: $0 [native|win64|win32]" >&2; exit 2 ;;
esac

echo "== building"
build release Tavrex tavrex-logcat || { echo "the release build failed"; exit 1; }
exe=$BUILD/release/$exe_name
if [ "$which" != native ]; then
  build "$which" Tavrex || { echo "the Windows build build/$which failed"; exit 1; }
  exe=$BUILD/$which/$exe_name
  if [ "$which" = win32 ] && ! runs_i386 win32; then
    echo "32-bit Wine cannot run here: $NO_I386"
    exit 1
  fi
  wine_prefix "$which" || { echo "the Wine prefix could not be created"; exit 1; }
  runner=("$WINE_LOADER")
fi

# A fresh directory each time: the log of an earlier run (perhaps on another
# weekday) must not be mistaken for this one's.
rm -rf "$rundir"
mkdir -p "$rundir"
cp "$exe" "$rundir/"

echo "== running ${rundir#"$ROOT"/}/$exe_name (no arguments, working directory ${rundir#"$ROOT"/})"
start=$(date +%s%N)
(cd "$rundir" && "${runner[@]}" "./$exe_name")
status=$?
end=$(date +%s%N)
[ "$which" != native ] && "$WINESERVER" -w

case $status in
  0) meaning="the computation ran to its end" ;;
  3) meaning="memory could not be had (work pool, FFT tables or filler buffer)" ;;
  *) if [ $status -gt 128 ]; then
       meaning="not a code of the program: killed by signal $((status - 128))"
     else
       meaning="not a code of the program"
     fi ;;
esac
elapsed=$(((end - start) / 1000000))
echo "Exit code: $status, $meaning"
printf 'Wall time: %d.%03d s\n' $((elapsed / 1000)) $((elapsed % 1000))

weekday=$(date +%w)
names=(Sunday Monday Tuesday Wednesday Thursday Friday Saturday)
mapfile -t logs < <(find "$rundir/log" -type f 2>/dev/null | sort)
problem=0
if [ ${#logs[@]} -eq 0 ]; then
  echo "Log: none was written in ${rundir#"$ROOT"/}/log"
  problem=1
else
  for log in "${logs[@]}"; do
    echo "Log: ${log#"$ROOT"/} (today is day $weekday, ${names[$weekday]})"
    (cd "$rundir" && "$BUILD/release/tavrex-logcat" "${log#"$rundir"/}") | sed 's/^/   /' ||
      problem=1
  done
  expected=$rundir/log/Tavrex-$weekday.log
  if [ ${#logs[@]} -ne 1 ] || [ "${logs[0]}" != "$expected" ]; then
    echo "Expected exactly one log file, ${expected#"$ROOT"/}"
    problem=1
  fi
fi
# The program removes its temporary files again; anything else left in the
# working directory is a leak.
left=$(find "$rundir" -mindepth 1 -maxdepth 1 ! -name "$exe_name" ! -name log -printf '%P ')
if [ -n "$left" ]; then
  echo "Left behind in the working directory: $left"
  problem=1
fi
if [ $status -ne 0 ] && [ $status -ne 3 ]; then problem=1; fi
exit $problem

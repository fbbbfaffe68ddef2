#!/usr/bin/env bash
# make run: builds the program, runs it once from a scratch directory with no
# arguments, and says what it did: exit code, wall time, and the log's
# records as plain text.
#   tools/run.sh          the release build alone (preset release), in build/run
#   tools/run.sh win64    the x86-64 Windows build under Wine, in build/run-win64
#   tools/run.sh win32    the shipped 32-bit Windows program under 32-bit Wine,
#                         in build/run-win32
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

which=${1:-native}
echo "== building"
build release Tavrex TavrexCores tavrex-logcat || exit 1
case $which in
  native) exe=build/release/Tavrex rundir=build/run RUNNER=() ;;
  win64 | win32)
    exe=build/$which/Tavrex.exe rundir=build/run-$which
    build "$which" Tavrex || exit 1
    runner "$which" || { echo "build/$which/Tavrex.exe is not run: $NOT_RUN"; exit 1; }
    build "$which" wine_prefix || exit 1 ;;
  *) echo "usage: $0 [native|win64|win32]" >&2; exit 2 ;;
esac
name=${exe##*/}

# A fresh directory each time: the log of an earlier run (perhaps on another
# weekday) must not be mistaken for this one's.
rm -rf "$rundir"
mkdir -p "$rundir"
cp "$exe" "$rundir/"

echo "== running $rundir/$name (no arguments, working directory $rundir)"
start=$(date +%s%N)
(cd "$rundir" && "${RUNNER[@]}" "./$name")
status=$?
end=$(date +%s%N)
[ "$which" != native ] && wine_done "$which"

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
  echo "Log: none was written in $rundir/log"
  problem=1
else
  for log in "${logs[@]}"; do
    echo "Log: $log (today is day $weekday, ${names[$weekday]})"
    (cd "$rundir" && "$ROOT/build/release/tavrex-logcat" "${log#"$rundir"/}") | sed 's/^/   /' ||
      problem=1
  done
  expected=$rundir/log/Tavrex-$weekday.log
  if [ ${#logs[@]} -ne 1 ] || [ "${logs[0]}" != "$expected" ]; then
    echo "Expected exactly one log file, $expected"
    problem=1
  fi
fi
# The program removes its temporary files again; anything else left in the
# working directory is a leak.
left=$(find "$rundir" -mindepth 1 -maxdepth 1 ! -name "$name" ! -name log -printf '%P ')
if [ -n "$left" ]; then
  echo "Left behind in the working directory: $left"
  problem=1
fi
if [ $status -ne 0 ] && [ $status -ne 3 ]; then problem=1; fi
exit $problem

#!/usr/bin/env bash
# make check: the workflow of every build that tests (CMakePresets.json:
# configure, build, then CTest), and valgrind's memcheck over the native
# build; goes on after a failure, so that one run shows everything.
#   tools/check.sh [native] [clang] [valgrind] [asan] [win64] [win32] [i686]   (all by default)
# Each build's CTest results go to build/junit/BUILD.xml; the last line sums
# them up: "make check: N passed, N failed, N skipped".
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
builds=("$@")
[ ${#builds[@]} -eq 0 ] && builds=(native clang valgrind asan win64 win32 i686)
start=$SECONDS
mkdir -p build/junit

for build in "${builds[@]}"; do
  began=$SECONDS log=build/$build.log results=build/junit/$build.xml
  rm -f "$results"
  echo "== $build"
  if [ "$build" = valgrind ]; then
    # Memcheck over the native build: every test but the whole computations
    # in process (minutes each there) and the oracle's, and one whole run
    # of the program; under valgrind's time limits, which the native
    # configuration gets back afterwards.
    cmake --preset native -DTAVREX_MEMCHECK=ON >"$log" 2>&1 && cmake --build --preset native >>"$log" 2>&1 &&
      ctest --test-dir build/native -T memcheck -L '^(quick|whole-run-program|whole-run-memcheck)$' \
        --output-on-failure >>"$log" 2>&1
    status=$?
    cmake --preset native >>"$log" 2>&1
    tag=$(head -n 1 build/native/Testing/TAG 2>/dev/null)
    analysis=build/native/Testing/$tag/DynamicAnalysis.xml
    [ -n "$tag" ] && [ -s "$analysis" ] && python3 tools/test_results.py "$analysis" "$results" >/dev/null
  else
    cmake --workflow --preset "$build" >"$log" 2>&1
    status=$?
  fi
  # What CMake found out about running the build's programs on this machine.
  route=$(cached "${build/valgrind/native}" TAVREX_ROUTE)
  [ -n "$route" ] && echo "   $route"
  if [ ! -s "$results" ]; then
    # Neither configured nor built, so nothing was tested: one failure.
    grep -E 'error|Error|FAILED|warning' "$log" | head -n 40 | sed 's/^/   | /'
    echo "   FAIL build/$build: configure or build failed (log: $log)"
    failed=$((failed + 1))
    continue
  fi
  # The output of the tests that failed, as CTest showed it.
  [ $status -ne 0 ] && grep -A 40 -E '^ *[0-9]+/[0-9]+ .*\*\*\*(Failed|Timeout|Exception)' "$log" |
    head -n 150 | sed 's/^/   | /'
  summary=$(python3 tools/test_results.py "$results")
  sed '$d' <<<"$summary" | sed 's/^/   /'
  read -r p f s <<<"$(tail -n 1 <<<"$summary")"
  passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
  echo "   $p passed, $f failed, $s skipped ($((SECONDS - began)) s; log: $log)"
  if [ $status -ne 0 ] && [ "$f" -eq 0 ]; then
    echo "   FAIL $build: CTest ended with $status"
    failed=$((failed + 1))
  fi
done

took=$((SECONDS - start))
echo "== took $((took / 60)) min $((took % 60)) s"
echo "make check: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]

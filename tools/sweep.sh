#!/usr/bin/env bash
# make sweep: the long reliability runs that make check only samples, from
# the optimised build of the suites (build/sweep):
#   - every platform call of a whole run failed in turn, and single faults
#     sampled through runs with part of the work pool held back; then every
#     call failed in turn again on the shipped 32-bit Windows build, under
#     32-bit Wine;
#   - the digits of pi that each held-back setting still gets right;
#   - the randomized arithmetic tests under many seeds.
# Each part prints its own summary; the last line reads "N passed, N failed".
#   tools/sweep.sh [faults] [faults-win32] [digits] [fuzz]   (all by default)
#   FUZZ_RUNS=n   seeds for the randomized tests (default 20)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

TESTS=$BUILD/sweep/tests/tavrex_tests
RUNNER=()  # what runs a test executable that the machine cannot start itself
MPFR_TESTS=$BUILD/sweep/tests/tavrex_mpfr_tests

# run LABEL EXE FILTER [ENV...]: one test executable in an empty directory
# that must stay empty; the sweep's own lines are shown.
run() {
  local label=$1 exe=$2 filter=$3
  shift 3
  local work=$BUILD/sweep-runs/$label log=$BUILD/sweep-runs/$label.log
  rm -rf "$work"
  mkdir -p "$work"
  local start=$SECONDS status
  (cd "$work" && env TAVREX_SWEEP=full "$@" ${RUNNER[@]+"${RUNNER[@]}"} "$exe" --gtest_color=no \
    --gtest_filter="$filter") >"$log" 2>&1
  status=$?
  grep -E '^\[ (sweep|digits|seed) ' "$log" | sed 's/^/   /'
  local left
  left=$(find "$work" -mindepth 1 -printf '%P ' 2>/dev/null)
  if [ $status -eq 0 ] && [ -z "$left" ]; then
    pass "$label ($((SECONDS - start)) s)"
  else
    grep -E 'Failure|FAILED|Google Test trace|replay' "$log" | head -n 40 | sed 's/^/   | /'
    if [ -n "$left" ]; then
      fail "$label: files left in the working directory: $left"
    else
      fail "$label: exit status $status (full output: ${log#"$ROOT"/})"
    fi
  fi
}

part_faults() {
  echo "== every call of a whole run failed in turn; sampled calls of held-back runs"
  run faults "$TESTS" 'FaultSweep.*'
}

# The Win32 backend and the 32-bit runtime meet every failure too; Wine
# passes the environment on to the suite.
part_faults_win32() {
  echo "== every call of a whole run failed in turn, on the 32-bit Windows build under Wine"
  build win32 tavrex_tests || { fail "the 32-bit Windows build failed"; return; }
  if ! runs_i386 win32; then
    skip "faults-win32: $NO_I386"
    return
  fi
  wine_prefix win32 || { fail "faults-win32: the Wine prefix could not be created"; return; }
  RUNNER=("$WINE_LOADER")
  run faults-win32 "$BUILD/win32/tests/tavrex_tests.exe" 'FaultSweep.StartUp*:FaultSweep.WholeRun*'
  RUNNER=()
  "$WINESERVER" -w
}

part_digits() {
  echo "== the whole run with 8 to 20 LargeBlocks (and some SmallBlocks) held back"
  run digits "$MPFR_TESTS" 'HeldBackPool.*'
}

part_fuzz() {
  local runs=${FUZZ_RUNS:-20} base i
  base=$(date +%s)
  echo "== the randomized arithmetic tests under $runs seeds from $base"
  for ((i = 0; i < runs; i++)); do
    run "fuzz-$((base + i))" "$MPFR_TESTS" '*Fuzz*' TAVREX_FUZZ_SEED=$((base + i))
  done
}

main() {
  local parts=("$@") start=$SECONDS
  [ ${#parts[@]} -eq 0 ] && parts=(faults faults-win32 digits fuzz)
  echo "== building (optimised, with the suites)"
  build sweep tavrex_tests tavrex_mpfr_tests || { echo "the build of the suites failed"; exit 1; }
  for part in "${parts[@]}"; do
    case $part in
      faults | faults-win32 | digits | fuzz) "part_${part//-/_}" ;;
      *) fail "unknown part $part" ;;
    esac
  done
  local took=$((SECONDS - start))
  echo "== took $((took / 60)) min $((took % 60)) s"
  echo "make sweep: $passed passed, $failed failed, $skipped skipped"
  [ "$failed" -eq 0 ]
}

main "$@"

#!/usr/bin/env bash
# make sweep: the long reliability runs that make check only samples, from
# the suites optimised as the program is (preset sweep):
#   - every platform call of a whole run failed in turn, and single faults
#     sampled through runs with part of the work pool held back; then every
#     call failed in turn again on the shipped 32-bit Windows build, under
#     32-bit Wine (preset win32);
#   - the digits of pi that each held-back setting still gets right;
#   - the randomized arithmetic tests under many seeds.
# Each part prints its own summary; the last line reads "N passed, N failed,
# N skipped".
#   tools/sweep.sh [faults] [faults-win32] [digits] [fuzz]   (all by default)
#   FUZZ_RUNS=n   seeds for the randomized tests (default 20)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

TESTS=$ROOT/build/sweep/tests/tavrex_tests
MPFR_TESTS=$ROOT/build/sweep/tests/tavrex_mpfr_tests
RUNNER=()

# run LABEL EXE FILTER [ENV...]: one test executable (through RUNNER), in a
# directory of its own; the sweep's own lines are shown.
run() {
  local label=$1 exe=$2 filter=$3
  shift 3
  local work=build/sweep-runs/$label log=build/sweep-runs/$label.log
  rm -rf "$work"
  mkdir -p "$work"
  local start=$SECONDS status
  (cd "$work" && env TAVREX_SWEEP=full "$@" "${RUNNER[@]}" "$exe" --gtest_color=no \
    --gtest_filter="$filter") >"$log" 2>&1
  status=$?
  grep -E '^\[ (sweep|digits|seed) ' "$log" | sed 's/^/   /'
  if [ $status -eq 0 ]; then
    pass "$label ($((SECONDS - start)) s)"
  else
    grep -E 'Failure|FAILED|Google Test trace|replay|left in its' "$log" | head -n 40 | sed 's/^/   | /'
    fail "$label: exit status $status (full output: $log)"
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
  build win32 tavrex_tests || { fail "faults-win32: the 32-bit Windows build failed"; return; }
  if ! runner win32; then
    skip "faults-win32: $NOT_RUN"
    return
  fi
  build win32 wine_prefix || { fail "faults-win32: no Wine prefix"; return; }
  run faults-win32 "$ROOT/build/win32/tests/tavrex_tests.exe" 'FaultSweep.StartUp*:FaultSweep.WholeRun*'
  RUNNER=()
  wine_done win32
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

parts=("$@")
start=$SECONDS
[ ${#parts[@]} -eq 0 ] && parts=(faults faults-win32 digits fuzz)
echo "== building (optimised, with the suites)"
build sweep || exit 1
for part in "${parts[@]}"; do
  case $part in
    faults | faults-win32 | digits | fuzz) "part_${part//-/_}" ;;
    *) fail "unknown part $part" ;;
  esac
done
took=$((SECONDS - start))
echo "== took $((took / 60)) min $((took % 60)) s"
echo "make sweep: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]

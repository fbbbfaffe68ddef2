#!/usr/bin/env bash
# make bench: the benchmarks of the 64-bit build and of the 32-bit x86 build,
# each beside FFTW of its own bitness, the whole program of each timed in
# turn, then one summary of both side by side, by tools/bench_summary.py
# from the JSON files the benchmarks write into build/bench-results. The
# 32-bit code runs directly, never emulated: where the static 32-bit probe
# of cmake/i386_probe.cmake finds that the kernel cannot execute it, a line
# says so and the 64-bit half stands alone. Options go to both benchmarks.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

ROUNDS=3  # runs of each whole program; the least CPU time counts

echo "== building build/bench and build/bench-i686"
build bench || { echo "the 64-bit benchmarks do not build"; exit 1; }
narrow=1 unable=
if ! build bench-i686; then
  unable="32-bit x86: the benchmarks do not build (they need g++-i686-linux-gnu and the i386 packages libfftw3-dev:i386 and libbenchmark-dev:i386); only the 64-bit benchmarks run"
  narrow=0
elif [ "$(cached bench-i686 TAVREX_RUNS_I386)" != ON ]; then
  unable="32-bit x86: $(cached bench-i686 TAVREX_RUNS_I386_REASON); only the 64-bit benchmarks run"
  narrow=0
fi
[ -n "$unable" ] && echo "$unable"

results=build/bench-results
rm -rf "$results"
mkdir -p "$results"

echo "== 64-bit x86-64"
build/bench/bench/tavrex_bench --benchmark_out="$results/64.json" --benchmark_out_format=json "$@" || exit 1
summary=("$results/64.json")
if [ $narrow -eq 1 ]; then
  echo "== 32-bit x86 (i686), executed directly"
  # A loader and a C library of two builds would hang or time something else.
  python3 tools/loader_check.py build/bench-i686/bench/tavrex_bench build/bench-i686/Tavrex |
    sed 's/^/   /' || exit 1
  build/bench-i686/bench/tavrex_bench --benchmark_out="$results/32.json" --benchmark_out_format=json "$@" || exit 1
  summary+=("$results/32.json")
fi

# program EXE: one run of the whole program from a scratch directory; prints
# its user + system CPU seconds and its largest resident size (KiB).
program() {
  local scratch status
  scratch=$(mktemp -d) || return 1
  (cd "$scratch" && /usr/bin/time -f '%U %S %M' -o "$scratch.time" "$1" >/dev/null 2>&1)
  status=$?
  rm -rf "$scratch"
  [ $status -eq 0 ] && awk '{ printf "%.3f %d\n", $1 + $2, $3 }' "$scratch.time"
  rm -f "$scratch.time"
  return $status
}

echo "== the whole programs, in turn, $ROUNDS runs each"
declare -A best=() peak=()
bitness=(64)
[ $narrow -eq 1 ] && bitness+=(32)
for ((round = 0; round < ROUNDS; round++)); do
  for bits in "${bitness[@]}"; do
    exe=$ROOT/build/bench/Tavrex
    [ "$bits" = 32 ] && exe=$ROOT/build/bench-i686/Tavrex
    read -r seconds kib < <(program "$exe") || { echo "the $bits-bit program failed"; exit 1; }
    echo "   $bits-bit: $seconds s CPU, $kib KiB"
    if [ -z "${best[$bits]:-}" ] || awk -v a="$seconds" -v b="${best[$bits]}" 'BEGIN { exit !(a < b) }'; then
      best[$bits]=$seconds
    fi
    [ "$kib" -gt "${peak[$bits]:-0}" ] && peak[$bits]=$kib
  done
done
for bits in "${bitness[@]}"; do
  summary+=(--program "$bits:${best[$bits]}:${peak[$bits]}")
done

python3 tools/bench_summary.py "${summary[@]}" || exit 1
[ -n "$unable" ] && echo "$unable"
exit 0

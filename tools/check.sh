#!/usr/bin/env bash
# make check: builds every configuration and runs every test.
#   tools/check.sh [native] [valgrind] [asan] [win64] [win32]   (all by default)
# Goes on after a failure so that one run shows everything; the last line
# reads "N passed, N failed" and the exit status is non-zero on any failure.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

cases=0

seconds_since() { echo $((SECONDS - $1)); }

# build_step NAME [TARGET...]: a build counts as one step; it fails on a
# compiler error and on any warning in the project's own code.
build_step() {
  local name=$1 start=$SECONDS
  if ! build "$@"; then
    fail "build/$name does not build"
    return 1
  fi
  local warnings
  warnings=$(own_warnings "$name" | wc -l)
  if [ "$warnings" -gt 0 ]; then
    fail "build/$name built with $warnings warning(s) in the project's code"
  else
    pass "build/$name built ($(seconds_since "$start") s)"
  fi
}

# run_suite LABEL SHARDS EXE [RUNNER...]: runs the tests of one executable,
# split among SHARDS processes side by side (GoogleTest's sharding, so that
# no core idles through the long whole-run tests), each in an empty
# directory that must stay empty.
run_suite() {
  local label=$1 shards=$2 exe=$3
  shift 3
  if [ ! -f "$exe" ]; then
    fail "$label: ${exe#"$ROOT"/} was not built"
    return
  fi
  local work=$BUILD/test-runs/$label log=$BUILD/test-runs/$label.log
  rm -rf "$work" "$log"
  local start=$SECONDS shard pids=() status=0
  for ((shard = 0; shard < shards; shard++)); do
    mkdir -p "$work/$shard"
    (cd "$work/$shard" && GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$shard \
      "$@" "$exe" --gtest_brief=1 --gtest_color=no) >"$work.$shard.log" 2>&1 &
    pids+=($!)
  done
  for ((shard = 0; shard < shards; shard++)); do
    wait "${pids[$shard]}" || status=$?
    cat "$work.$shard.log" >>"$log"
    rm -f "$work.$shard.log"
  done
  local count=0 passed_shards
  passed_shards=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log")
  for n in $passed_shards; do count=$((count + n)); done
  local left
  left=$(find "$work" -mindepth 2 -printf '%P ' 2>/dev/null)
  if [ $status -eq 0 ] && [ "$(wc -w <<<"$passed_shards")" -eq "$shards" ] &&
    [ -z "$left" ]; then
    cases=$((cases + count))
    pass "$label: $count tests ($(seconds_since "$start") s)"
  else
    grep -v '^\[==========\]\|^\[----------\]' "$log" | tail -n 60 | sed 's/^/   | /'
    if [ -n "$left" ]; then
      fail "$label: the tests left files in their working directory: $left"
    else
      fail "$label: exit status $status (full output: ${log#"$ROOT"/})"
    fi
  fi
}

native_suites() {
  local name=$1
  run_suite "$name" "$JOBS" "$BUILD/$name/tests/tavrex_tests"
  # The MPFR oracle suite exists once its first test file does.
  if find "$ROOT/tests" -name '*_mpfr_test.cpp' | grep -q .; then
    run_suite "$name-mpfr" "$JOBS" "$BUILD/$name/tests/tavrex_mpfr_tests"
  fi
}

stage_native() {
  echo "== native (optimised, with assertions)"
  build_step native && native_suites native
}

stage_asan() {
  echo "== native under AddressSanitizer and UndefinedBehaviorSanitizer"
  export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  build_step asan && native_suites asan
  unset ASAN_OPTIONS UBSAN_OPTIONS
}

# Memcheck over the native build: the suite without the tests that run the
# whole computation in-process (minutes each under memcheck; the programs
# that tests start run untraced), then one whole run of the program itself.
MEMCHECK=(valgrind --error-exitcode=99 --leak-check=full -q
          "--suppressions=$ROOT/tools/valgrind.supp")
WHOLE_RUNS='ComputePiTest.*:*/ComputePiFaultTest.*:FaultSweep.WholeRun*:FaultSweep.HeldBack*:*/ArithmeticFaultTest.*:SqrtUseHeronTest.*'

stage_valgrind() {
  echo "== native under valgrind's memcheck"
  build_step native || return
  # The whole run goes alongside the suite.
  local work=$BUILD/test-runs/valgrind-run log=$BUILD/test-runs/valgrind-run.log
  local start=$SECONDS status left pid
  rm -rf "$work"
  mkdir -p "$work"
  cp "$BUILD/native/Tavrex" "$work/"
  (cd "$work" && "${MEMCHECK[@]}" ./Tavrex) >"$log" 2>&1 &
  pid=$!
  run_suite valgrind "$JOBS" "$BUILD/native/tests/tavrex_tests" \
    env "GTEST_FILTER=-$WHOLE_RUNS" "${MEMCHECK[@]}"
  wait "$pid"
  status=$?
  left=$(find "$work" -mindepth 1 -maxdepth 1 ! -name Tavrex ! -name log -printf '%P ')
  if [ $status -eq 0 ] && [ ! -s "$log" ] && [ -z "$left" ]; then
    pass "valgrind: one whole run of the program, exit code 0, no errors ($(seconds_since "$start") s)"
  else
    sed 's/^/   | /' "$log" | tail -n 40
    fail "valgrind: the whole run ended with $status (99: memcheck errors)${left:+, left $left}"
  fi
  rm -rf "$work"
}

# The checker runs on the build machine; it comes from the native build.
inspector() {
  build native tavrex-pe-inspect >/dev/null 2>&1
  echo "$BUILD/native/tavrex-pe-inspect"
}

# inspect_image LABEL TARGET EXE: the version record and manifest are in.
inspect_image() {
  local label=$1 target=$2 exe=$3 tool output
  tool=$(inspector)
  if output=$("$tool" --target "$target" "$exe" 2>&1); then
    pass "$label: $(tail -n 1 <<<"$output" | sed "s|^$ROOT/||")"
  else
    sed 's/^/   | /' <<<"$output"
    fail "$label: ${exe#"$ROOT"/} is not the expected executable"
  fi
}

stage_win64() {
  echo "== Windows x86-64 (MinGW-w64, tests under Wine)"
  build_step win64 || return
  inspect_image "win64 image" x86_64 "$BUILD/win64/Tavrex.exe"
  local start=$SECONDS
  if ! wine_prefix; then
    tail -n 20 "$BUILD/win64/wineboot.log" | sed 's/^/   | /'
    fail "the Wine prefix could not be created"
    return
  fi
  echo "   Wine prefix ready in ${WINEPREFIX#"$ROOT"/} ($(seconds_since "$start") s)"
  # Under Wine the suite runs as one process.
  run_suite win64 1 "$BUILD/win64/tests/tavrex_tests.exe" "$WINE"
  "$WINESERVER" -w
}

# No x87 arithmetic in the 32-bit build's own objects: all of it must be
# SSE2, rounded to double at every step. Loads and stores through st(0)
# stay, since the 32-bit calling convention returns a double there, and so
# do the exact conversions to and from 64-bit integers (fild, fistp), for
# which SSE2 has no 32-bit instruction.
# mnemonics OBJECT...: "object mnemonic" for every instruction.
mnemonics() {
  local object
  for object in "$@"; do
    i686-w64-mingw32-objdump -d --no-show-raw-insn "$object" |
      awk -F'\t' -v name="${object##*CMakeFiles/}" \
        '/^ *[0-9a-f]+:\t/ { split($2, word, " "); print name, word[1] }'
  done
}

x87_arithmetic() {
  awk '$2 ~ /^f(i?(add|sub|subr|mul|div|divr)|sqrt|prem1?|sin|cos|sincos|ptan|patan|yl2x|yl2xp1|2xm1|scale|rndint|xtract|chs|abs|i?com|ucom|comi|ucomi|tst|xam)[lspt]*$/' |
    sort | uniq -c
}

check_sse2() {
  local objects=() fft=()
  mapfile -t objects < <(find "$BUILD/win32/CMakeFiles/tavrex_core.dir" -name '*.obj' | sort)
  mapfile -t fft < <(printf '%s\n' "${objects[@]}" | grep '/fft/')
  if [ ${#fft[@]} -eq 0 ]; then
    fail "SSE2 math: no fft objects in build/win32"
    return
  fi
  # Control: the scan must see x87 arithmetic where there is some.
  local probe=$BUILD/win32/x87-probe
  echo 'double Scale(double a, double b) { return a * b + 1.0; }' >"$probe.cpp"
  if ! i686-w64-mingw32-g++-posix -O2 -mfpmath=387 -c "$probe.cpp" -o "$probe.obj" ||
    [ -z "$(mnemonics "$probe.obj" | x87_arithmetic)" ]; then
    fail "SSE2 math: the scan does not see the x87 arithmetic of a probe compiled for x87"
    return
  fi
  local x87 sse2
  x87=$(mnemonics "${objects[@]}" | x87_arithmetic)
  sse2=$(mnemonics "${fft[@]}" | grep -cE ' (add|sub|mul|div|sqrt)[sp]d$')
  if [ -n "$x87" ]; then
    sed 's/^/   | /' <<<"$x87"
    fail "SSE2 math: x87 arithmetic in the 32-bit build's own code"
  elif [ "$sse2" -eq 0 ]; then
    fail "SSE2 math: no SSE2 double arithmetic in the fft objects"
  else
    pass "SSE2 math: no x87 arithmetic in ${#objects[@]} objects; $sse2 SSE2 double operations in fft"
  fi
}

stage_win32() {
  echo "== Windows i686, the shipped program (built and inspected, not run)"
  build_step win32 || return
  inspect_image "win32 image" i686 "$BUILD/win32/Tavrex.exe"
  # The checker must refuse a file that lacks the resources.
  local control=$BUILD/win32/tests/tavrex_tests.exe
  if [ ! -f "$control" ]; then
    fail "checker control: ${control#"$ROOT"/} was not built"
  elif "$(inspector)" --target i686 "$control" >/dev/null 2>&1; then
    fail "checker control: the checker accepted ${control#"$ROOT"/}, which has no version record"
  else
    pass "checker control: the checker rejects tavrex_tests.exe (no version record, no manifest)"
  fi
  check_sse2
}

main() {
  local stages=("$@") start=$SECONDS
  [ ${#stages[@]} -eq 0 ] && stages=(native valgrind asan win64 win32)
  for stage in "${stages[@]}"; do
    case $stage in
      native | valgrind | asan | win64 | win32) "stage_$stage" ;;
      *) fail "unknown stage $stage" ;;
    esac
  done
  local took=$(seconds_since "$start")
  echo "== $cases test cases passed in all suites; took $((took / 60)) min $((took % 60)) s"
  echo "make check: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

main "$@"

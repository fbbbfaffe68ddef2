#!/usr/bin/env bash
# make check: builds every configuration and runs every test.
#   tools/check.sh [native] [valgrind] [asan] [win64] [win32] [i686]   (all by default)
# Goes on after a failure so that one run shows everything; the last line
# reads "N passed, N failed, N skipped" and the exit status is non-zero on
# any failure.
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
  build_step native && check_fused native objdump && native_suites native
  check_contraction
  check_release_alone
}

# make run's build needs nothing that only the tests, the benchmarks or the
# Windows builds use: it configures and builds with the system's libraries
# out of CMake's sight and no GoogleTest sources. The control: the same
# build with its tests must then fail for want of MPFR.
check_release_alone() {
  local dir=$BUILD/release-alone log=$BUILD/release-alone.log start=$SECONDS
  local multiarch hidden
  multiarch=$(gcc -print-multiarch)
  hidden=(-Wno-dev "-DCMAKE_IGNORE_PREFIX_PATH=/usr;/usr/local"
          "-DCMAKE_IGNORE_PATH=/usr/lib/$multiarch;/usr/lib;/usr/local/lib;/lib/$multiarch;/lib"
          "-DCMAKE_C_COMPILER=$(command -v gcc)" "-DCMAKE_CXX_COMPILER=$(command -v g++)")
  [ "${GENERATOR[1]}" = Ninja ] && hidden+=("-DCMAKE_MAKE_PROGRAM=$(command -v ninja)")
  build_options release
  rm -rf "$dir" "$dir-control"
  if cmake -S "$ROOT" -B "$dir-control" "${GENERATOR[@]}" "${hidden[@]}" \
      "${OPTIONS[@]}" -DTAVREX_TESTS=ON >"$log" 2>&1 ||
    ! grep -q 'Could not find MPFR_LIBRARY' "$log"; then
    fail "release alone: with the libraries hidden, the suites still found MPFR (control)"
  elif cmake -S "$ROOT" -B "$dir" "${GENERATOR[@]}" "${hidden[@]}" "${OPTIONS[@]}" \
      -DGTEST_SOURCE_DIR=/nonexistent >"$log" 2>&1 &&
    cmake --build "$dir" -j "$JOBS" --target Tavrex tavrex-logcat >>"$log" 2>&1; then
    pass "release alone: make run's build needs no test-only package ($(seconds_since "$start") s)"
  else
    tail -n 30 "$log" | sed 's/^/   | /'
    fail "release alone: make run's build needs what only the tests have"
  fi
  rm -rf "$dir" "$dir-control"
}

stage_asan() {
  echo "== native under AddressSanitizer and UndefinedBehaviorSanitizer"
  export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  build_step asan && check_fused asan objdump && native_suites asan
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

# The checker runs on the build machine, under Debian's Python, which has
# pefile.
inspector() { /usr/bin/python3 "$ROOT/tools/pe_inspect.py" "$@"; }

# inspect_image LABEL TARGET EXE: the version record and manifest are in.
inspect_image() {
  local label=$1 target=$2 exe=$3 output
  if output=$(inspector --target "$target" "$exe" 2>&1); then
    pass "$label: $(tail -n 1 <<<"$output" | sed "s|^$ROOT/||")"
  else
    sed 's/^/   | /' <<<"$output"
    fail "$label: ${exe#"$ROOT"/} is not the expected executable"
  fi
}

stage_win64() {
  echo "== Windows x86-64 (MinGW-w64, tests under Wine)"
  build_step win64 || return
  check_fused win64 x86_64-w64-mingw32-objdump
  inspect_image "win64 image" x86_64 "$BUILD/win64/Tavrex.exe"
  wine_stage win64
}

# wine_stage NAME: in build/NAME's own Wine prefix, the suite, then one
# whole run of the program, whose log must be the native run's.
wine_stage() {
  local name=$1 start=$SECONDS
  if ! wine_prefix "$name"; then
    tail -n 20 "$BUILD/$name/wineboot.log" | sed 's/^/   | /'
    fail "$name: the Wine prefix could not be created"
    return
  fi
  echo "   Wine prefix ready in ${WINEPREFIX#"$ROOT"/} ($(seconds_since "$start") s)"
  # Under Wine the suite runs as one process.
  run_suite "$name" 1 "$BUILD/$name/tests/tavrex_tests.exe" "$WINE_LOADER"
  whole_run "$name" "$BUILD/$name/Tavrex.exe" "$WINE_LOADER"
  "$WINESERVER" -w
}

# No x87 arithmetic in the 32-bit build's own objects: all of it must be
# SSE2, rounded to double at every step. Loads and stores through st(0)
# stay, since the 32-bit calling convention returns a double there, and so
# do the exact conversions to and from 64-bit integers (fild, fistp), for
# which SSE2 has no 32-bit instruction.
# mnemonics OBJECT...: "object mnemonic" for every instruction, as $OBJDUMP
# (the 32-bit Windows one unless set) disassembles it.
mnemonics() {
  local object
  for object in "$@"; do
    "${OBJDUMP:-i686-w64-mingw32-objdump}" -d --no-show-raw-insn "$object" |
      awk -F'\t' -v name="${object##*CMakeFiles/}" \
        '/^ *[0-9a-f]+:\t/ { split($2, word, " "); print name, word[1] }'
  done
}

x87_arithmetic() {
  awk '$2 ~ /^f(i?(add|sub|subr|mul|div|divr)|sqrt|prem1?|sin|cos|sincos|ptan|patan|yl2x|yl2xp1|2xm1|scale|rndint|xtract|chs|abs|i?com|ucom|comi|ucomi|tst|xam)[lspt]*$/' |
    sort | uniq -c
}

# check_sse2 NAME OBJDUMP COMPILER: the objects of build/NAME, a 32-bit
# build, with a probe compiled for x87 by COMPILER as the control.
check_sse2() {
  local name=$1 objects=() fft=() OBJDUMP=$2
  mapfile -t objects < <(find "$BUILD/$name/CMakeFiles/tavrex_core.dir" \
    \( -name '*.o' -o -name '*.obj' \) | sort)
  mapfile -t fft < <(printf '%s\n' "${objects[@]}" | grep '/fft/')
  if [ ${#fft[@]} -eq 0 ]; then
    fail "SSE2 math: no fft objects in build/$name"
    return
  fi
  # Control: the scan must see x87 arithmetic where there is some.
  local probe=$BUILD/$name/x87-probe
  echo 'double Scale(double a, double b) { return a * b + 1.0; }' >"$probe.cpp"
  if ! "$3" -O2 -mfpmath=387 -c "$probe.cpp" -o "$probe.o" ||
    [ -z "$(mnemonics "$probe.o" | x87_arithmetic)" ]; then
    fail "SSE2 math: the scan does not see the x87 arithmetic of a probe compiled for x87"
    return
  fi
  local x87 sse2
  x87=$(mnemonics "${objects[@]}" | x87_arithmetic)
  sse2=$(mnemonics "${fft[@]}" | grep -cE ' (add|sub|mul|div|sqrt)[sp]d$')
  if [ -n "$x87" ]; then
    sed 's/^/   | /' <<<"$x87"
    fail "SSE2 math: x87 arithmetic in the own code of build/$name"
  elif [ "$sse2" -eq 0 ]; then
    fail "SSE2 math: no SSE2 double arithmetic in the fft objects of build/$name"
  else
    pass "SSE2 math in build/$name: no x87 arithmetic in ${#objects[@]} objects; $sse2 SSE2 double operations in fft"
  fi
}

# A fused multiply-add rounds once where the FFT's bit-identical digits need
# two roundings: none may appear in its objects, in any build.
fused_ops() {
  awk '$2 ~ /^vf(n?m(add|sub)|maddsub|msubadd)/' | sort | uniq -c
}

# check_fused NAME OBJDUMP: the FFT objects of build/NAME.
check_fused() {
  local name=$1 objects=() found
  mapfile -t objects < <(find "$BUILD/$name/CMakeFiles/tavrex_core.dir" -path '*/fft/*' \
    \( -name '*.o' -o -name '*.obj' \) | sort)
  if [ ${#objects[@]} -eq 0 ]; then
    fail "fused multiply-add: no fft objects in build/$name"
    return
  fi
  found=$(OBJDUMP=$2 mnemonics "${objects[@]}" | fused_ops)
  if [ -n "$found" ]; then
    sed 's/^/   | /' <<<"$found"
    fail "fused multiply-add in the fft objects of build/$name"
  else
    pass "no fused multiply-add in the ${#objects[@]} fft objects of build/$name"
  fi
}

# The FFT's sources forbid contraction themselves, whatever the build asks:
# compiled for a processor with FMA and with contraction on, they hold no
# fused multiply-add, where a probe compiled so does (the control).
check_contraction() {
  local dir=$BUILD/contraction source found
  local flags=(-std=c++20 -O2 -march=x86-64-v4 -ffp-contract=fast -I "$ROOT")
  rm -rf "$dir"
  mkdir -p "$dir"
  echo 'double Scale(double a, double b) { return a * b + 1.0; }' >"$dir/probe.cpp"
  if ! g++ "${flags[@]}" -c "$dir/probe.cpp" -o "$dir/probe.o" ||
    [ -z "$(OBJDUMP=objdump mnemonics "$dir/probe.o" | fused_ops)" ]; then
    fail "contraction: the scan does not see the fused multiply-add of a probe"
    return
  fi
  for source in "$ROOT"/fft/*.cpp; do
    if ! g++ "${flags[@]}" -c "$source" -o "$dir/$(basename "$source" .cpp).o"; then
      fail "contraction: ${source#"$ROOT"/} does not compile with ${flags[*]}"
      return
    fi
  done
  found=$(OBJDUMP=objdump mnemonics "$dir"/*.o | grep -v '^[^ ]*probe.o ' | fused_ops)
  if [ -n "$found" ]; then
    sed 's/^/   | /' <<<"$found"
    fail "contraction: the fft sources compiled with -ffp-contract=fast hold fused multiply-adds"
  else
    pass "contraction: the fft sources hold no fused multiply-add even with -ffp-contract=fast -march=x86-64-v4"
  fi
  rm -rf "$dir"
}

# reject LABEL TARGET EXE EXPECTED...: the checker must refuse EXE and name
# each EXPECTED problem.
reject() {
  local label=$1 target=$2 exe=$3 output status expected missed=()
  shift 3
  if [ ! -f "$exe" ]; then
    fail "checker control $label: ${exe#"$ROOT"/} was not built"
    return
  fi
  output=$(inspector --target "$target" "$exe" 2>&1)
  status=$?
  for expected in "$@"; do
    grep -qF -- "PROBLEM: $expected" <<<"$output" || missed+=("$expected")
  done
  if [ $status -ne 1 ] || [ ${#missed[@]} -gt 0 ]; then
    sed 's/^/   | /' <<<"$output"
    fail "checker control $label: exit status $status; not reported:$(printf ' [%s]' "${missed[@]}")"
  else
    pass "checker control $label: rejected, with the $# expected problems"
  fi
}

# Each kind of check must be able to fail, or the checker's pass proves
# nothing.
checker_controls() {
  reject "tavrex_tests.exe" i686 "$BUILD/win32/tests/tavrex_tests.exe" \
    "0 version resources" "0 manifest resources"
  reject "Tavrex.exe as x86-64" x86_64 "$BUILD/win32/Tavrex.exe" \
    "optional header magic is 0x10b" "machine is 0x14c"
  # Probes that get the rest wrong: GUI programs on the compiler's DLLs,
  # whose version record and manifest differ in every field that is read.
  local probe=$BUILD/win32/pe-probe table
  mkdir -p "$probe"
  printf '#include <iostream>\nint main() { std::cout << "probe"; }\n' >"$probe/probe.cpp"
  cat >"$probe/probe.manifest" <<'XML'
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <!-- <requestedExecutionLevel level="asInvoker"/> -->
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security><requestedPrivileges>
    <requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>
  </requestedPrivileges></security></trustInfo>
</assembly>
XML
  rm -f "$probe"/*.exe
  for table in 080404b0 040904b0; do
    cat >"$probe/$table.rc" <<RC
#include <winver.h>
1 24 "$probe/probe.manifest"
VS_VERSION_INFO VERSIONINFO
 FILEVERSION 1,0,0,4
 PRODUCTVERSION 1,0,0,6
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "$table"
    BEGIN
      VALUE "FileVersion", "1, 0, 0, 4"
      VALUE "InternalName", "tavrex"
      VALUE "OriginalFilename", "Tavrex"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
RC
    i686-w64-mingw32-windres "$probe/$table.rc" -O coff -o "$probe/$table.res" &&
      i686-w64-mingw32-g++-posix -mwindows "$probe/probe.cpp" "$probe/$table.res" -o "$probe/$table.exe"
  done 2>&1 | sed 's/^/   | /'
  reject "probe" i686 "$probe/080404b0.exe" "subsystem is 2" "imports libstdc++-6.dll" \
    "fixed file version is 1.0.0.4" "fixed product version is 1.0.0.6" \
    'version string FileVersion is "1, 0, 0, 4"' "version string ProductVersion missing" \
    'version string InternalName is "tavrex"' 'version string OriginalFilename is "Tavrex"' \
    "translation 0x0804 0x04b0 missing" "manifest requests execution level requireAdministrator"
  reject "probe with another string table" i686 "$probe/040904b0.exe" \
    'no string table "080404b0" (found: 040904b0)'
}

stage_win32() {
  echo "== Windows i686, the shipped program (built, inspected and run under 32-bit Wine)"
  build_step win32 || return
  inspect_image "win32 image" i686 "$BUILD/win32/Tavrex.exe"
  checker_controls
  check_sse2 win32 i686-w64-mingw32-objdump i686-w64-mingw32-g++-posix
  check_fused win32 i686-w64-mingw32-objdump
  if runs_i386 win32; then
    wine_stage win32
  else
    skip "win32 suite and whole run under 32-bit Wine: $NO_I386"
  fi
}

# native_log: one run of the native program, whose log every other build's
# whole run must match byte for byte; its directory goes into NATIVE_RUN.
native_log() {
  NATIVE_RUN=$BUILD/test-runs/native-run
  [ -d "$NATIVE_RUN/log" ] && return 0
  build native Tavrex tavrex-logcat >/dev/null 2>&1 || return 1
  rm -rf "$NATIVE_RUN"
  mkdir -p "$NATIVE_RUN"
  cp "$BUILD/native/Tavrex" "$NATIVE_RUN/"
  (cd "$NATIVE_RUN" && ./Tavrex) >/dev/null 2>&1
}

# whole_run LABEL EXE [RUNNER...]: the program once, from a directory of its
# own; it must end with 0, leave nothing but its log, and the log must be
# the native run's, byte for byte (with the result check in every run, that
# also says its digits were right). Returns non-zero when it fails.
whole_run() {
  local label=$1 exe=$2
  shift 2
  local work=$BUILD/test-runs/$label-run start=$SECONDS status result=1
  if ! native_log; then
    fail "$label run: the native program, the reference, does not build"
    return 1
  fi
  rm -rf "$work"
  mkdir -p "$work"
  cp "$exe" "$work/"
  (cd "$work" && "$@" "./${exe##*/}") >"$work.log" 2>&1
  status=$?
  local logs=() native=()
  mapfile -t logs < <(cd "$work" && find . -type f ! -name "${exe##*/}" | sort)
  mapfile -t native < <(cd "$NATIVE_RUN" && find . -type f ! -name Tavrex | sort)
  if [ $status -ne 0 ]; then
    sed 's/^/   | /' "$work.log" | tail -n 20
    fail "$label run: the program ended with $status"
  elif [ ${#logs[@]} -ne 1 ] || [ "${logs[*]}" != "${native[*]}" ]; then
    fail "$label run: it left ${logs[*]:-nothing}, the native run ${native[*]:-nothing}"
  elif ! cmp -s "$work/${logs[0]}" "$NATIVE_RUN/${native[0]}"; then
    "$BUILD/native/tavrex-logcat" "$work/${logs[0]}" 2>&1 | sed 's/^/   | /'
    fail "$label run: its log differs from the native run's"
  else
    pass "$label run: exit code 0, ${logs[0]#./} byte for byte the native run's ($(stat -c %s "$work/${logs[0]}") bytes, $(seconds_since "$start") s)"
    result=0
  fi
  rm -rf "$work" "$work.log"
  return $result
}

# The shipped program's instruction set and data model, executed: the core,
# the POSIX backend, the program and the suite built as 32-bit x86 code
# (SSE2 math, as the Windows build). Where the kernel runs 32-bit code they
# run directly and the whole suite runs; elsewhere under qemu-i386, where
# the suite samples what takes minutes and the whole run goes alongside it,
# on an emulated processor without AVX: there the SSE2 kernel takes half
# the time, and the suite proves the kernels give the same bits.
# As cmake/i686-linux-gnu.cmake names it.
QEMU_I386=(qemu-i386 -L /usr/i686-linux-gnu)

stage_i686() {
  local route=directly runner=()
  echo "== 32-bit x86 Linux (the core and the suite executed as 32-bit code)"
  build_step i686 || return
  if ! runs_i386 i686; then
    route="under qemu-i386, since $NO_I386"
    runner=("${QEMU_I386[@]}")
  fi
  echo "   executed $route"
  check_sse2 i686 objdump i686-linux-gnu-g++
  check_fused i686 objdump
  if [ ${#runner[@]} -eq 0 ]; then
    run_suite i686 "$JOBS" "$BUILD/i686/tests/tavrex_tests"
    whole_run i686 "$BUILD/i686/Tavrex"
  else
    whole_run i686 "$BUILD/i686/Tavrex" "${runner[@]}" -cpu max,-avx &
    local pid=$!
    run_suite i686 "$JOBS" "$BUILD/i686/tests/tavrex_tests" "${runner[@]}"
    # The whole run's PASS or FAIL line was counted in its subshell.
    if wait "$pid"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
  fi
}

main() {
  local stages=("$@") start=$SECONDS
  [ ${#stages[@]} -eq 0 ] && stages=(native valgrind asan win64 win32 i686)
  # The reference log is named by today's weekday: made afresh each time.
  rm -rf "$BUILD/test-runs/native-run"
  for stage in "${stages[@]}"; do
    case $stage in
      native | valgrind | asan | win64 | win32 | i686) "stage_$stage" ;;
      *) fail "unknown stage $stage" ;;
    esac
  done
  local took=$(seconds_since "$start")
  echo "== $cases test cases passed in all suites; took $((took / 60)) min $((took % 60)) s"
  echo "make check: $passed passed, $failed failed, $skipped skipped"
  [ "$failed" -eq 0 ]
}

main "$@"

# Shared by the front-door scripts: where the builds live and how each one
# is configured and built. Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build
JOBS=${JOBS:-2}
WINE=${WINE:-/usr/lib/wine/wine64}
WINE32=${WINE32:-/usr/lib/wine/wine}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}

# Each step of a front-door script ends in one PASS, FAIL or SKIP line; the
# script's last line counts them. A step that this machine cannot run is
# skipped, never passed.
passed=0
failed=0
skipped=0
pass() { echo "   PASS $*"; passed=$((passed + 1)); }
fail() { echo "   FAIL $*"; failed=$((failed + 1)); }
skip() { echo "   SKIP $*"; skipped=$((skipped + 1)); }

# CMake options of each build directory under build/, into OPTIONS.
build_options() {
  case $1 in
    # The test builds are optimised, since several tests run the whole
    # computation (under the sanitizers -O2 runs it four times faster than
    # -O1), but keep their assertions and debug information.
    native) OPTIONS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo
                     "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g") ;;
    asan) OPTIONS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREX_SANITIZE=ON
                   "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g") ;;
    # The program alone, as make run builds it: nothing that only the tests
    # need (GoogleTest, MPFR) has to be on the machine.
    release) OPTIONS=(-DCMAKE_BUILD_TYPE=Release -DTAVREX_TESTS=OFF) ;;
    # The long sweeps: the test suites, optimised as the program is.
    sweep) OPTIONS=(-DCMAKE_BUILD_TYPE=Release) ;;
    # The benchmarks, optimised as the shipped program is; no tests.
    bench) OPTIONS=(-DCMAKE_BUILD_TYPE=Release -DTAVREX_BENCH=ON -DTAVREX_TESTS=OFF) ;;
    win64) OPTIONS=("-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/mingw-w64-x86_64.cmake"
                    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O2) ;;
    # The shipped 32-bit program: a plain release build.
    win32) OPTIONS=("-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/mingw-w64-i686.cmake"
                    -DCMAKE_BUILD_TYPE=Release) ;;
    # 32-bit x86 Linux, run under qemu-i386: optimised with assertions, as
    # the native test build.
    i686) OPTIONS=("-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/i686-linux-gnu.cmake"
                   -DCMAKE_BUILD_TYPE=RelWithDebInfo
                   "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g") ;;
    *) echo "unknown build $1" >&2; return 1 ;;
  esac
}

# Ninja where the machine has it; make, which every machine with a compiler
# has, otherwise. Both take --quiet.
if command -v ninja >/dev/null 2>&1; then
  GENERATOR=(-G Ninja)
else
  GENERATOR=(-G "Unix Makefiles")
fi

# build NAME [TARGET...]: configures build/NAME and builds the targets (all
# by default). Compiler output is kept in build/NAME.log and shown; progress
# lines are not. Returns non-zero when the build fails.
build() {
  local name=$1; shift
  local dir=$BUILD/$name log=$BUILD/$name.log
  build_options "$name" || return 1
  mkdir -p "$BUILD"
  if ! cmake -S "$ROOT" -B "$dir" "${GENERATOR[@]}" -Wno-dev "${OPTIONS[@]}" >"$log" 2>&1; then
    sed 's/^/   | /' "$log"
    echo "   cmake could not configure build/$name (log: build/$name.log)"
    return 1
  fi
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  cmake --build "$dir" -j "$JOBS" "${targets[@]}" -- --quiet >"$log" 2>&1
  local status=$?
  if [ -s "$log" ]; then sed 's/^/   | /' "$log" | head -n 150; fi
  return $status
}

# Warnings that the compiler raised in the project's own sources during the
# last build of NAME.
own_warnings() {
  grep -E "^($ROOT/|\.\./\.\./)?(app|store|arith|fft|log|platform|tests|tools|bench)/[^:]*:[0-9]+:[0-9]+: warning:" \
    "$BUILD/$1.log" 2>/dev/null | sort -u
}

# wine_prefix NAME: the Wine environment of build/NAME (win64 or win32),
# whose prefix, created on first use, lives in build/NAME/wine-prefix; the
# loader that runs its programs goes into WINE_LOADER.
wine_prefix() {
  local name=$1
  export WINEPREFIX=$BUILD/$name/wine-prefix
  export WINEDEBUG=-all
  # No Mono or Gecko install prompts, no windows.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  if [ "$name" = win32 ]; then
    # A 32-bit prefix: booting it starts no 64-bit half.
    export WINEARCH=win32
    WINE_LOADER=$WINE32
  else
    unset WINEARCH
    WINE_LOADER=$WINE
  fi
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  mkdir -p "$WINEPREFIX"
  "$WINE_LOADER" wineboot --init >"$BUILD/$name/wineboot.log" 2>&1 &&
    "$WINESERVER" -w
}

# The cached answer of build/NAME's configuration to whether this machine
# executes 32-bit x86 code (cmake/i386_probe.cmake): returns 0 if it does,
# else puts the reason into NO_I386.
runs_i386() {
  local cache=$BUILD/$1/CMakeCache.txt
  grep -q '^TAVREX_RUNS_I386:BOOL=ON$' "$cache" 2>/dev/null && return 0
  NO_I386=$(sed -n 's/^TAVREX_RUNS_I386_REASON:STRING=//p' "$cache" 2>/dev/null)
  NO_I386=${NO_I386:-build/$1 was not configured}
  return 1
}

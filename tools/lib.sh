# Shared by make check, run, sweep and bench: building a preset of CMakePresets.json
# quietly, and what its configuration found out. Sourced, not run.

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
ROOT=$PWD
passed=0 failed=0 skipped=0
pass() { echo "   PASS $*"; passed=$((passed + 1)); }
fail() { echo "   FAIL $*"; failed=$((failed + 1)); }
skip() { echo "   SKIP $*"; skipped=$((skipped + 1)); }

# build PRESET [TARGET...]: configures build/PRESET and builds the targets
# (the build preset's by default); the output goes to build/PRESET.log and
# is shown only when the build fails.
build() {
  local preset=$1 log=build/$1.log targets=()
  shift
  [ $# -gt 0 ] && targets=(--target "$@")
  mkdir -p build
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" "${targets[@]}"; } >"$log" 2>&1; then
    tail -n 40 "$log" | sed 's/^/   | /'
    echo "   build/$preset did not build (log: $log)"
    return 1
  fi
}

# cached BUILD NAME: a value from build/BUILD's CMake cache.
cached() { sed -n "s/^$2:[A-Z]*=//p" "build/$1/CMakeCache.txt" 2>/dev/null; }

# runner BUILD: the command that starts build/BUILD's programs on this
# machine, into RUNNER (empty natively); fails, with the reason in
# NOT_RUN, where it cannot start them.
runner() {
  NOT_RUN=$(cached "$1" TAVREX_ROUTE)
  [ "${NOT_RUN#not run: }" != "$NOT_RUN" ] && { NOT_RUN=${NOT_RUN#not run: }; return 1; }
  IFS=';' read -ra RUNNER <<<"$(cached "$1" TAVREX_RUNNER)"
}

# Waits for the Wine server of build/BUILD's prefix to finish.
wine_done() { WINEPREFIX=$PWD/build/$1/wine-prefix /usr/lib/wine/wineserver -w; }

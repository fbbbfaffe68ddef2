# The front door; README.md explains the commands. All builds go to build/,
# one directory per preset of CMakePresets.json.
#   make run     build the program, run it once, show its exit code and log
#   make check   install what is missing, build everything, run every test
SHELL := /bin/bash

# Ninja where the machine has it, make otherwise; every core for the
# builds and for CTest.
export CMAKE_GENERATOR ?= $(if $(shell command -v ninja),Ninja,Unix Makefiles)
export CMAKE_BUILD_PARALLEL_LEVEL ?= $(shell nproc)
export CTEST_PARALLEL_LEVEL ?= $(shell nproc)

.PHONY: help run run-win64 run-win32 check check-native check-clang check-valgrind check-asan \
        check-win64 check-win32 check-i686 deps clean sweep bench

help:
	@echo "make run      build and run Tavrex once; print its exit code, time and log"
	@echo "make check    install missing packages, build and test everything"
	@echo "make run-win64|run-win32       the same run with a Windows build under Wine"
	@echo "make check-native|check-clang|check-valgrind|check-asan|check-win64|check-win32|check-i686   one part of make check"
	@echo "make sweep    the long fault sweeps, held-back-pool runs and randomized tests"
	@echo "make bench    build the 64-bit and 32-bit benchmarks optimised and run them (needs libbenchmark-dev, libfftw3-dev, and their :i386)"
	@echo "make clean    remove build/"

run:
	@tools/run.sh native

run-win64 run-win32:
	@tools/run.sh $(patsubst run-%,%,$@)

check: deps
	@tools/check.sh

check-native check-clang check-valgrind check-asan check-win64 check-win32 check-i686:
	@tools/check.sh $(patsubst check-%,%,$@)

deps:
	@tools/install-deps.sh

sweep: deps
	@tools/sweep.sh

clean:
	rm -rf build

# Benchmarks (bench/), built optimised for 64-bit and 32-bit x86 in
# build/bench and build/bench-i686.
bench:
	@tools/bench.sh

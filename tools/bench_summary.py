#!/usr/bin/env python3
"""The summary of make bench: the transform beside FFTW at every size, the
whole computation in units of FFTW's 32768-point transform, each beside its
target, and the transforms and round-off of a whole run; one column per
build, from the JSON that `tavrex_bench --benchmark_out=FILE` wrote (one
file or several). The whole program's CPU time and peak memory, timed as a
process by tools/bench.sh, come as --program BITS:SECONDS:KIB."""
import argparse
import json

MAX_FFT_SIZE = 131072
EVERY_SIZE_TARGET, EVERY_SIZE_FROM, EVERY_SIZE_TO = 1.5, 64, 16384
PROGRAM_RATIO_TARGET = 1.2    # 32-bit program / 64-bit
PEAK_MEMORY_TARGET_MIB = 16   # below
# As ratios to FFTW of the same bitness: its 32768-point transform, and
# ComputePi in units of that transform.
TRANSFORM_32768_TARGET = {64: 0.5, 32: 0.75}
COMPUTE_PI_TARGET = {64: 10500, 32: 20000}
SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


class Build:
    def __init__(self, path):
        with open(path) as file:
            results = json.load(file)
        context = results["context"]
        self.bits = int(context["bits"])
        self.processor = context["processor"]
        self.carried = context["fft_kernels_carried"]
        self.chosen = context["fft_kernel_chosen"]
        self.registers = context.get("fft_vector_registers", "?")
        self.limit = context["round_off_limit"]
        # CPU seconds per iteration by name ("Fftw/32768"): the "min"
        # aggregate over the repetitions where there is one, else the only
        # run; counters of the first run of each name.
        self.seconds, self.counters = {}, {}
        for run in results["benchmarks"]:
            if run.get("error_occurred"):
                continue
            name = "/".join(p for p in run["run_name"].split("/") if ":" not in p)
            seconds = run["cpu_time"] * SECONDS[run["time_unit"]]
            if run["run_type"] == "aggregate":
                if run["aggregate_name"] == "min":
                    self.seconds[name] = seconds
            else:
                if name not in self.seconds or run["repetitions"] <= 1:
                    self.seconds[name] = seconds
                self.counters.setdefault(name, run)
        self.program_seconds = self.program_kib = None

    def ratio(self, n):
        ours, fftw = self.seconds.get(f"FftTransform/{n}"), self.seconds.get(f"Fftw/{n}")
        return ours / fftw if ours and fftw else None

    def measured(self):
        return any(self.ratio(n) for n in sizes_between(2, MAX_FFT_SIZE))

    def name(self):
        return "32-bit x86 (i686)" if self.bits == 32 else "64-bit x86-64"


def against(form, value, limit, strictly_below=False):
    met = value < limit if strictly_below else value <= limit
    return form % (value, limit) + (" pass" if met else " MISS")


def transform_32768(b):
    ratio = b.ratio(32768)
    if ratio is None:
        return "not measured"
    return against("%.2f <= %.2f", ratio, TRANSFORM_32768_TARGET[b.bits])


def worst_size(b):
    sizes = [n for n in sizes_between(EVERY_SIZE_FROM, EVERY_SIZE_TO) if b.ratio(n) is not None]
    if not sizes:
        return "not measured"
    at = max(sizes, key=b.ratio)
    return against("%.2f <= %.2f", b.ratio(at), EVERY_SIZE_TARGET) + f" ({at})"


def compute_pi(b):
    pi, fftw = b.seconds.get("ComputePi"), b.seconds.get("Fftw/32768")
    if not (pi and fftw):
        return "not measured"
    return against("%.0f <= %.0f", pi / fftw, COMPUTE_PI_TARGET[b.bits])


def peak_memory(b):
    return "not measured" if b.program_kib is None else against(
        "%.1f < %.0f", b.program_kib / 1024, PEAK_MEMORY_TARGET_MIB, True)


def sizes_between(low, high):
    n = low
    while n <= high:
        yield n
        n *= 2


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("results", nargs="+", help="a JSON file of one build's benchmarks")
    parser.add_argument("--program", action="append", default=[], metavar="BITS:SECONDS:KIB",
                        help="the whole program's least CPU seconds and peak KiB")
    args = parser.parse_args()
    builds = sorted((Build(path) for path in args.results), key=lambda b: -b.bits)
    for program in args.program:
        bits, seconds, kib = program.split(":")
        for b in builds:
            if b.bits == int(bits):
                b.program_seconds, b.program_kib = float(seconds), float(kib)

    print(f"\nProcessor: {builds[0].processor}")
    for b in builds:
        print(f"{b.name()}: carries the kernels {b.carried}; runs {b.chosen} here, "
              f"with {b.registers} vector registers")

    print("\nFftTransform beside FFTW of the same bitness (CPU time per transform, "
          "the least of the repetitions)\n        " + "".join(f"    {b.name():34}" for b in builds))
    print("    size" + "    FftTransform         FFTW   ratio" * len(builds))
    for n in sizes_between(2, MAX_FFT_SIZE):
        if all(b.ratio(n) is None for b in builds):
            continue
        line = f"{n:8}"
        for b in builds:
            if b.ratio(n) is None:
                line += f"{'         not run':38}"
            else:
                ours, fftw = b.seconds[f"FftTransform/{n}"], b.seconds[f"Fftw/{n}"]
                line += f"  {ours * 1e6:11.3f} us  {fftw * 1e6:9.3f} us  {ours / fftw:6.2f}"
        print(line)

    print("\n" + f"{'Targets':40}" + "".join(f"{b.name():34}" for b in builds))
    for what, cell in (("FftTransform(32768) / FFTW", transform_32768),
                       ("Worst size 64..16384 / FFTW", worst_size),
                       ("ComputePi / FFTW's 32768-point time", compute_pi),
                       ("Peak memory of the program (MiB)", peak_memory)):
        cells = (cell(b) if b.measured() else "not run" for b in builds)
        print(f"{what:40}" + "".join(f"{text:34}" for text in cells))
    timed = {b.bits: b.program_seconds for b in builds if b.program_seconds}
    line = f"{'Whole program, 32-bit / 64-bit CPU time':40}"
    if 64 in timed and 32 in timed:
        line += f"{timed[32]:.3f} s / {timed[64]:.3f} s = " + against(
            "%.2f <= %.2f", timed[32] / timed[64], PROGRAM_RATIO_TARGET)
    else:
        line += (f"64-bit {timed[64]:.3f} s; " if 64 in timed else "") + \
            "not measured: both programs must run on this machine"
    print(line)

    # From the whole runs on each kernel, its transforms counted.
    print(f"\nLargest round-off distance in one ComputePi (limit {builds[0].limit})")
    for b in builds:
        runs = [(k, b.counters.get(f"ComputePiCounted/{k}")) for k in b.carried.split()]
        text = " ".join(f"{k} {run['round_off']:.3g}" for k, run in runs if run)
        print(f"  {b.name():20}{text or 'not run'}")
    print("Transforms in one ComputePi, counted")
    for b in builds:
        runs = [b.counters.get(f"ComputePiCounted/{k}") for k in [b.chosen] + b.carried.split()]
        run = next((run for run in runs if run), {})
        counts = sorted((int(key.split("/")[1]), int(count)) for key, count in run.items()
                        if key.startswith("transforms/"))
        text = ", ".join(f"{n} points: {count}" for n, count in counts)
        total = sum(count for _, count in counts)
        print(f"  {b.name():20}" + (f"{total} ({text})" if counts else "not run"))


if __name__ == "__main__":
    main()

"""Times the module as a script uses it (not a test: run it by hand on a
quiet machine and report medians):

  * import tarvik: a fresh interpreter importing the module, less the same
    interpreter starting and ending without it; also with the module's
    first array (which loads NumPy) and NumPy alone;
  * tarvik.strip(counts, 80, 0.1) of the demo spectrum, standard method,
    against the same call in C++ (BM_StripInMemory of inmemory_bench, run
    here when --bench is given);
  * tarvik.quality of 1000 different spectra in one loop, no resamples.

    PYTHONPATH=build/python /usr/bin/python3 python/bench/timing.py \\
        --bench build/tarvik/inmemory_bench [--repeat 9]
"""
import argparse
import json
import resource
import statistics
import subprocess
import sys
import time

import numpy as np

import tarvik


def median_time(call, number, repeat):
    """Medians of the wall-clock and the processor time per call."""
    wall, cpu = [], []
    for _ in range(repeat):
        start, start_cpu = time.perf_counter(), time.process_time()
        for _ in range(number):
            call()
        wall.append((time.perf_counter() - start) / number)
        cpu.append((time.process_time() - start_cpu) / number)
    return statistics.median(wall), statistics.median(cpu)


def import_time(code, repeat):
    """Medians of wall-clock and processor time of a fresh interpreter that
    runs `code`, less those of one that runs nothing."""
    def run(text):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        subprocess.run([sys.executable, "-c", text], check=True)
        wall = time.perf_counter() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    with_code, bare = [], []
    for _ in range(repeat):
        bare.append(run("pass"))
        with_code.append(run(code))
    return [statistics.median(x[i] for x in with_code) - statistics.median(x[i] for x in bare) for i in (0, 1)]


def cpp_times(bench, repeat):
    out = subprocess.run([bench, "--benchmark_filter=BM_StripInMemory|BM_StripCorrectionOnly|BM_QualityInMemory",
                          f"--benchmark_repetitions={repeat}", "--benchmark_report_aggregates_only=true",
                          "--benchmark_format=json"], check=True, capture_output=True, text=True).stdout
    result = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            unit = {"us": 1e-6, "ms": 1e-3, "ns": 1e-9}[b["time_unit"]]
            result[b["run_name"]] = (b["real_time"] * unit, b["cpu_time"] * unit)
    return result


def main():
    parser = argparse.ArgumentParser(description="timing of the Python module")
    parser.add_argument("--bench", help="build/tarvik/inmemory_bench, for the C++ figures")
    parser.add_argument("--repeat", type=int, default=9)
    args = parser.parse_args()

    demo = tarvik.data_folder() / "Tarvik_data" / "W80kV_2.5mmAl_direct.csv"
    counts = tarvik.read(demo).counts.copy()
    tarvik.strip(counts, 80, 0.1)  # response tables read once, before timing

    # The module loads NumPy with its first array; a script has mostly
    # imported it already.
    for code, what in (("import tarvik", "import tarvik"),
                       ("import tarvik; tarvik.Spectrum([1.0])", "import tarvik and its first array (NumPy)"),
                       ("import numpy", "import numpy alone")):
        wall, cpu = import_time(code, args.repeat)
        print(f"{what}: {1e3 * wall:.1f} ms wall, {1e3 * cpu:.1f} ms processor "
              f"(fresh interpreter less one that runs nothing; medians of {args.repeat})")

    strip, strip_cpu = median_time(lambda: tarvik.strip(counts, 80, 0.1), 200, args.repeat)
    print(f"tarvik.strip, standard, one array: {1e6 * strip:.0f} us wall, {1e6 * strip_cpu:.0f} us processor "
          f"(medians of {args.repeat} x 200 calls)")

    stripped = tarvik.strip(counts, 80, 0.1)
    rng = np.random.default_rng(1)
    spectra = [tarvik.Spectrum(rng.poisson(stripped.counts).astype(float), 0.1, kind="stripped")
               for _ in range(1000)]

    def loop():
        for s in spectra:
            tarvik.quality(s, resamples=0)
    quality, quality_cpu = median_time(loop, 1, args.repeat)
    print(f"tarvik.quality of 1000 spectra in one loop, no resamples: {quality:.3f} s wall, {quality_cpu:.3f} s "
          f"processor (medians of {args.repeat})")

    if args.bench:
        cpp = cpp_times(args.bench, args.repeat)
        for name, python, python_cpu, what in (
                ("BM_StripInMemory", strip, strip_cpu, "tarvik.strip"),
                ("BM_StripCorrectionOnly", strip, strip_cpu, "tarvik.strip"),
                ("BM_QualityInMemory", quality / 1000, quality_cpu / 1000, "tarvik.quality")):
            wall, cpu = cpp[name]
            print(f"C++ {name}: {1e6 * wall:.0f} us wall, {1e6 * cpu:.0f} us processor; {what} / C++ = "
                  f"{python / wall:.2f} wall, {python_cpu / cpu:.2f} processor")

if __name__ == "__main__":
    main()

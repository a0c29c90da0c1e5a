"""How much the Python module adds to a call of the library entry: a
99-permutation model on plethodon (species * site, one thread), timed from
Python and through the entry alone (the benchmark quillan_bench_entry).

    PYTHONPATH=build/python python3 bench/python_binding.py [BUILD_DIR]
"""
import json
import os
import statistics
import subprocess
import sys
import time

import quillan

here = os.path.dirname(os.path.abspath(__file__))
build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build")
data = os.path.join(here, "..", "data")

shapes = quillan.read(os.path.join(data, "plethodon.tps"))
options = dict(factors=os.path.join(data, "plethodon.csv"), formula="species * site", permutations=99, seed=1,
               threads=1)
for _ in range(20):  # warm-up
    quillan.model(shapes, **options)
times = []
for _ in range(400):
    start = time.perf_counter()
    quillan.model(shapes, **options)
    times.append(time.perf_counter() - start)
python_ms = statistics.median(times) * 1e3

out = subprocess.run([os.path.join(build, "bench", "quillan_bench_entry"), "--benchmark_format=json",
                      "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true"],
                     capture_output=True, text=True, check=True).stdout
entry = [b for b in json.loads(out)["benchmarks"] if b.get("aggregate_name") == "median"][0]
entry_ms = entry["real_time"]
print(f"from Python: {python_ms:.3f} ms (median of {len(times)})")
print(f"entry alone: {entry_ms:.3f} ms (median of 5 repetitions)")
print(f"the binding adds {python_ms - entry_ms:.3f} ms a call")

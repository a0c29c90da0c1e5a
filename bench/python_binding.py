"""How much the Python module adds to a call of the library entry: a
99-permutation model on plethodon (species * site, one thread), timed from
Python and as one call of the entry alone, the two in turn so that both
meet the same load on the machine.

    PYTHONPATH=build/python python3 bench/python_binding.py
"""
import os
import statistics
import time

import quillan
from quillan import _quillan

data = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")
shapes = quillan.read(os.path.join(data, "plethodon.tps"))
options = dict(factors=os.path.join(data, "plethodon.csv"), formula="species * site", permutations=99, seed=1,
               threads=1)
native = shapes._native()
words = [("factors", options["factors"]), ("formula", options["formula"]), ("perm", "99"), ("seed", "1"),
         ("threads", "1")]

python_times, entry_times = [], []
for i in range(420):
    start = time.perf_counter()
    quillan.model(shapes, **options)
    took = time.perf_counter() - start
    entry = _quillan._entry_call_seconds("model", native, words)
    if i >= 20:  # after the warm-up
        python_times.append(took)
        entry_times.append(entry)
python_ms = statistics.median(python_times) * 1e3
entry_ms = statistics.median(entry_times) * 1e3
differences = sorted((p - e) * 1e3 for p, e in zip(python_times, entry_times))
print(f"from Python: {python_ms:.3f} ms, the entry alone: {entry_ms:.3f} ms (medians of {len(python_times)} calls each)")
print(f"the binding adds {python_ms - entry_ms:.3f} ms a call (median of the differences in turn: "
      f"{statistics.median(differences):.3f} ms; fastest against fastest: "
      f"{(min(python_times) - min(entry_times)) * 1e3:.3f} ms)")

# The data themselves pass without a copy: 20,000 specimens of 100
# landmarks in space (48 MB of float64) imported, from Python and as the
# entry alone (whose own import copies them into the workspace), beside the
# time NumPy takes to copy the array once.
import numpy as np

big = quillan.Data(np.random.default_rng(1).normal(size=(20000, 100, 3)))
big_native = big._native()
python_big, entry_big = [], []
for _ in range(7):
    start = time.perf_counter()
    quillan.run("import", big)
    python_big.append(time.perf_counter() - start)
    entry_big.append(_quillan._entry_call_seconds("import", big_native, []))
start = time.perf_counter()
copied = big.coords.copy()
copy_ms = (time.perf_counter() - start) * 1e3
print(f"48 MB of coordinates: from Python {statistics.median(python_big) * 1e3:.1f} ms, the entry alone "
      f"{statistics.median(entry_big) * 1e3:.1f} ms (medians of 7); one copy of the array takes {copy_ms:.1f} ms")

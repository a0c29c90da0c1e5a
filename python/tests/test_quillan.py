"""The Python module runs what quillan-batch runs, with Python's values."""
import json
import os
import signal
import subprocess
import sys
import threading

import numpy as np
import pytest

import quillan
from conftest import DATA, SOURCE

BATCH = os.environ.get("QUILLAN_BATCH", os.path.join(SOURCE, "build", "quillan-batch"))


def model(data_arg, **more):
    return quillan.model(data_arg, factors=os.path.join(DATA, "plethodon.csv"), formula="species * site",
                         permutations=99, seed=1, threads=2, **more)


def undated(record):
    """The record less the moment it was made."""
    record["run"].pop("date")
    return record


def test_read_gives_arrays_ids_and_columns(data):
    d = quillan.read(data("plethodon.csv"), id_column="ID")
    assert d.coords.shape == (40, 12, 2)
    assert d["ids"][:2] == ["P01", "P02"]
    assert set(d.factors) >= {"species", "site"} and isinstance(d.columns["logCS"], np.ndarray)
    with pytest.raises(quillan.Failed, match="no-such.tps"):
        quillan.read(data("no-such.tps"))
    with pytest.raises(quillan.OptionError):
        quillan.read(data("plethodon.tps"), formula="G1")


def test_what_an_import_warns_of_is_a_python_warning_kept_with_the_data(tmp_path):
    twice = tmp_path / "twice.tps"
    twice.write_text("".join(f"LM=3\n0 0\n1 0\n{i} 1\nID=A\n" for i in (1, 2)) +
                     "LM=3\n0 0\n1 0\n0.5 2\nID=B\n")
    with pytest.warns(quillan.DataWarning, match="appears 2 times"):
        d = quillan.read(twice)
    assert d.coords.shape == (3, 3, 2) and any("appears 2 times" in w for w in d.warnings)


def test_a_model_gives_quillan_batch_numbers_from_a_file_data_and_arrays(data, tmp_path):
    record = tmp_path / "record.json"
    out = subprocess.run([BATCH, "model", "--import", data("plethodon.tps"), "--factors", data("plethodon.csv"),
                          "--formula", "species * site", "--perm", "99", "--seed", "1", "--threads", "2",
                          "--json", str(record)], capture_output=True, text=True, check=True).stdout
    from_file = model(data("plethodon.tps"))
    assert from_file.report == out and str(from_file) == out
    assert undated(json.loads(record.read_text())) == undated(json.loads(from_file.record_json))
    assert [m["name"] for m in from_file.record["models"]][:3] == ["species", "site", "species:site"]

    shapes = quillan.read(data("plethodon.tps"))
    assert model(shapes).report == from_file.report
    # A bare array, its IDs and factors as a dict of sequences.
    table = quillan.read(data("plethodon.csv"))
    flat = shapes.coords.reshape(40, 24)
    factors = {"species": table.columns["species"], "site": table.columns["site"]}
    bare = quillan.model(flat, dimensions=2, ids=shapes.ids, factors=factors, formula="species * site",
                         permutations=99, seed=1, threads=2)
    assert [m["values"] for m in bare.record["models"]] == [m["values"] for m in from_file.record["models"]]
    # Read in place whatever the strides (landmarks by dimension by specimen,
    # as R and SlicerMorph hold them, seen through a transposed view; a
    # reversed view), and converted once when the numbers are not float64.
    def fit(coords):
        return quillan.model(coords, ids=shapes.ids, factors=factors, formula="species * site", permutations=99, seed=1,
                             threads=2).report
    held = np.ascontiguousarray(shapes.coords.transpose(1, 2, 0))
    backwards = np.ascontiguousarray(shapes.coords[::-1])
    assert fit(held.transpose(2, 0, 1)) == fit(backwards[::-1]) == bare.report
    single = shapes.coords.astype(np.float32)
    assert fit(single) == fit(single.astype(np.float64))


def test_factors_as_a_pandas_data_frame(data):
    pandas = pytest.importorskip("pandas")
    table = quillan.read(data("plethodon.csv"))
    frame = pandas.DataFrame({"species": table.columns["species"], "site": table.columns["site"]})
    shapes = quillan.read(data("plethodon.tps"))
    words = {"species": list(frame["species"]), "site": list(frame["site"])}
    runs = [quillan.model(shapes.coords, ids=shapes.ids, factors=f, formula="species * site", permutations=99, seed=1,
                          threads=2) for f in (frame, words)]
    assert runs[0].report == runs[1].report and "species:site" in runs[0].report


def test_every_action_of_the_table_is_a_function_that_reaches_its_action():
    names = quillan.actions()
    assert {"model", "physignal"} <= {a["alias"] for a in names}
    for a in names:
        function = getattr(quillan, quillan._python_name(a["alias"]))
        assert a["description"] in function.__doc__
        try:
            function()
        except quillan.Error as e:
            assert "unknown action" not in str(e), a["name"]


def test_errors_carry_the_programs_message(data):
    with pytest.raises(quillan.OptionError, match="permutation"):
        quillan.model(data("plethodon.tps"), permutation=9)
    with pytest.raises(ValueError, match="--formula belongs to"):
        quillan.one_way(data("plethodon.tps"), formula="G1")
    with pytest.raises(quillan.UsageError, match="--seed must be a whole number"):
        quillan.model(data("plethodon.tps"), formula="species", seed="soon")
    with pytest.raises(quillan.Refused, match="--perm gives \"many\""):
        quillan.model(data("plethodon.tps"), formula="species", permutations="many")
    with pytest.raises(quillan.Refused, match='"nosuch" .* names nothing loaded'):
        quillan.model(data("plethodon.csv"), formula="nosuch")
    with pytest.raises(quillan.Failed, match="--groups"):
        quillan.one_way(landmarks=data("plethodon.lm.txt"), permutations=9)
    with pytest.raises(quillan.UsageError, match="not landmarks of 2"):
        quillan.model(np.zeros((4, 5)), formula="G1")


def test_ctrl_c_stops_a_run_and_the_next_run_goes(data):
    timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        quillan.model(data("plethodon.tps"), factors=data("plethodon.csv"), formula="species * site",
                      permutations=10_000_000)
    timer.join()
    assert "Pr(>F)" in model(data("plethodon.tps")).report


def test_an_analysis_added_by_its_row_alone_is_a_function(data):
    entry = os.environ.get("QUILLAN_EXAMPLE_ENTRY")
    if not entry:
        pytest.skip("the example analysis's entry is made by the build")
    code = ("import quillan, sys; r = quillan.explained_share(landmarks=sys.argv[1], groups=sys.argv[2], "
            "permutations=9, seed=1, decimals=3); print(r.record['run']['action'])")
    env = dict(os.environ, LD_LIBRARY_PATH=entry)
    out = subprocess.run([sys.executable, "-c", code, data("plethodon.lm.txt"), data("plethodon.species.groups.txt")],
                         env=env, capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "RunExplainedShare"


def test_the_example_script_runs():
    out = subprocess.run([sys.executable, os.path.join(SOURCE, "examples", "plethodon.py"), DATA],
                         capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert "species:site" in out.stdout

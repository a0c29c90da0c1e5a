"""docs/python.md's table of actions is the table's rows, and its worked case
gives geomorph's and RRPP's numbers."""
import csv
import os

import numpy as np

import quillan
from conftest import DATA, SOURCE

PAGE = os.path.join(SOURCE, "docs", "python.md")
BEGIN = "<!-- actions: begin (written by python/tests/test_docs.py, do not edit) -->\n"
END = "<!-- actions: end -->"


def python_name(name):
    return quillan._python_name(name)


def actions_markdown():
    lines = ["| function | action | what it does | its own keywords |", "|---|---|---|---|"]
    for a in quillan.actions():
        own = ", ".join(f"`{python_name(o['name'])}`" for o in a["options"]) or "none"
        lines.append(f"| `quillan.{python_name(a['alias'])}` | {a['name']} | {a['description']} | {own} |")
    lines += ["", "Every function also takes the keywords of any run:", ""]
    lines.append(", ".join(f"`{'permutations' if o['name'] == 'perm' else python_name(o['name'])}`"
                           for o in quillan.run_options()) + ".")
    return "\n".join(lines) + "\n"


def test_the_page_shows_the_rows():
    text = open(PAGE, encoding="utf-8").read()
    start, stop = text.index(BEGIN) + len(BEGIN), text.index(END)
    if os.environ.get("QUILLAN_UPDATE_EXPECTED") == "1":
        with open(PAGE, "w", encoding="utf-8") as f:
            f.write(text[:start] + actions_markdown() + text[stop:])
        return
    assert text[start:stop] == actions_markdown(), "run with QUILLAN_UPDATE_EXPECTED=1 to write the table"


def test_the_worked_case_gives_geomorphs_table():
    # tests/expected/models/make_expected.R: gpagen, then procD.lm(coords ~ species * site).
    with open(os.path.join(SOURCE, "tests", "expected", "models", "rrpp_tables.csv")) as f:
        rows = [r for r in csv.DictReader(f) if r["case"] == "plethodon_partial_crossed"]
    fit = quillan.model(landmarks=os.path.join(DATA, "plethodon.lm.txt"), groups=os.path.join(DATA, "plethodon.groups.txt"),
                        formula="G1 * G2", alignment="partial", gpa_steps="gpagen", permutations=99, seed=1)
    models = fit.record["models"]
    assert [m["name"] for m in models] == [r["term"] for r in rows]
    for m, r in zip(models, rows):
        for theirs, ours in (("Df", "df"), ("SS", "ss"), ("Rsq", "rsq"), ("F", "F")):
            if r[theirs] != "NA":
                np.testing.assert_allclose(m["values"][ours], float(r[theirs]), rtol=1e-8, err_msg=m["name"])

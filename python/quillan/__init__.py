"""quillan: landmark shape statistics from Python.

``quillan.read(path, **choices)`` reads a landmark file; ``quillan.run(action,
data, **options)`` runs any action of the program on it, as quillan-batch
runs it, and returns its report and the numbers of its record.  Every action
is also a function of this module (``quillan.model``, ``quillan.physignal``,
...), made from the program's table of actions when the module is imported.
"""

import json as _json
import keyword as _keyword
import warnings as _warnings

import numpy as _np

from . import _quillan
from ._errors import Cancelled, DataWarning, Error, Failed, OptionError, Refused, UsageError

__all__ = ["Data", "Result", "read", "run", "actions", "version", "Error", "UsageError", "OptionError",
           "Refused", "Failed", "Cancelled", "DataWarning"]

# Python's names for options whose own name reads badly as a keyword.
_RENAMED = {"permutations": "perm"}


class Data:
    """Landmark data: ``coords`` (specimens x landmarks x dimensions), ``ids``,
    ``columns`` (name -> list of words or array of numbers) and ``source``."""

    def __init__(self, coords, ids=None, columns=None, source=""):
        self.coords = _np.asarray(coords, dtype=float)  # read in place by the entry, whatever its strides
        if self.coords.ndim != 3:
            raise UsageError("coords must be an array of specimens x landmarks x dimensions")
        self.ids = list(ids) if ids is not None else []
        self.columns = dict(columns or {})
        self.source = source
        self.warnings, self.notices = [], []  # what the import said (read() only)

    @property
    def factors(self):
        """The columns of words."""
        return {k: v for k, v in self.columns.items() if not isinstance(v, _np.ndarray)}

    def __getitem__(self, key):
        return getattr(self, key)

    def keys(self):
        return ["coords", "ids", "columns", "source"]

    def __repr__(self):
        n, k, d = self.coords.shape
        return f"<quillan.Data: {n} specimens, {k} landmarks in {d}-D, columns {list(self.columns)}>"

    def _native(self):
        cols = []
        for name, values in self.columns.items():
            if isinstance(values, _np.ndarray) and values.dtype.kind in "fiu":
                cols.append((name, True, values.astype(float).tolist()))
            else:
                cols.append((name, False, ["" if v is None else str(v) for v in values]))
        return {"coords": self.coords, "ids": [str(i) for i in self.ids], "columns": cols, "source": self.source}


class Result:
    """A run's ``report`` (text; ``print(result)`` shows it), ``record`` (the
    JSON record as dicts and lists, arrays of numbers as NumPy arrays),
    ``messages`` (warnings and notes) and ``trace`` (the console trace)."""

    def __init__(self, native):
        self.report = native["report"]
        self.record_json = native["record_json"]
        self.record = _arrays(_json.loads(self.record_json)) if self.record_json else None
        self.messages = list(native["messages"])
        self.trace = native["trace"]

    def __str__(self):
        return self.report

    def __repr__(self):
        return f"<quillan.Result: {len(self.report.splitlines())} lines of report, {len(self.messages)} messages>"


def _is_number(v):
    return isinstance(v, (int, float)) and not isinstance(v, bool)


def _arrays(value):
    """Lists of numbers (and lists of equal lists of numbers) become arrays."""
    if isinstance(value, dict):
        return {k: _arrays(v) for k, v in value.items()}
    if isinstance(value, list) and value:
        if all(_is_number(v) or v is None for v in value) and any(_is_number(v) for v in value):
            return _np.array([_np.nan if v is None else v for v in value], dtype=float)
        if all(isinstance(v, list) and v and all(_is_number(x) for x in v) for v in value) and \
                len({len(v) for v in value}) == 1:
            return _np.array(value, dtype=float)
        return [_arrays(v) for v in value]
    return value


def _option_words(given, allowed, caller):
    """Keyword arguments as the program's options: '-' for '_', flags true or
    false, a list for an option given more than once."""
    words = []
    for key, value in given.items():
        name = _RENAMED.get(key, key.rstrip("_").replace("_", "-"))
        if name not in allowed:
            raise OptionError(f"{caller}() got an unexpected keyword argument '{key}'")
        if value is None:
            continue
        values = value if isinstance(value, (list, tuple)) else [value]
        for v in values:
            words.append((name, ("true" if v else "false") if isinstance(v, bool) else str(v)))
    return words


def _columns_of(factors):
    """A dict of sequences or a pandas DataFrame as the data's columns."""
    if hasattr(factors, "to_dict") and hasattr(factors, "columns"):  # a DataFrame, without importing pandas
        factors = {str(c): factors[c].to_numpy() for c in factors.columns}
    columns = {}
    for name, values in factors.items():
        array = _np.asarray(values)
        columns[str(name)] = array.astype(float) if array.dtype.kind in "fiu" \
            else [str(v) for v in values]
    return columns


def _data_of(data, dimensions, ids, factors):
    if isinstance(data, Data):
        if dimensions is None and ids is None and not isinstance(factors, dict) and not hasattr(factors, "columns"):
            return data
        base = data
        data = base.coords
        ids = base.ids if ids is None else ids
        extra = dict(base.columns)
    else:
        extra = {}
    coords = _np.asarray(data, dtype=float)
    if coords.ndim == 2:
        d = 2 if dimensions is None else int(dimensions)
        if coords.shape[1] % d:
            raise UsageError(f"{coords.shape[1]} columns are not landmarks of {d} coordinates")
        coords = coords.reshape(coords.shape[0], coords.shape[1] // d, d)
    elif coords.ndim != 3:
        raise UsageError("data must be an array of specimens x landmarks x dimensions, or specimens x coordinates")
    if factors is not None and not isinstance(factors, str):
        extra.update(_columns_of(factors))
    return Data(coords, ids, extra)


def read(path, **choices):
    """Reads a landmark file (TPS, NTS, morphologika, markups, tables) with the
    import's choices: factor, covariate_column, id_column, factors (a table of
    factors by specimen ID), estimate_missing, semilandmarks, ..."""
    allowed = {o["name"] for o in _quillan.import_options()}
    native = _quillan.read(str(path), _option_words(choices, allowed, "read"))
    columns = {name: (values if numeric else list(values)) for name, numeric, values in native["columns"]}
    data = Data(native["coords"], native["ids"], columns, native["source"])
    # What the import said stays with the data, and its warnings are Python's.
    data.warnings, data.notices = list(native["warnings"]), list(native["notices"])
    for text in data.warnings:
        _warnings.warn(text, DataWarning, stacklevel=2)
    return data


def run(action, data=None, *, dimensions=None, ids=None, factors=None, **options):
    """Runs an action (a name or alias of ``actions()``) and returns its Result.

    ``data``: a Data from read(), a file name (imported as --import imports it),
    or an array of specimens x landmarks x dimensions (or x coordinates, with
    ``dimensions=``), with ``ids=`` and ``factors=`` (a dict of sequences or a
    pandas DataFrame; a file name is a table of factors matched by specimen ID).
    Options are the program's, '-' written '_'; ``permutations`` is ``perm``."""
    words = _option_words(options, _allowed(), "run")
    if isinstance(factors, str):
        words.append(("factors", factors))
    if isinstance(data, str):
        if dimensions is not None or ids is not None or (factors is not None and not isinstance(factors, str)):
            raise UsageError("dimensions, ids and columns go with data given as an array, not a file name")
        words.append(("import", data))
        native_data = None
    elif data is None:
        native_data = None
    else:
        native_data = _data_of(data, dimensions, ids, factors)._native()
    return Result(_quillan.run(str(action), native_data, words))


_ALLOWED = None


def _allowed():
    global _ALLOWED
    if _ALLOWED is None:
        names = {o["name"] for o in _quillan.run_options()}
        for a in _quillan.actions():
            names.update(o["name"] for o in a["options"])
        _ALLOWED = names
    return _ALLOWED


def actions():
    """Every action of the program: name, alias, description, kind, what it
    needs loaded, and its own options (name, kind, help, default, choices)."""
    return _quillan.actions()


def run_options():
    """The options every run takes besides an action's own."""
    return _quillan.run_options()


def version():
    return _quillan.version()


def _python_name(option):
    name = option.replace("-", "_")
    return name + "_" if _keyword.iskeyword(name) else name


def _docstring(action):
    lines = [f"{action['description']} ({action['name']}; needs {action['needs']}).", "",
             f"quillan.run('{action['alias']}', data, **options) with its own options:"]
    for o in action["options"]:
        default = f" (default {o['default']})" if o["default"] else ""
        choices = f" [{', '.join(o['choices'])}]" if o["choices"] else ""
        lines.append(f"    {_python_name(o['name'])}: {o['kind']}{choices}{default}. {o['help']}")
    if not action["options"]:
        lines.append("    none")
    lines += ["", "and the options of every run (permutations, seed, threads, model, factors, ...)."]
    return "\n".join(lines)


def _action_function(action):
    def call(data=None, **options):
        return run(action["name"], data, **options)

    call.__name__ = call.__qualname__ = _python_name(action["alias"])
    call.__doc__ = _docstring(action)
    return call


def _add_action_functions():
    for action in _quillan.actions():
        name = _python_name(action["alias"])
        if name in globals():
            continue  # never hide one of the module's own names
        globals()[name] = _action_function(action)
        __all__.append(name)


_add_action_functions()

"""Where the tests find the build and the bundled data (set by CTest)."""
import os

import pytest

SOURCE = os.environ.get("QUILLAN_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
DATA = os.path.join(SOURCE, "data")


@pytest.fixture
def data():
    return lambda name: os.path.join(DATA, name)

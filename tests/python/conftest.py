import os
import sys

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
sys.path.insert(0, os.path.join(ROOT, "python"))

from bmp_files import write_bmp  # noqa: E402,F401  (the suites import it from here)


@pytest.fixture(scope="session")
def models_dir():
    path = os.environ.get("BRIGHTLOOM_TEST_MODELS", os.path.join(ROOT, "build", "models"))
    if not os.path.isdir(os.path.join(path, "slots")):
        pytest.skip(f"generated models not found in {path}; build the project first")
    return path

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


@pytest.fixture(scope="session")
def demo_dir(models_dir, tmp_path_factory):
    """A model directory with the demo's stand-in models, which find and swap
    the cartoon faces of tools/demo_pictures.py."""
    from video_samples import demo_model_dir
    return demo_model_dir(models_dir, str(tmp_path_factory.mktemp("models") / "demo"))


@pytest.fixture(scope="session")
def faces():
    """The demo's pictures as H x W x 3 arrays: `source` (one face) and
    `group` (three faces, left to right)."""
    import numpy as np
    from video_samples import demo_pictures
    return {"source": np.asarray(demo_pictures.scene((("sam", 320),))),
            "group": np.asarray(demo_pictures.scene(demo_pictures.GROUP))}

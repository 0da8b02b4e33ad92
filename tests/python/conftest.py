import os
import shutil
import struct
import sys

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "python"))


@pytest.fixture(scope="session")
def models_dir():
    path = os.environ.get("BRIGHTLOOM_TEST_MODELS", os.path.join(ROOT, "build", "models"))
    if not os.path.isdir(os.path.join(path, "slots")):
        pytest.skip(f"generated models not found in {path}; build the project first")
    return path


def write_bmp(path, width, height, rgb):
    """A 24-bit BMP of one colour; rgb is (r, g, b)."""
    row = bytes((rgb[2], rgb[1], rgb[0])) * width
    row += b"\0" * ((4 - len(row) % 4) % 4)
    pixels = row * height
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


@pytest.fixture(scope="session")
def demo_models(models_dir, tmp_path_factory):
    """The demo's model directory: the generated detector, landmarker and
    recognizer with the demo's stand-ins, as tools/demo.sh assembles it."""
    folder = tmp_path_factory.mktemp("demo_models")
    for model in ("scrfd_2.5g.onnx", "2dfan4.onnx", "arcface_w600k_r50.onnx"):
        shutil.copy(os.path.join(models_dir, "detect", model), folder)
    for model in os.listdir(os.path.join(models_dir, "demo")):
        shutil.copy(os.path.join(models_dir, "demo", model), folder)
    return str(folder)


@pytest.fixture(scope="session")
def demo_inputs(tmp_path_factory):
    """The demo's pictures: source.png, reference.png and frames/ of cartoon
    faces the demo models work on."""
    sys.path.insert(0, os.path.join(ROOT, "tools"))
    import demo_pictures
    out = tmp_path_factory.mktemp("demo")
    demo_pictures.write_inputs(str(out))
    return out / "inputs"

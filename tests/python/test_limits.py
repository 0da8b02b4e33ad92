"""Values the binding must refuse rather than take (NaN, out of range, wrapped
by ctypes, a string for a sequence, a NUL in a path), closing an engine from
its own log callback, and an oversized array refused before it is copied."""
import math
import tracemalloc

import numpy as np
import pytest

import brightloom
from brightloom import Status, StatusError

NAN = math.nan


@pytest.fixture(scope="module")
def on_log():
    """What the engine's log callback does: replaced by a test, reset after."""
    return {"call": None}


@pytest.fixture(scope="module")
def engine(demo_dir, on_log):
    def log(level, line):
        if on_log["call"] is not None:
            on_log["call"](line)
    with brightloom.Engine(demo_dir, log=log) as opened:
        yield opened


@pytest.fixture
def paths(faces, tmp_path):
    from PIL import Image
    group = str(tmp_path / "group.png")
    Image.fromarray(faces["group"]).save(group)
    return {"group": group, "out": str(tmp_path / "out.png")}


# (call, the name the message gives); each must raise ValueError. One case
# for each place the binding hands a value on: the per-call ranges are the
# engine's own check (its tests hold every range), the rest the binding's.
BAD_VALUES = {
    "score NaN": (lambda e, f, p: e.enhance(f["group"], detector_score=NAN), "detector_score"),
    "padding string": (lambda e, f, p: e.swap(f["source"], f["group"], mask_padding="1234"),
                       "mask_padding"),
    "target wraps": (lambda e, f, p: e.swap(f["source"], f["group"], target=2**32 + 1),
                     "target"),
    "scale wraps": (lambda e, f, p: e.upscale(f["group"], scale=2**32 + 2), "scale"),
    "file scale wraps": (lambda e, f, p: e.upscale(p["group"], p["out"], 2**32 + 2), "scale"),
    "file blend NaN": (lambda e, f, p: e.colorize(p["group"], p["out"], NAN), "blend"),
    "NUL in input": (lambda e, f, p: e.colorize(p["group"] + "\0.jpg"), "image path"),
    "NUL in output": (lambda e, f, p: e.colorize(f["group"], output=p["out"] + "\0x"),
                      "output"),
    "NUL in file form": (lambda e, f, p: e.enhance(p["group"], p["out"] + "\0x"), "path"),
    "setting NaN": (lambda e, f, p: e.configure(detector_score=NAN), "detector_score"),
    "setting padding string": (lambda e, f, p: e.configure(mask_padding="1234"),
                               "mask_padding"),
    "threads wrap": (lambda e, f, p: brightloom.Engine("models", threads=2**32 + 1), "threads"),
    "model dir NUL": (lambda e, f, p: brightloom.Engine("models\0/elsewhere"), "model_dir"),
}


@pytest.mark.parametrize("case", BAD_VALUES)
def test_bad_values_raise_value_error_naming_the_setting(engine, faces, paths, case):
    call, name = BAD_VALUES[case]
    with pytest.raises(ValueError, match=name):
        call(engine, faces, paths)


def test_the_engines_own_refusals_keep_their_status(engine, faces):
    with pytest.raises(StatusError) as caught:
        engine.enhance(faces["group"], detector_score=NAN)
    assert caught.value.status is Status.BAD_ARGUMENT


def test_max_faces_keeps_the_best_scoring_faces(engine, faces):
    every = engine.detect(faces["group"])
    assert len(every) == 3
    best = engine.detect(faces["group"], max_faces=2)
    assert [face.box for face in best] == [face.box for face in every[:2]]


def test_closing_from_the_log_callback_raises_instead_of_waiting(engine, faces, on_log):
    raised = []

    def close_now(line):
        if not raised:
            try:
                engine.close()
            except RuntimeError as error:
                raised.append(error)
    on_log["call"] = close_now
    try:
        result = engine.upscale(faces["source"])
    finally:
        on_log["call"] = None
    assert len(raised) == 1 and "inside one of its own calls" in str(raised[0])
    assert result.shape[0] == 2 * faces["source"].shape[0]
    # The engine was left open and works.
    assert len(engine.detect(faces["group"])) == 3


@pytest.mark.parametrize("shape, strides", [((1, 300_000_000, 3), (0, 0, 1)),
                                            ((1, 300_000_000), (0, 0))],
                         ids=["rgb", "grey"])
def test_an_oversized_strided_array_is_refused_before_it_is_copied(engine, shape, strides):
    pixels = np.lib.stride_tricks.as_strided(np.zeros(3, np.uint8), shape=shape,
                                             strides=strides)
    tracemalloc.start()
    try:
        with pytest.raises(StatusError) as caught:
            engine.colorize(pixels)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert caught.value.status is Status.TOO_LARGE
    assert peak < 16 << 20

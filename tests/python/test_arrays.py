"""The engine's in-memory operations: every kind of input gives the same
result, bad inputs and failures raise with their status, detection and target
selection, swap sessions, the log callback, and threads."""
import io
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest
from PIL import Image

import brightloom
from brightloom import Status, StatusError


@pytest.fixture(scope="module")
def log_lines():
    return []


@pytest.fixture(scope="module")
def engine(demo_dir, log_lines):
    with brightloom.Engine(demo_dir, log=lambda level, line: log_lines.append((level, line))) \
            as opened:
        yield opened


@pytest.fixture(scope="module")
def files(faces, tmp_path_factory):
    folder = tmp_path_factory.mktemp("pictures")
    paths = {}
    for name, pixels in faces.items():
        paths[name] = str(folder / f"{name}.png")
        Image.fromarray(pixels).save(paths[name])
    return paths


def png_bytes(pixels):
    out = io.BytesIO()
    Image.fromarray(pixels).save(out, "PNG")
    return out.getvalue()


def with_row_padding(pixels):
    padded = np.zeros((pixels.shape[0], pixels.shape[1] + 7, 3), np.uint8)
    padded[:, :pixels.shape[1]] = pixels
    return padded[:, :pixels.shape[1]]


INPUT_KINDS = {
    "path": lambda pixels, path: path,
    "bytes": lambda pixels, path: png_bytes(pixels),
    "array": lambda pixels, path: pixels,
    "rows apart": lambda pixels, path: with_row_padding(pixels),
    "column-major": lambda pixels, path: np.asfortranarray(pixels),
    "bottom-up rows": lambda pixels, path: pixels[::-1].copy()[::-1],
    "alpha": lambda pixels, path: np.dstack([pixels, np.full(pixels.shape[:2], 9, np.uint8)]),
    "PIL": lambda pixels, path: Image.fromarray(pixels),
}


@pytest.mark.parametrize("kind", INPUT_KINDS)
def test_every_input_kind_swaps_like_an_array(engine, faces, files, kind):
    expected = engine.swap(faces["source"], faces["group"])
    make = INPUT_KINDS[kind]
    result = engine.swap(make(faces["source"], files["source"]),
                         make(faces["group"], files["group"]))
    assert result.dtype == np.uint8 and result.shape == faces["group"].shape
    assert np.array_equal(result, expected)
    assert not np.array_equal(result, faces["group"])


def test_grey_is_read_as_three_equal_channels(engine, faces):
    grey = faces["group"][:, :, 1]
    assert np.array_equal(engine.colorize(grey, blend=50),
                          engine.colorize(np.dstack([grey, grey, grey]), blend=50))


def test_file_forms_write_what_the_arrays_hold(engine, faces, files, tmp_path):
    expected = engine.swap(faces["source"], faces["group"])
    assert engine.swap(files["source"], files["group"], output=tmp_path / "keyword.png") is None
    assert engine.swap(files["source"], files["group"], str(tmp_path / "positional.png")) is None
    for name in ("keyword.png", "positional.png"):
        assert np.array_equal(np.asarray(Image.open(tmp_path / name)), expected), name


@pytest.mark.parametrize("call, error, match", [
    (lambda e, f: e.colorize(f["group"].astype(np.float32)), TypeError, "uint8"),
    (lambda e, f: e.colorize(f["group"][:, :, :2]), ValueError, "H x W x 3"),
    (lambda e, f: e.colorize(f["group"].tolist()), TypeError, "numpy array"),
    (lambda e, f: e.colorize(f["group"], shade=1), TypeError, "shade"),
    (lambda e, f: e.swap(f["source"], f["group"], target="left"), ValueError, "target"),
    (lambda e, f: e.swap(f["source"], f["group"], target=np.zeros(3)), ValueError, "512"),
], ids=["float", "two channels", "list", "unknown option", "target name", "short embedding"])
def test_refused_before_the_library_is_called(engine, faces, call, error, match):
    with pytest.raises(error, match=match):
        call(engine, faces)


@pytest.mark.parametrize("call, status, match", [
    (lambda e, f: e.colorize(b"not an image"), Status.UNSUPPORTED_FORMAT, ""),
    (lambda e, f: e.colorize("/nonexistent/x.png"), Status.UNREADABLE_INPUT, "/nonexistent/x.png"),
    (lambda e, f: e.upscale(f["group"], scale=3), Status.BAD_ARGUMENT, ""),
    (lambda e, f: e.swap(np.zeros((64, 64, 3), np.uint8), f["group"]), Status.NO_FACE,
     "No face detected in source image"),
    (lambda e, f: e.swap(f["source"], f["group"], target=7), Status.NO_FACE,
     "No face at position 7 in target image"),
], ids=["bytes", "missing file", "scale", "no source face", "position"])
def test_failures_carry_the_status_and_message(engine, faces, call, status, match):
    with pytest.raises(StatusError, match=match) as caught:
        call(engine, faces)
    assert isinstance(caught.value, brightloom.BrightloomError)
    assert caught.value.status is status and caught.value.status.value == int(status)
    assert caught.value.message == str(caught.value)


def test_detect_finds_the_group_best_first(engine, faces):
    found = engine.detect(faces["group"], embedding=True)
    assert len(found) == 3
    assert [f.score for f in found] == sorted((f.score for f in found), reverse=True)
    centres = sorted((f.box[0] + f.box[2]) / 2 for f in found)
    assert centres == pytest.approx([192, 320, 448], abs=8)
    for face in found:
        assert face.points5.shape == (5, 2) and face.points68.shape == (68, 2)
        assert np.linalg.norm(face.embedding) == pytest.approx(1, abs=1e-3)
    assert all(f.embedding is None for f in engine.detect(faces["group"]))


def changed_columns(before, after):
    columns = np.nonzero(np.any(before != after, axis=(0, 2)))[0]
    return columns.min(), columns.max()


def test_target_swaps_only_the_chosen_face(engine, faces):
    found = engine.detect(faces["group"], embedding=True)
    for face in found[:2]:
        position = found.index(face)
        for target in (position, face):
            result = engine.swap(faces["source"], faces["group"], target=target)
            left, right = changed_columns(faces["group"], result)
            assert face.box[0] - 40 <= left and right <= face.box[2] + 40


def test_swap_session_gives_the_one_shot_result(engine, faces):
    with engine.swap_session(faces["source"]) as session:
        assert np.array_equal(session.swap(faces["group"]),
                              engine.swap(faces["source"], faces["group"]))
    with pytest.raises(brightloom.BrightloomError, match="closed"):
        session.swap(faces["group"])


def test_log_lines_reach_the_callback(engine, log_lines):
    assert log_lines and all(isinstance(level, brightloom.LogLevel) for level, _ in log_lines)
    assert any(line.startswith("[brightloom]") for _, line in log_lines)


def test_threads_on_one_engine_equal_the_serial_results(engine, faces):
    calls = [lambda: engine.swap(faces["source"], faces["group"]),
             lambda: engine.enhance(faces["group"]),
             lambda: engine.colorize(faces["group"], blend=70),
             lambda: engine.detect(faces["group"], embedding=True)[0].embedding] * 3
    serial = [call() for call in calls]
    with ThreadPoolExecutor(max_workers=4) as pool:
        threaded = list(pool.map(lambda call: call(), calls))
    for one, other in zip(serial, threaded):
        assert np.array_equal(one, other)

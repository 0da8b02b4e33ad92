import os
import threading

import pytest

import brightloom
from conftest import write_bmp


def test_operation_failure_names_the_path(models_dir, tmp_path):
    missing = tmp_path / "missing.png"
    with brightloom.Engine(os.path.join(models_dir, "slots"), swap=False) as engine:
        with pytest.raises(brightloom.BrightloomError, match="Failed to load image: .*missing.png"):
            engine.colorize(missing, tmp_path / "out.png")
        with pytest.raises(brightloom.BrightloomError, match="swap is not available"):
            engine.swap(missing, missing, tmp_path / "out.png")


def make_frames(folder, count, size=48):
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        write_bmp(os.path.join(folder, f"frame_{i:03d}.bmp"), size, size, (40 + i, 90, 160))


def test_directory_job_reports_progress_and_finishes(models_dir, tmp_path):
    make_frames(tmp_path / "in", 4)
    seen = []
    with brightloom.Engine(os.path.join(models_dir, "slots"), swap=False) as engine:
        done = engine.process_frames("colorize", tmp_path / "in", tmp_path / "out" / "nested",
                                     progress=lambda d, t: seen.append((d, t)), poll_interval=0.01)
    assert done is True
    assert seen[-1] == (4, 4)
    assert [d for d, _ in seen] == sorted(d for d, _ in seen)
    assert sorted(os.listdir(tmp_path / "out" / "nested")) == sorted(os.listdir(tmp_path / "in"))


def test_progress_callback_returning_false_cancels(models_dir, tmp_path):
    make_frames(tmp_path / "in", 40, size=256)
    with brightloom.Engine(os.path.join(models_dir, "slots"), swap=False) as engine:
        done = engine.process_frames("colorize", tmp_path / "in", tmp_path / "out",
                                     progress=lambda d, t: d < 1, poll_interval=0.005)
    assert done is False
    assert 1 <= len(os.listdir(tmp_path / "out")) < 40


def test_cancel_from_another_thread_and_errors_of_directory_jobs(models_dir, tmp_path):
    make_frames(tmp_path / "in", 40, size=256)
    with brightloom.Engine(os.path.join(models_dir, "slots"), swap=False) as engine:
        def cancel_after_first_frame(done, total):
            if done >= 1:
                threading.Thread(target=engine.cancel).start()
        assert engine.process_frames("colorize", tmp_path / "in", tmp_path / "out",
                                     progress=cancel_after_first_frame,
                                     poll_interval=0.005) is False
        with pytest.raises(brightloom.BrightloomError, match="No frames found in"):
            engine.process_frames("enhance", tmp_path / "out" / "..", tmp_path / "none")
        with pytest.raises(ValueError, match="mode"):
            engine.process_frames("sharpen", tmp_path / "in", tmp_path / "out")


def test_progress_callback_cannot_reenter_the_library(models_dir, tmp_path):
    make_frames(tmp_path / "in", 40, size=256)
    with brightloom.Engine(os.path.join(models_dir, "slots"), swap=False) as engine:
        def reenter(done, total):
            engine.colorize(tmp_path / "in" / "frame_000.bmp", tmp_path / "x.png")
        with pytest.raises(brightloom.BrightloomError, match="directory job is running"):
            engine.process_frames("colorize", tmp_path / "in", tmp_path / "out",
                                  progress=reenter, poll_interval=0.005)
        # The job was cancelled and waited for: the engine is usable again.
        assert len(os.listdir(tmp_path / "out")) < 40
        engine.colorize(tmp_path / "in" / "frame_000.bmp", tmp_path / "x.png")

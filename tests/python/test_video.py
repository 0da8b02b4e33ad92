import os
import tempfile

import pytest

import brightloom

import video_samples as vs  # tests/support, on the path through conftest.py
from video_samples import demo_models  # noqa: F401  (a fixture)


@pytest.fixture(scope="module")
def clip(tmp_path_factory):
    vs.need_ffmpeg()
    folder = str(tmp_path_factory.mktemp("clips"))
    return vs.make_video(os.path.join(folder, "clip.mp4"), folder, frames=6, sound="aac")


@pytest.fixture
def private_tmp(tmp_path, monkeypatch):
    folder = tmp_path / "tmp"
    os.makedirs(folder)
    monkeypatch.setattr(tempfile, "tempdir", str(folder))
    return folder


def assert_nothing_left(tmp_path, private_tmp, output):
    assert not os.path.exists(output)
    assert vs.leftovers(str(tmp_path)) == vs.leftovers(str(private_tmp)) == []


def test_swap_video_reports_progress_and_keeps_the_stream(demo_models, clip, tmp_path,
                                                          private_tmp):
    source, output = str(tmp_path / "source.png"), str(tmp_path / "out.mkv")
    vs.write_source(source)
    seen = []
    with brightloom.Engine(demo_models) as engine:
        done = engine.swap_video(source, clip, output, reference_frame=0,
                                 progress=lambda d, t: seen.append((d, t)))
        with pytest.raises(brightloom.BrightloomError, match="No frame 99 in: "):
            engine.swap_video(source, clip, str(tmp_path / "none.mp4"), reference_frame=99)
    assert done is True
    assert seen == [(i, 6) for i in range(1, 7)]
    video, audio, _ = vs.probe(output)
    assert video["nb_read_frames"] == "6"
    assert [a["codec_name"] for a in audio] == ["aac"]
    assert_nothing_left(tmp_path, private_tmp, str(tmp_path / "none.mp4"))


class Stop(Exception):
    pass


def stop(done, total):
    raise Stop


@pytest.mark.parametrize("progress, outcome", [(lambda d, t: d < 2, False),
                                               (stop, Stop)], ids=["cancel", "raise"])
def test_stopped_video_job_leaves_nothing(demo_models, clip, tmp_path, private_tmp, progress,
                                          outcome):
    output = str(tmp_path / "out.mp4")
    with brightloom.Engine(demo_models, swap=False) as engine:
        if outcome is False:
            assert engine.process_video("colorize", clip, output, progress=progress) is False
        else:
            with pytest.raises(outcome):
                engine.process_video("colorize", clip, output, progress=progress)
        # The engine is free again afterwards.
        assert engine.process_video("colorize", clip, str(tmp_path / "after.mp4")) is True
    os.unlink(tmp_path / "after.mp4")
    assert_nothing_left(tmp_path, private_tmp, output)


def test_video_errors(demo_models, clip, tmp_path, private_tmp):
    notes = tmp_path / "notes.mp4"
    notes.write_text("not a video")
    same = os.path.join(os.path.dirname(clip), ".", os.path.basename(clip))
    with brightloom.Engine(demo_models, swap=False) as engine:
        for call, error, message in [
            (lambda: engine.process_video("colorize", clip, same), brightloom.BrightloomError,
             "Output is the input: "),
            (lambda: engine.process_video("colorize", notes, tmp_path / "o.mp4"),
             brightloom.BrightloomError, "Not a video: "),
            (lambda: engine.process_video("colorize", clip, tmp_path / "o.avi"), ValueError,
             "container"),
            (lambda: engine.process_video("colorize", clip, tmp_path / "o.webm",
                                          codec="libx264"), ValueError, "VP9"),
            (lambda: engine.process_video("sharpen", clip, tmp_path / "o.mp4"), ValueError,
             "mode"),
        ]:
            with pytest.raises(error, match=message):
                call()
    assert sorted(os.listdir(tmp_path)) == ["notes.mp4", "tmp"]

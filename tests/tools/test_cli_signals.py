"""Every long-running command stopped by a signal, or by two: each request
to end (SIGTERM, SIGHUP from a closed terminal, SIGQUIT) ends it by that
signal, with no partial output, temporary folder or core file left."""
import os
import resource
import signal
import subprocess
import time

import pytest

import video_samples as vs  # tests/support, on the path through conftest.py
from video_samples import demo_models  # noqa: F401  (a fixture)

HUP, INT, QUIT, TERM = signal.SIGHUP, signal.SIGINT, signal.SIGQUIT, signal.SIGTERM

# command, signals in the order sent, expected return code (-N: ended by signal N)
CASES = [
    ("swap-video", [HUP], -HUP),
    ("swap-video", [QUIT], -QUIT),
    ("swap-video", [INT, HUP], -HUP),
    ("process-video", [HUP], -HUP),
    ("process-video", [INT, TERM], -TERM),
    ("swap-dir", [HUP], -HUP),
    ("process-dir", [QUIT], -QUIT),
]


@pytest.fixture(scope="module")
def inputs(demo_models, tmp_path_factory):
    """The source face, a 40-frame video and the same frames as a folder."""
    folder = tmp_path_factory.mktemp("inputs")
    vs.write_source(folder / "source.png")
    video = vs.make_video(str(folder / "long.mp4"), str(folder), frames=40)
    frames = vs.write_frames(str(folder / "frames"), 40)
    return {"source": folder / "source.png", "video": video, "frames": frames}


def arguments(command, inputs, output):
    return {"swap-video": ["swap-video", inputs["source"], inputs["video"], output],
            "process-video": ["process-video", "colorize", inputs["video"], output],
            "swap-dir": ["swap-dir", inputs["source"], inputs["frames"], output],
            "process-dir": ["process-dir", "colorize", inputs["frames"], output]}[command]


def allow_core_files():
    """A signal's default action may then leave a core file, as it would for a
    user whose shell allows them."""
    _, hard = resource.getrlimit(resource.RLIMIT_CORE)
    resource.setrlimit(resource.RLIMIT_CORE, (hard, hard))


def started(output):
    """The run is under way: a video run's partial output exists, or a
    directory run's first frame."""
    folder = os.path.dirname(output)
    if output.endswith(".mp4"):
        return vs.leftovers(folder) != []
    return os.path.isdir(output) and os.listdir(output) != []


@pytest.mark.parametrize("command, signals, code", CASES,
                         ids=[f"{c[0]} {'+'.join(s.name for s in c[1])}" for c in CASES])
def test_signals_end_the_run_and_leave_nothing(cli, demo_models, inputs, tmp_path, command,
                                               signals, code):
    folders = {name: tmp_path / name for name in ("out", "tmp", "work")}
    for folder in folders.values():
        os.makedirs(folder)
    output = str(folders["out"] / ("result.mp4" if command.endswith("video") else "frames"))
    env = dict(os.environ, TMPDIR=str(folders["tmp"]))
    env.pop("BRIGHTLOOM_MODELS", None)
    process = subprocess.Popen(
        [os.path.abspath(cli), *map(str, ["-q", "-m", demo_models,
                                          *arguments(command, inputs, output)])],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env,
        cwd=folders["work"], preexec_fn=allow_core_files)
    deadline = time.monotonic() + 60
    while not started(output) and process.poll() is None and time.monotonic() < deadline:
        time.sleep(0.02)
    for number in signals:
        process.send_signal(number)
        time.sleep(0.05)
    _, stderr = process.communicate(timeout=60)
    assert process.returncode == code, stderr
    assert os.listdir(folders["work"]) == []
    assert os.listdir(folders["tmp"]) == []
    assert vs.leftovers(str(folders["out"])) == []
    if command.endswith("video"):
        assert not os.path.exists(output)

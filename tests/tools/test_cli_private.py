"""A run writes only what it was asked to and sends nothing: the inference
runtime's telemetry (a device id under ~/.cache, session files in $TMPDIR,
an uploader) stays off unless the host itself switches it on."""
import os
import shutil
import subprocess

import pytest

import video_samples as vs  # tests/support, on the path through conftest.py
import demo_pictures  # noqa: E402  (tools/, on the path through video_samples)


@pytest.fixture
def private_swap(cli, models_dir, tmp_path):
    """swap(prefix=[]): runs init + a swap + shutdown, optionally under the
    command `prefix`, with HOME, TMPDIR and the working folder in empty
    private folders; returns (result, those folders)."""
    models = vs.demo_model_dir(models_dir, str(tmp_path / "models"))
    inputs = tmp_path / "inputs"
    os.makedirs(inputs)
    vs.write_source(inputs / "source.png")
    demo_pictures.scene((("ana", 320),)).save(inputs / "target.png")
    folders = {name: tmp_path / name for name in ("home", "tmp", "work")}
    for folder in folders.values():
        os.makedirs(folder)
    dropped = ("ORT_DISABLE_TELEMETRY", "BRIGHTLOOM_MODELS")
    env = {key: value for key, value in os.environ.items()
           if not key.startswith("XDG_") and key not in dropped}
    env.update(HOME=str(folders["home"]), TMPDIR=str(folders["tmp"]))
    # LeakSanitizer stops the process's threads with ptrace, which a tracer
    # already holds.
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"

    def swap(prefix=()):
        command = [*prefix, os.path.abspath(cli), "-m", models, "swap", inputs / "source.png",
                   inputs / "target.png", inputs / "swapped.png"]
        result = subprocess.run(list(map(str, command)), cwd=folders["work"], env=env,
                                capture_output=True, text=True, timeout=120)
        assert result.returncode == 0, result.stderr
        assert os.path.getsize(inputs / "swapped.png") > 0
        return result, folders
    return swap


def assert_untouched(folders):
    for name, folder in folders.items():
        left = [os.path.relpath(os.path.join(top, entry), folder)
                for top, dirs, files in os.walk(folder) for entry in dirs + files]
        assert left == [], f"{name}: {left}"


def test_a_swap_writes_nothing_but_its_output(private_swap):
    _, folders = private_swap()
    assert_untouched(folders)


def test_a_swap_opens_no_socket(private_swap, tmp_path):
    strace = shutil.which("strace")
    if not strace:
        pytest.skip("strace is not installed (Debian package strace)")
    trace = tmp_path / "trace.txt"
    _, folders = private_swap([strace, "-f", "-qq", "-e", "trace=socket,connect", "-o", trace])
    with open(trace) as f:
        calls = [line for line in f if "socket(" in line or "connect(" in line]
    assert calls == []
    assert_untouched(folders)

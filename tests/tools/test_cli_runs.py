import os
import signal
import subprocess
import threading
import time

import pytest

from bmp_files import write_header_only
from conftest import write_bmp


def make_frames(folder, count, size=64):
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        write_bmp(os.path.join(folder, f"f{i:03d}.bmp"), size, size, (30 + i, 120, 200))


def wait_for(condition, seconds=60.0):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out")
        time.sleep(0.01)


def blocked_opening_a_file(pid):
    """True while one of the process's threads waits in openat (x86-64 call 257)."""
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/syscall") as f:
                if f.read().split(" ", 1)[0] == "257":
                    return True
        except OSError:
            pass
    return False


def test_one_shot_failure_names_the_step_and_path(run, models_dir, tmp_path):
    result = run("-m", os.path.join(models_dir, "slots"), "colorize", tmp_path / "none.png",
                 tmp_path / "out.png")
    assert result.returncode == 1
    assert f"brightloom: error: Failed to load image: {tmp_path / 'none.png'}" in result.stderr


def test_directory_run_creates_the_output_folder_and_reports_progress(run, models_dir, tmp_path):
    make_frames(tmp_path / "in", 5)
    out = tmp_path / "out" / "deeper"
    result = run("-m", os.path.join(models_dir, "slots"), "process-dir", "colorize",
                 tmp_path / "in", out, "--blend", "50")
    assert result.returncode == 0, result.stderr
    assert sorted(os.listdir(out)) == sorted(os.listdir(tmp_path / "in"))
    # Not a terminal: the bar is printed as plain lines, the last one complete.
    assert "5/5 100%" in result.stderr
    assert "brightloom: 5 frames in " in result.stderr
    # The library's own lines still come through, whole.
    assert any(line.startswith("[brightloom] Initialized") for line in result.stderr.splitlines())


def test_directory_run_failure_exits_1(run, models_dir, tmp_path):
    os.makedirs(tmp_path / "empty")
    result = run("-q", "-m", os.path.join(models_dir, "slots"), "process-dir", "enhance",
                 tmp_path / "empty", tmp_path / "out")
    assert result.returncode == 1
    assert f"brightloom: error: No frames found in: {tmp_path / 'empty'}" in result.stderr


# format, declared size, --scale, refused before the models load?
UPSCALE_LIMITS = [
    ("bmp", (10000, 10000), 2, True),
    ("png", (8192, 8193), 2, True),   # one row over 2^28
    ("png", (8192, 8192), 2, False),  # exactly 2^28: the library's to judge
    ("webp", (4097, 4096), 4, True),
    ("webp", (4096, 4096), 4, False),
]


@pytest.mark.parametrize("kind, size, scale, refused", UPSCALE_LIMITS,
                         ids=[f"{c[0]} {c[1][0]}x{c[1][1]} x{c[2]}" for c in UPSCALE_LIMITS])
def test_upscale_over_the_pixel_limit_is_refused_naming_it(run, models_dir, tmp_path, kind, size,
                                                         scale, refused):
    image = tmp_path / f"big.{kind}"
    write_header_only(image, kind, *size)
    result = run("-m", os.path.join(models_dir, "slots"), "upscale", image, tmp_path / "out.png",
                 "--scale", scale)
    assert result.returncode == 1
    limit_message = (f"brightloom: error: Upscaled result of {size[0] * scale}x{size[1] * scale} "
                     f"pixels is over the limit of 268435456 pixels (2^28): {image}")
    assert (limit_message in result.stderr) == refused, result.stderr
    # Refused before the models load; otherwise the library reads the file.
    assert ("[brightloom]" in result.stderr) != refused
    assert not os.path.exists(tmp_path / "out.png")


def start(cli, *args):
    env = dict(os.environ)
    env.pop("BRIGHTLOOM_MODELS", None)
    return subprocess.Popen([cli, *map(str, args)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=env)


def test_ctrl_c_cancels_after_the_current_frame(cli, models_dir, tmp_path):
    count = 40
    make_frames(tmp_path / "in", count, size=256)
    out = tmp_path / "out"
    process = start(cli, "-m", os.path.join(models_dir, "slots"), "process-dir", "colorize",
                    tmp_path / "in", out)
    wait_for(lambda: out.exists() and len(os.listdir(out)) >= 1)
    process.send_signal(signal.SIGINT)
    _, stderr = process.communicate(timeout=60)
    assert process.returncode == 130, stderr
    assert "cancelling after the current frame" in stderr
    assert "brightloom: cancelled after" in stderr
    assert 1 <= len(os.listdir(out)) < count


def test_second_ctrl_c_exits_at_once(cli, models_dir, tmp_path):
    # A frame that is a pipe blocks the run until someone writes to it, so
    # the run is certainly in the middle of a frame when the signals arrive.
    os.makedirs(tmp_path / "in")
    make_frames(tmp_path / "in", 1)
    os.mkfifo(tmp_path / "in" / "f001.bmp")
    process = start(cli, "-m", os.path.join(models_dir, "slots"), "process-dir", "colorize",
                    tmp_path / "in", tmp_path / "out")
    # The first output file exists before it is complete; only a run blocked
    # on the pipe is certainly past the point where it checks for a cancel.
    wait_for(lambda: (tmp_path / "out" / "f000.bmp").exists())
    wait_for(lambda: blocked_opening_a_file(process.pid))
    process.send_signal(signal.SIGINT)
    time.sleep(0.3)
    assert process.poll() is None
    process.send_signal(signal.SIGINT)
    try:
        _, stderr = process.communicate(timeout=10)
    finally:
        # Unblock the pipe in case the process is still waiting on it.
        threading.Thread(target=lambda: open(tmp_path / "in" / "f001.bmp", "wb").close(),
                         daemon=True).start()
    assert process.returncode == 130
    assert "brightloom: interrupted" in stderr

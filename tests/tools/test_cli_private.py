"""A run writes only what it was asked to and sends nothing: the inference
runtime's telemetry (a device id under ~/.cache, session files in $TMPDIR,
an uploader) stays off unless the host switches it on itself."""
import os
import shutil
import subprocess

import pytest

import video_samples as vs  # tests/support, on the path through conftest.py
import demo_pictures  # noqa: E402  (tools/, on the path through video_samples)


@pytest.mark.parametrize("traced", [False, True], ids=["files", "sockets"])
def test_a_swap_leaves_no_file_and_opens_no_socket(cli, models_dir, tmp_path, traced):
    strace = shutil.which("strace")
    if traced and not strace:
        pytest.skip("strace is not installed (Debian package strace)")
    models = vs.demo_model_dir(models_dir, str(tmp_path / "models"))
    vs.write_source(tmp_path / "source.png")
    demo_pictures.scene((("ana", 320),)).save(tmp_path / "target.png")
    home, tmp, work = private = [tmp_path / name for name in ("home", "tmp", "work")]
    for folder in private:
        os.makedirs(folder)
    env = {key: value for key, value in os.environ.items() if not key.startswith("XDG_")
           and key not in ("ORT_DISABLE_TELEMETRY", "BRIGHTLOOM_MODELS")}
    # LeakSanitizer stops the threads with ptrace, which strace already holds.
    env.update(HOME=str(home), TMPDIR=str(tmp),
               ASAN_OPTIONS=env.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
    trace = tmp_path / "trace.txt"
    prefix = [strace, "-f", "-qq", "-e", "trace=socket,connect", "-o", trace] if traced else []
    command = [*prefix, os.path.abspath(cli), "-m", models, "swap", tmp_path / "source.png",
               tmp_path / "target.png", tmp_path / "swapped.png"]
    result = subprocess.run(list(map(str, command)), cwd=work, env=env, capture_output=True,
                            text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert os.path.getsize(tmp_path / "swapped.png") > 0
    for folder in private:
        assert [os.path.relpath(os.path.join(top, name), folder)
                for top, dirs, files in os.walk(folder) for name in dirs + files] == []
    if traced:
        calls = trace.read_text().splitlines()
        assert [line for line in calls if "socket(" in line or "connect(" in line] == []

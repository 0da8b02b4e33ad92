import pytest

SUBCOMMANDS = {
    "swap": ["source", "target", "output"],
    "blend": ["source", "target", "output"],
    "enhance": ["input", "output"],
    "colorize": ["input", "output", "--blend"],
    "upscale": ["input", "output", "--scale", "--blend"],
    "swap-dir": ["source", "input_dir", "output_dir", "--enhance", "--reference",
                 "--reference-position", "--reference-distance"],
    "process-dir": ["mode", "input_dir", "output_dir", "--scale", "--blend"],
    "swap-video": ["source", "input", "output", "--enhance", "--reference", "--reference-frame",
                   "--reference-position", "--reference-distance", "--crf", "--preset", "--codec"],
    "detect": ["images", "--json", "--embedding"],
    "process-video": ["mode", "input", "output", "--scale", "--blend", "--crf", "--preset",
                      "--codec"],
}
GLOBAL_OPTIONS = ["--models", "--detector", "--swapper", "--enhancer", "--detector-score",
                  "--mask-blur", "--mask-padding", "--enhancer-blend", "--quiet", "--version"]


def test_version_and_help_cover_every_subcommand_and_setting(run):
    version = run("--version")
    assert (version.returncode, version.stdout.strip()) == (0, "brightloom 1.0.0")
    top = run("--help")
    assert top.returncode == 0
    for word in GLOBAL_OPTIONS + list(SUBCOMMANDS):
        assert word in top.stdout
    for name, words in SUBCOMMANDS.items():
        sub = run(name, "--help")
        assert sub.returncode == 0, name
        for word in words:
            assert word in sub.stdout, (name, word)


@pytest.mark.parametrize("args", [
    [],                                                   # no subcommand
    ["swap", "a.png"],                                    # missing positionals
    ["upscale", "a.png", "b.png", "--scale", "3"],        # only 2 or 4
    ["--detector", "nope", "enhance", "a", "b"],          # unknown model name
    ["--mask-padding", "1", "2", "enhance", "a", "b"],    # four values needed
    ["--mask-blur", "2", "enhance", "a", "b"],            # out of range
    ["process-dir", "sharpen", "in", "out"],              # unknown mode
    ["enhance", "a.png", "b.png"],                        # no model directory
    ["swap-video", "s.png", "a.mp4", "b.mp4", "--reference", "r.png", "--reference-frame", "1"],
    ["process-video", "colorize", "a.mp4", "b.mp4", "--crf", "52"],
    ["-m", ".", "process-video", "colorize", "a.mp4", "b.avi"],           # unknown container
    ["-m", ".", "process-video", "colorize", "a.mp4", "b.webm", "--codec", "libx264"],
])
def test_usage_errors_exit_2_without_touching_the_library(run, args):
    result = run(*args)
    assert result.returncode == 2
    assert "[brightloom]" not in result.stderr


def test_library_failure_exits_1_with_its_message(run, tmp_path):
    result = run("--models", tmp_path, "colorize", "a.png", "b.png")
    assert result.returncode == 1
    assert f"brightloom: error: No face detector model found in {tmp_path}" in result.stderr


def test_models_from_the_environment_and_options_after_the_subcommand(run, tmp_path):
    result = run("enhance", "a.png", "b.png", env={"BRIGHTLOOM_MODELS": str(tmp_path)})
    assert result.returncode == 1
    assert "No face detector model found" in result.stderr
    result = run("enhance", "a.png", "b.png", "-m", tmp_path, "--detector", "yunet")
    assert "No face detector model found" in result.stderr


def test_quiet_keeps_only_the_tools_own_lines(run, tmp_path):
    result = run("-q", "--models", tmp_path, "enhance", "a.png", "b.png")
    assert result.returncode == 1
    lines = result.stderr.strip().splitlines()
    assert len(lines) == 1 and lines[0].startswith("brightloom: error: ")

import os
import signal
import subprocess
import time
from fractions import Fraction

import numpy as np
import pytest
from PIL import Image, ImageFilter

import video_samples as vs  # tests/support, on the path through conftest.py
from video_samples import demo_models  # noqa: F401  (a fixture)

CLIPS = {
    # name: (file name, make_video arguments)
    "sound": ("sound.mp4", dict(frames=8, sound="aac")),
    "odd": ("odd.mp4", dict(frames=5, size=(65, 49))),
    "rotated": ("rotated.mp4", dict(frames=5, rotate=90, sound="aac")),
    "variable": ("variable.mp4", dict(frames=6, timestamps=[0, 0.04, 0.1, 0.12, 0.3, 0.33])),
    "long": ("long.mp4", dict(frames=40)),
}


@pytest.fixture(scope="module")
def clip(tmp_path_factory):
    """clip(name): the synthetic video of that name, made on first use."""
    vs.need_ffmpeg()
    folder = str(tmp_path_factory.mktemp("clips"))
    made = {}

    def get(name):
        if name not in made:
            file_name, arguments = CLIPS[name]
            made[name] = vs.make_video(os.path.join(folder, file_name), folder, **arguments)
        return made[name]
    return get


@pytest.fixture
def env(tmp_path):
    """A private TMPDIR, so the tests can see that temporary files are gone."""
    os.makedirs(tmp_path / "tmp")
    return {"TMPDIR": str(tmp_path / "tmp")}


def assert_nothing_left(tmp_path, output):
    assert not os.path.exists(output)
    assert vs.leftovers(os.path.dirname(output)) == []
    assert vs.leftovers(str(tmp_path / "tmp")) == []


def single_image(run, models, command, frame, result, *options):
    done = run("-q", "-m", models, command, *options, frame, result)
    assert done.returncode == 0, done.stderr
    return np.asarray(Image.open(result).convert("RGB"), np.float64)


def test_swap_video_keeps_the_stream_and_matches_the_single_image_swap(run, demo_models, clip,
                                                                      tmp_path, env):
    source, output = tmp_path / "source.png", str(tmp_path / "out.mp4")
    vs.write_source(source)
    result = run("-m", demo_models, "swap-video", source, clip("sound"), output, env=env)
    assert result.returncode == 0, result.stderr
    assert "8/8 100%" in result.stderr and "8 frames in " in result.stderr
    video, audio, container = vs.probe(output)
    in_video, in_audio, in_container = vs.probe(clip("sound"))
    assert video["nb_read_frames"] == in_video["nb_read_frames"] == "8"
    assert vs.rate(video) == vs.rate(in_video) == (Fraction(30000, 1001),) * 2
    assert (video["width"], video["height"]) == (in_video["width"], in_video["height"])
    assert [a["codec_name"] for a in audio] == ["aac"]
    assert abs(float(container["duration"]) - float(in_container["duration"])) < 0.05
    assert vs.leftovers(str(tmp_path)) == vs.leftovers(str(tmp_path / "tmp")) == []

    frame = vs.decode_frame(clip("sound"), 5, str(tmp_path / "in5.png"))
    swapped = vs.decode_frame(output, 5, str(tmp_path / "out5.png"))
    single = single_image(run, demo_models, "swap", str(tmp_path / "in5.png"),
                          tmp_path / "single5.png", source)
    # Where the single-image swap changed the frame: the faces.
    faces = np.abs(single - frame).max(axis=2) > 60
    assert faces.sum() > 100
    assert np.abs(swapped - single)[faces].mean() < 12
    assert np.abs(swapped - frame)[faces].mean() > 40
    mask = Image.fromarray(faces.astype(np.uint8) * 255).filter(ImageFilter.MaxFilter(17))
    away = np.asarray(mask) == 0
    assert np.abs(swapped - frame)[away].mean() < 3


# name, command options, output extension, single-image command and options
PROCESS_CASES = [
    ("odd", ["colorize"], ".mp4", ["colorize"]),
    ("rotated", ["colorize", "--blend", "60"], ".mp4", ["colorize", "--blend", "60"]),
    ("variable", ["enhance"], ".mkv", ["enhance"]),
    ("sound", ["upscale", "--scale", "2"], ".webm", ["upscale", "--scale", "2"]),
]


@pytest.mark.parametrize("name, options, extension, single",
                         PROCESS_CASES, ids=[case[0] + case[2] for case in PROCESS_CASES])
def test_process_video_keeps_count_rate_size_rotation_and_sound(run, demo_models, clip, tmp_path,
                                                                env, name, options, extension,
                                                                single):
    source = clip(name)
    output = str(tmp_path / ("out" + extension))
    result = run("-q", "-m", demo_models, "process-video", options[0], source, output,
                 *options[1:], env=env)
    assert result.returncode == 0, result.stderr
    video, audio, _ = vs.probe(output)
    in_video, in_audio, _ = vs.probe(source)
    scale = 2 if options[0] == "upscale" else 1
    assert video["nb_read_frames"] == in_video["nb_read_frames"]
    assert (video["width"], video["height"]) == (in_video["width"] * scale,
                                                 in_video["height"] * scale)
    assert vs.rotation(video) == vs.rotation(in_video)
    # Matroska shifts everything by the sound encoder's delay when that
    # delay would start the sound before zero: a few milliseconds at most.
    times, in_times = vs.frame_times(output), vs.frame_times(source)
    assert abs(times[0] - in_times[0]) < 0.03
    assert [t - times[0] for t in times] == pytest.approx([t - in_times[0] for t in in_times],
                                                          abs=0.0015)
    # AAC is copied into MP4; WebM takes no AAC, so the sound becomes Opus.
    expected_sound = ["opus" if extension == ".webm" else "aac" for _ in in_audio]
    assert [a["codec_name"] for a in audio] == expected_sound
    assert vs.leftovers(str(tmp_path)) == vs.leftovers(str(tmp_path / "tmp")) == []

    # Each frame is the single-image operation's result, up to encoding noise.
    frame_path = str(tmp_path / "frame.png")
    vs.decode_frame(source, 2, frame_path)
    expected = single_image(run, demo_models, single[0], frame_path, tmp_path / "single.png",
                            *single[1:])
    got = vs.decode_frame(output, 2, str(tmp_path / "got.png"))
    assert got.shape == expected.shape
    assert np.abs(got - expected).mean() < 4


def audio_only(folder):
    path = os.path.join(folder, "tone.m4a")
    subprocess.run([vs.FFMPEG, "-v", "error", "-f", "lavfi", "-i", "sine=frequency=440",
                    "-t", "0.3", path], check=True)
    return path


def text_file(folder):
    path = os.path.join(folder, "notes.mp4")
    with open(path, "w") as f:
        f.write("not a video\n")
    return path


# name, input maker (clip, folder) -> path, output in folder?, env, expected message start
BAD_INPUTS = [
    ("not a video", lambda clip, d: text_file(d), "Not a video: "),
    ("no video stream", lambda clip, d: audio_only(d), "No video stream in: "),
    ("no frames", lambda clip, d: vs.truncate_mp4(clip("sound"), os.path.join(d, "z.mp4"), 0),
     "No frames in: "),
    ("truncated", lambda clip, d: vs.truncate_mp4(clip("sound"), os.path.join(d, "t.mp4"), 0.6),
     "Input ended early after "),
    ("missing", lambda clip, d: os.path.join(d, "missing.mp4"), "Cannot read input: "),
]


@pytest.mark.parametrize("name, make_input, message", BAD_INPUTS,
                         ids=[case[0] for case in BAD_INPUTS])
def test_bad_input_exits_1_and_writes_nothing(run, demo_models, clip, tmp_path, env, name,
                                              make_input, message):
    source = make_input(clip, str(tmp_path))
    output = str(tmp_path / "out.mp4")
    result = run("-q", "-m", demo_models, "process-video", "colorize", source, output, env=env)
    assert result.returncode == 1, result.stderr
    assert f"brightloom: error: {message}" in result.stderr
    assert_nothing_left(tmp_path, output)


def test_refusals_before_the_models_load(run, demo_models, clip, tmp_path, env):
    folder = tmp_path / "clips"
    os.makedirs(folder)
    source = str(folder / "clip.mp4")
    os.symlink(clip("odd"), source)
    cases = [
        # output, extra environment, expected message
        (str(tmp_path / "clips" / ".." / "clips" / "clip.mp4"), {}, "Output is the input: "),
        (str(tmp_path / "none" / "out.mp4"), {}, "Cannot write output: "),
        (str(tmp_path / "out.mp4"), {"PATH": str(tmp_path / "empty")},
         "ffmpeg is not installed: install the Debian package ffmpeg"),
    ]
    for output, extra, message in cases:
        result = run("-m", demo_models, "process-video", "colorize", source, output,
                     env={**env, **extra})
        assert result.returncode == 1, (message, result.stderr)
        assert f"brightloom: error: {message}" in result.stderr
        assert "[brightloom]" not in result.stderr
        assert os.path.getsize(clip("odd")) > 0
    assert sorted(os.listdir(tmp_path)) == ["clips", "tmp"]
    assert vs.leftovers(str(tmp_path / "tmp")) == []


def start(cli, *args, env):
    full_env = dict(os.environ)
    full_env.update(env)
    return subprocess.Popen([cli, *map(str, args)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=full_env)


@pytest.mark.parametrize("signals, code", [([signal.SIGINT], 130),
                                           ([signal.SIGINT, signal.SIGINT], 130),
                                           ([signal.SIGTERM], -signal.SIGTERM)],
                         ids=["ctrl-c", "ctrl-c twice", "sigterm"])
def test_stopped_run_leaves_nothing(cli, demo_models, clip, tmp_path, env, signals, code):
    source, output = tmp_path / "source.png", str(tmp_path / "out.mp4")
    vs.write_source(source)
    process = start(cli, "-m", demo_models, "swap-video", source, clip("long"), output, env=env)
    # The partial output appears beside OUTPUT once the first frame is encoded.
    deadline = time.monotonic() + 60
    while not vs.leftovers(str(tmp_path)) and time.monotonic() < deadline:
        time.sleep(0.02)
    for number in signals:
        process.send_signal(number)
        time.sleep(0.05)
    _, stderr = process.communicate(timeout=60)
    assert process.returncode == code, stderr
    if signals == [signal.SIGINT]:
        assert "brightloom: cancelled after " in stderr
    assert_nothing_left(tmp_path, output)


def test_frames_the_library_fails_on_pass_through_and_are_counted(run, models_dir, clip, tmp_path,
                                                                  env):
    # Without a colorizer model, colorizing fails on every frame.
    models = vs.demo_model_dir(models_dir, str(tmp_path / "models"))
    os.unlink(os.path.join(models, "ddcolor.onnx"))
    output = str(tmp_path / "out.mov")
    result = run("-m", models, "process-video", "colorize", clip("odd"), output, env=env)
    assert result.returncode == 0, result.stderr
    assert "brightloom: warning: 5 of 5 frames could not be processed and were kept unchanged" \
        in result.stderr
    frame = vs.decode_frame(clip("odd"), 3, str(tmp_path / "in.png"))
    assert np.abs(vs.decode_frame(output, 3, str(tmp_path / "out.png")) - frame).mean() < 3


def test_reference_frame_beyond_the_end_fails_cleanly(run, demo_models, clip, tmp_path, env):
    source, output = tmp_path / "source.png", str(tmp_path / "out.mp4")
    vs.write_source(source)
    result = run("-q", "-m", demo_models, "swap-video", source, clip("odd"), output,
                 "--reference-frame", "99", env=env)
    assert result.returncode == 1
    assert f"brightloom: error: No frame 99 in: {clip('odd')}" in result.stderr
    assert_nothing_left(tmp_path, output)


def header_only_video(path, width, height):
    """A raw video that declares its size and holds no frame data."""
    with open(path, "w") as f:
        f.write(f"YUV4MPEG2 W{width} H{height} F30:1 Ip A1:1 C420jpeg\nFRAME\n")
    return path


def test_more_refusals_before_the_models_load(run, demo_models, clip, tmp_path, env):
    folder = tmp_path / "in"
    os.makedirs(folder)
    # Images are told by their bytes, so a face picture may carry a video's name.
    source, reference = str(folder / "face.mp4"), str(folder / "reference.mkv")
    vs.write_source(folder / "face.png")
    os.rename(folder / "face.png", source)
    os.symlink(source, reference)
    big = header_only_video(str(folder / "big.y4m"), 12000, 12000)
    cases = [
        # arguments, expected message
        (["swap-video", source, clip("odd"), str(folder / ".." / "in" / "face.mp4")],
         f"Output is the source image: {folder}/../in/face.mp4"),
        (["swap-video", str(tmp_path / "s.png"), clip("odd"), reference, "--reference", reference],
         f"Output is the reference image: {reference}"),
        (["process-video", "upscale", big, str(tmp_path / "out.mp4")],
         "Upscaled result of 24000x24000 pixels is over the limit of 268435456 pixels (2^28): "
         + big),
    ]
    before = open(source, "rb").read()
    for arguments, message in cases:
        result = run("-m", demo_models, *arguments, env=env)
        assert result.returncode == 1, (message, result.stderr)
        assert f"brightloom: error: {message}" in result.stderr
        assert "[brightloom]" not in result.stderr
    assert open(source, "rb").read() == before
    assert sorted(os.listdir(tmp_path)) == ["in", "tmp"]
    assert vs.leftovers(str(tmp_path / "tmp")) == []


@pytest.mark.parametrize("name, umask, mode", [("odd", 0o022, 0o644), ("rotated", 0o002, 0o664)])
def test_output_gets_the_mode_of_any_new_file(run, demo_models, clip, tmp_path, env, name, umask,
                                              mode):
    output = str(tmp_path / "out.mp4")
    previous = os.umask(umask)
    try:
        result = run("-q", "-m", demo_models, "process-video", "colorize", clip(name), output,
                     env=env)
    finally:
        os.umask(previous)
    assert result.returncode == 0, result.stderr
    assert os.stat(output).st_mode & 0o777 == mode

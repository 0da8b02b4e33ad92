"""Short synthetic videos for the video tests, made with ffmpeg at test time
from the demo's cartoon faces, and ffprobe/ffmpeg readers of the results."""
import fractions
import json
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest
from PIL import Image

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import demo_pictures  # noqa: E402

FFMPEG = shutil.which("ffmpeg")
FFPROBE = shutil.which("ffprobe")
SIZE = 160  # the demo's 640-pixel scenes, a quarter as large


def need_ffmpeg():
    if not FFMPEG or not FFPROBE:
        pytest.skip("ffmpeg is not installed")


def demo_model_dir(models_dir, folder):
    """A model directory as tools/demo.sh builds it: the generated detector,
    landmarker and recognizer with the demo's stand-in swapper and others."""
    os.makedirs(folder, exist_ok=True)
    models_dir = os.path.abspath(models_dir)
    for name in ("scrfd_2.5g.onnx", "2dfan4.onnx", "arcface_w600k_r50.onnx"):
        os.symlink(os.path.join(models_dir, "detect", name), os.path.join(folder, name))
    demo = os.path.join(models_dir, "demo")
    for name in os.listdir(demo):
        if name.endswith(".onnx"):
            os.symlink(os.path.join(demo, name), os.path.join(folder, name))
    return folder


@pytest.fixture(scope="module")
def demo_models(models_dir, tmp_path_factory):
    """The demo model directory, for test modules that import this fixture."""
    need_ffmpeg()
    return demo_model_dir(models_dir, str(tmp_path_factory.mktemp("models") / "demo"))


def write_source(path):
    demo_pictures.scene((("sam", 320),)).save(path)


def write_frames(folder, count, size=(SIZE, SIZE)):
    """A folder of the demo group's frames as PNG files, for the directory runs."""
    _frames(folder, count, size)
    return folder


def _frames(folder, count, size):
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        scene = demo_pictures.scene(demo_pictures.frame_people(i))
        scene.resize(size, Image.BOX).save(os.path.join(folder, f"{i:04d}.png"))
    return os.path.join(folder, "%04d.png")


def make_video(path, work, frames=12, size=(SIZE, SIZE), rate="30000/1001", sound=None,
               rotate=None, timestamps=None, codec="libx264", key_every=None):
    """A video of the swaying demo group. sound: None or an ffmpeg audio
    codec for a tone; rotate: a rotation tag; timestamps: seconds per frame
    for a variable rate (Matroska output only); key_every: frames from one
    key frame to the next."""
    pattern = _frames(os.path.join(work, os.path.basename(path) + ".frames"), frames, size)
    command = [FFMPEG, "-v", "error", "-y", "-framerate", rate, "-i", pattern]
    if sound:
        command += ["-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-shortest",
                    "-c:a", sound]
    pixel_format = "yuv420p" if size[0] % 2 == 0 and size[1] % 2 == 0 else "yuv444p"
    command += ["-c:v", codec, "-pix_fmt", pixel_format]
    if key_every is not None:
        command += ["-g", str(key_every)]
    if timestamps is not None:
        expression = "+".join(f"eq(N\\,{i})*{t}" for i, t in enumerate(timestamps))
        command += ["-vf", f"settb=1/1000,setpts=({expression})/TB", "-fps_mode", "passthrough",
                    "-enc_time_base", "1/1000"]
    if path.endswith(".mp4"):
        command += ["-movflags", "+faststart"]
    subprocess.run(command + [path], check=True)
    if rotate is not None:
        # ffmpeg sets a rotation tag only when copying streams.
        plain = path + ".plain" + os.path.splitext(path)[1]
        os.replace(path, plain)
        subprocess.run([FFMPEG, "-v", "error", "-y", "-i", plain, "-map", "0", "-c", "copy",
                        "-metadata:s:v:0", f"rotate={rotate}", "-movflags", "+faststart", path],
                       check=True)
    return path


def truncate_mp4(path, target, keep):
    """A copy of a front-indexed MP4 cut `keep` (0 ... 1) of the way into its
    media data: the frames before the cut still decode."""
    with open(path, "rb") as f:
        data = f.read()
    position = 0
    while data[position + 4:position + 8] != b"mdat":
        position += int.from_bytes(data[position:position + 4], "big")
    start = position + 8
    with open(target, "wb") as f:
        f.write(data[:start + int((len(data) - start) * keep)])
    return target


def probe(path):
    """(video stream, audio streams, format) of ffprobe's report."""
    result = subprocess.run([FFPROBE, "-v", "error", "-show_streams", "-show_format", "-count_frames",
                             "-of", "json", path], capture_output=True, check=True)
    report = json.loads(result.stdout)
    streams = report["streams"]
    video = next(s for s in streams if s["codec_type"] == "video")
    audio = [s for s in streams if s["codec_type"] == "audio"]
    return video, audio, report["format"]


def rotation(video):
    for side in video.get("side_data_list", []):
        if "rotation" in side:
            return int(side["rotation"]) % 360
    return 0


def frame_times(path):
    result = subprocess.run([FFPROBE, "-v", "error", "-select_streams", "v:0", "-show_entries",
                             "frame=best_effort_timestamp_time", "-of", "csv=p=0", path],
                            capture_output=True, text=True, check=True)
    return [float(line.strip(",")) for line in result.stdout.split()]


def decode_frame(path, number, image):
    """Frame `number` of the video, upright, as an image file and an array."""
    subprocess.run([FFMPEG, "-v", "error", "-y", "-i", path, "-vf", f"select=eq(n\\,{number})",
                    "-fps_mode", "passthrough", "-frames:v", "1", image], check=True)
    return np.asarray(Image.open(image).convert("RGB"), np.float64)


def rate(video):
    return fractions.Fraction(video["r_frame_rate"]), fractions.Fraction(video["avg_frame_rate"])


def leftovers(folder):
    """Files a run may have left: partial outputs and temporary directories."""
    return [name for name in os.listdir(folder)
            if name.endswith(".part") or name.startswith("brightloom-video-")]

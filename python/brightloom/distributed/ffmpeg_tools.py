"""What the cluster's cutting and joining of video files needs from ffmpeg:
finding it, reading a video's streams with ffprobe, the encoding options
and the sound and rotation of the joined file. The frames themselves go
through the library's own video-file job on each worker."""
import fractions
import json
import os
import shutil
import subprocess

FFMPEG_MISSING = "ffmpeg is not installed: install the Debian package ffmpeg"
CODECS = ("libx264", "libx265", "libvpx-vp9")
PRESETS = ("ultrafast", "superfast", "veryfast", "faster", "fast", "medium", "slow", "slower",
           "veryslow")
# Output containers by extension, and the sound codecs each takes as they are.
CONTAINERS = {".mp4": "mp4", ".m4v": "mp4", ".mov": "mov", ".mkv": "matroska", ".webm": "webm"}
COPYABLE_SOUND = {
    "mp4": {"aac", "mp3", "ac3", "eac3", "alac", "opus", "flac"},
    "mov": {"aac", "mp3", "ac3", "eac3", "alac", "pcm_s16le", "pcm_s16be", "pcm_s24le"},
    "matroska": None,  # takes every sound codec
    "webm": {"opus", "vorbis"},
}


class VideoError(Exception):
    """A cut or join cannot run or failed; raised to the caller as a BrightloomError."""


# ------------------------------------------------------------ programs ---

def programs():
    ffmpeg, ffprobe = shutil.which("ffmpeg"), shutil.which("ffprobe")
    if not ffmpeg or not ffprobe:
        raise VideoError(FFMPEG_MISSING)
    return ffmpeg, ffprobe


def ffmpeg_file(path):
    """A path as ffmpeg's file protocol, so no file name is read as a
    protocol or an option."""
    return "file:" + os.path.abspath(os.fspath(path))


# ------------------------------------------------------------- probing ---

def _rate(text):
    try:
        value = fractions.Fraction(text)
    except (ValueError, ZeroDivisionError, TypeError):
        return None
    return value if value > 0 else None


class VideoInfo:
    """What ffprobe tells about the first video stream and the sound."""

    def __init__(self, probe):
        streams = probe.get("streams", [])
        videos = [s for s in streams if s.get("codec_type") == "video"
                  and not s.get("disposition", {}).get("attached_pic")]
        self.has_video = bool(videos)
        video = videos[0] if videos else {}
        self.rate = _rate(video.get("r_frame_rate"))
        average = _rate(video.get("avg_frame_rate"))
        self.variable_rate = self.rate is None or (average is not None and average != self.rate)
        rotation = 0
        for side in video.get("side_data_list", []):
            if "rotation" in side:
                rotation = int(round(float(side["rotation"]) / 90.0)) * 90
        self.rotation = rotation % 360
        self.frame_count = _int(video.get("nb_frames"))
        duration = _float(video.get("duration")) or _float(probe.get("format", {}).get("duration"))
        rate = average or self.rate
        self.estimated_frames = (int(round(duration * rate)) if duration and rate else None)
        self.sound_codecs = [s.get("codec_name") for s in streams if s.get("codec_type") == "audio"]

    @property
    def total(self):
        """Frames expected: the container's count, else duration x rate, else None."""
        return self.frame_count or self.estimated_frames


def _int(text):
    try:
        value = int(text)
    except (TypeError, ValueError):
        return None
    return value if value > 0 else None


def _float(text):
    try:
        value = float(text)
    except (TypeError, ValueError):
        return None
    return value if value > 0 else None


def probe(ffprobe, path):
    result = subprocess.run(
        [ffprobe, "-v", "error", "-show_streams", "-show_format", "-of", "json", ffmpeg_file(path)],
        capture_output=True, stdin=subprocess.DEVNULL)
    if result.returncode != 0:
        raise VideoError(f"Not a video: {path}")
    try:
        info = VideoInfo(json.loads(result.stdout.decode("utf-8", "replace")))
    except ValueError:
        raise VideoError(f"Not a video: {path}") from None
    if not info.has_video:
        raise VideoError(f"No video stream in: {path}")
    return info


# --------------------------------------------------- Matroska frames ---
# Element ids of the few Matroska elements the frame streams use.
EBML, SEGMENT, INFO, TIMESTAMP_SCALE = 0x1A45DFA3, 0x18538067, 0x1549A966, 0x2AD7B1
TRACKS, TRACK_ENTRY, VIDEO, PIXEL_WIDTH, PIXEL_HEIGHT = 0x1654AE6B, 0xAE, 0xE0, 0xB0, 0xBA
CLUSTER, CLUSTER_TIMESTAMP, SIMPLE_BLOCK, BLOCK_GROUP, BLOCK = 0x1F43B675, 0xE7, 0xA3, 0xA0, 0xA1
# Containers whose children are read in line, as if the container were not there.
_OPENED = {SEGMENT, INFO, TRACKS, TRACK_ENTRY, VIDEO, CLUSTER, BLOCK_GROUP}
_UNKNOWN_SIZE = -1


def frame_extract_command(ffmpeg, path, number, output):
    return [ffmpeg, "-nostdin", "-v", "error", "-i", ffmpeg_file(path), "-map", "0:v:0",
            "-vf", f"select=eq(n\\,{int(number)})", "-fps_mode", "passthrough",
            "-frames:v", "1", "-y", ffmpeg_file(output)]


def container_of(path):
    return CONTAINERS.get(os.path.splitext(os.fspath(path))[1].lower())


def stores_rotation(container, info):
    """MP4 and MOV keep the input's rotation tag, with the frames stored as in
    the input; in Matroska and WebM (which ffmpeg cannot tag) the frames are
    stored upright instead, so they show the same."""
    return info.rotation != 0 and container in ("mp4", "mov")



def sound_options(container, codecs):
    copyable = COPYABLE_SOUND[container]
    if copyable is None or all(codec in copyable for codec in codecs):
        return ["-c:a", "copy"]
    # WebM takes no AAC; Opus is its sound codec.
    if container == "webm":
        return ["-c:a", "libopus", "-b:a", "128k"]
    return ["-c:a", "aac", "-b:a", "192k"]


# --------------------------------------------------------------- paths ---

def _same_file(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.realpath(a) == os.path.realpath(b)


def check_paths(input_path, output_path):
    if not os.path.isfile(input_path) or not os.access(input_path, os.R_OK):
        raise VideoError(f"Cannot read input: {input_path}")
    if _same_file(input_path, output_path):
        raise VideoError(f"Output is the input: {output_path}")
    folder = os.path.dirname(os.path.abspath(output_path))
    if (os.path.isdir(output_path) or not os.path.isdir(folder)
            or not os.access(folder, os.W_OK | os.X_OK)):
        raise VideoError(f"Cannot write output: {output_path}")


class Options:
    """Encoding options, checked before anything runs."""

    def __init__(self, output, crf=18, preset="medium", codec=None, scale=1):
        self.container = container_of(output)
        if self.container is None:
            raise ValueError(f"unsupported output container {os.path.splitext(output)[1]!r}; "
                             f"one of {tuple(CONTAINERS)}")
        if codec is None:
            codec = "libvpx-vp9" if self.container == "webm" else "libx264"
        if codec not in CODECS:
            raise ValueError(f"unknown codec {codec!r}; one of {CODECS}")
        if self.container == "webm" and codec != "libvpx-vp9":
            raise ValueError("WebM holds only VP9 video here: use codec 'libvpx-vp9'")
        if preset not in PRESETS:
            raise ValueError(f"unknown preset {preset!r}; one of {PRESETS}")
        if not 0 <= int(crf) <= 51:
            raise ValueError("crf runs from 0 to 51")
        self.codec, self.preset, self.crf, self.scale = codec, preset, int(crf), int(scale)



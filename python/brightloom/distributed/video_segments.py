"""Cutting a video into segments at key frames and joining encoded segments
without re-encoding, with ffmpeg run from argument lists (never a shell)."""
import json
import os
import subprocess

from . import ffmpeg_tools
from .video_tasks import input_segment, output_segment

LIST_NAME = "segments.txt"
SEGMENT_FORMATS = {".mkv": "matroska", ".mov": "mov"}


def segment_extension(info):
    """Matroska takes every codec; only MOV keeps a rotation tag through the
    copy, which the workers need to turn the frames upright as a
    one-machine run does."""
    return ".mov" if info.rotation else ".mkv"


def _run(command, failure):
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True)
    if result.returncode != 0:
        reason = result.stderr.decode("utf-8", "replace").strip().splitlines()
        raise ffmpeg_tools.VideoError(failure + (f" ({reason[-1]})" if reason else ""))
    return result.stdout.decode("utf-8", "replace")


def cut(ffmpeg, ffprobe, input, info, work_dir, seconds):
    """Copies the first video stream of input into segments of at least
    `seconds` each, every one starting at a key frame (so that each decodes
    on its own), with timestamps from 0. Returns the frame count of each."""
    extension = segment_extension(info)
    pattern = os.path.join(work_dir, "in_%05d" + extension)
    _run([ffmpeg, "-nostdin", "-v", "error", "-i", ffmpeg_tools.ffmpeg_file(input), "-map", "0:v:0",
          "-c", "copy", "-f", "segment", "-segment_time", f"{seconds:.6f}",
          "-reset_timestamps", "1", "-segment_format", SEGMENT_FORMATS[extension],
          ffmpeg_tools.ffmpeg_file(pattern)],
         f"Cannot cut into segments: {input}")
    counts = []
    while os.path.exists(input_segment(work_dir, len(counts), extension)):
        counts.append(frame_count(ffprobe, input_segment(work_dir, len(counts), extension)))
    if not counts or sum(counts) == 0:
        raise ffmpeg_tools.VideoError(f"No frames in: {input}")
    return counts


def frame_count(ffprobe, path):
    """Frames of the first video stream, counted from its packets (nothing
    is decoded)."""
    out = _run([ffprobe, "-v", "error", "-select_streams", "v:0", "-count_packets",
                "-show_entries", "stream=nb_read_packets", "-of", "json",
                ffmpeg_tools.ffmpeg_file(path)],
               f"Not a video: {path}")
    try:
        return int(json.loads(out)["streams"][0]["nb_read_packets"])
    except (IndexError, KeyError, ValueError):
        raise ffmpeg_tools.VideoError(f"Not a video: {path}") from None


def extract_reference(ffmpeg, input, number, work_dir):
    """Frame `number` of the whole input as an image, taken once for all
    workers."""
    path = os.path.join(work_dir, "reference.png")
    _run(ffmpeg_tools.frame_extract_command(ffmpeg, input, number, path),
         f"No frame {number} in: {input}")
    if not os.path.exists(path):
        raise ffmpeg_tools.VideoError(f"No frame {number} in: {input}")
    return path


def join(ffmpeg, info, options, input, work_dir, counts, extension, partial):
    """Joins the encoded segments into `partial` as they are (no
    re-encoding) and puts back the input's sound."""
    with open(os.path.join(work_dir, LIST_NAME), "w") as listing:
        for index, count in enumerate(counts):
            # Names relative to the list, all of our own making: nothing to quote.
            name = os.path.basename(output_segment(work_dir, index, extension))
            listing.write(f"file '{name}'\n")
            if not info.variable_rate:
                # A segment's own duration counts its encoder delay too; at
                # a constant rate the frames tell the exact one, so the
                # frames of the next segment follow at the same rate.
                listing.write(f"duration {float(count / info.rate):.9f}\n")
    command = [ffmpeg, "-nostdin", "-v", "error", "-y", "-f", "concat",
               "-i", ffmpeg_tools.ffmpeg_file(os.path.join(work_dir, LIST_NAME))]
    if info.sound_codecs:
        command += ["-i", ffmpeg_tools.ffmpeg_file(input), "-map", "0:v:0", "-map", "1:a"]
    else:
        command += ["-map", "0:v:0"]
    command += ["-c:v", "copy"]
    if options.codec == "libx265" and options.container in ("mp4", "mov"):
        command += ["-tag:v", "hvc1"]
    if ffmpeg_tools.stores_rotation(options.container, info):
        command += ["-metadata:s:v:0", f"rotate={info.rotation}"]
    if info.sound_codecs:
        command += ffmpeg_tools.sound_options(options.container, info.sound_codecs)
    if options.container in ("mp4", "mov"):
        command += ["-movflags", "+faststart"]
    _run(command + ["-f", options.container, ffmpeg_tools.ffmpeg_file(partial)],
         f"Cannot write output: {partial}")

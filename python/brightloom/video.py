"""Whole video files for the Engine: ffmpeg decodes the frames, each frame
goes through one single-frame library operation, and ffmpeg encodes the
results as they come, keeping rate, timestamps, rotation and sound.

The ffmpeg and ffprobe programs run as child processes with argument lists
(never a shell). Frames travel through pipes in a minimal Matroska stream of
raw RGB frames, the simplest form in which ffmpeg carries each frame's
timestamp both ways; only one frame at a time touches the disk, in a private
temporary directory."""
import fractions
import json
import os
import shutil
import signal
import subprocess
import tempfile

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
# Speed presets of libvpx-vp9, which has no named presets of its own.
VP9_CPU_USED = dict(zip(PRESETS, (8, 7, 6, 5, 4, 3, 2, 1, 0)))


class VideoError(Exception):
    """A video job cannot run or failed; the Engine raises it as its own error."""


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


def _last_line(text):
    lines = [line for line in text.strip().splitlines() if line.strip()]
    return lines[-1] if lines else ""


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


def _id_bytes(element_id):
    return element_id.to_bytes((element_id.bit_length() + 7) // 8, "big")


def _element(element_id, payload):
    # Sizes always take 8 bytes: simple, and valid for any frame size.
    return _id_bytes(element_id) + (0x01 << 56 | len(payload)).to_bytes(8, "big") + payload


def _uint(element_id, value):
    return _element(element_id, int(value).to_bytes(8, "big"))


class FrameStreamReader:
    """Reads (timestamp, RGB bytes) frames from ffmpeg's Matroska output of
    raw RGB video; width, height and the timestamp unit come from the stream."""

    def __init__(self, stream):
        self._stream = stream
        self.width = self.height = None
        self.timestamp_scale = 1000000
        self._cluster_time = 0

    def _read(self, count):
        data = self._stream.read(count)
        if len(data) != count:
            raise EOFError
        return data

    def _vint(self, keep_marker):
        first = self._read(1)[0]
        length = 1
        while length <= 8 and not first & (0x80 >> (length - 1)):
            length += 1
        if length > 8:
            raise VideoError("the decoder sent a damaged frame stream")
        value = first if keep_marker else first & (0xFF >> length)
        all_ones = value == (0xFF >> length) and not keep_marker
        for byte in self._read(length - 1):
            value = value << 8 | byte
            all_ones = all_ones and byte == 0xFF
        return _UNKNOWN_SIZE if all_ones else value

    def next_frame(self):
        """The next (timestamp, rgb) or None at the end of the stream."""
        while True:
            try:
                element_id = self._vint(True)
                size = self._vint(False)
            except EOFError:
                return None
            if element_id in _OPENED:
                continue
            if size == _UNKNOWN_SIZE:
                raise VideoError("the decoder sent a damaged frame stream")
            try:
                payload = self._read(size)
            except EOFError:
                return None
            frame = self._take(element_id, payload)
            if frame is not None:
                return frame

    def _take(self, element_id, payload):
        value = int.from_bytes(payload[:8], "big") if len(payload) <= 8 else 0
        if element_id == TIMESTAMP_SCALE:
            self.timestamp_scale = value
        elif element_id == PIXEL_WIDTH:
            self.width = value
        elif element_id == PIXEL_HEIGHT:
            self.height = value
        elif element_id == CLUSTER_TIMESTAMP:
            self._cluster_time = value
        elif element_id in (SIMPLE_BLOCK, BLOCK):
            # Track number (one byte for track 1), 16-bit relative time, flags.
            relative = int.from_bytes(payload[1:3], "big", signed=True)
            return self._cluster_time + relative, payload[4:]
        return None


class FrameStreamWriter:
    """Writes (timestamp, RGB bytes) frames as Matroska raw RGB video."""

    def __init__(self, stream, width, height, timestamp_scale):
        self._stream = stream
        header = _element(EBML, _element(0x4282, b"matroska") + _uint(0x4287, 4)
                          + _uint(0x4285, 2))
        segment = _id_bytes(SEGMENT) + b"\x01\xff\xff\xff\xff\xff\xff\xff"
        info = _element(INFO, _uint(TIMESTAMP_SCALE, timestamp_scale))
        video = (_uint(PIXEL_WIDTH, width) + _uint(PIXEL_HEIGHT, height)
                 + _element(0x2EB524, b"RGB\x18"))
        track = (_uint(0xD7, 1) + _uint(0x73C5, 1) + _uint(0x83, 1)
                 + _element(0x86, b"V_UNCOMPRESSED") + _element(VIDEO, video))
        stream.write(header + segment + info + _element(TRACKS, _element(TRACK_ENTRY, track)))

    def write(self, timestamp, rgb):
        block = _element(SIMPLE_BLOCK, b"\x81\x00\x00\x80" + rgb)
        self._stream.write(_element(CLUSTER, _uint(CLUSTER_TIMESTAMP, max(0, timestamp)) + block))


# --------------------------------------------------------- frame files ---

def write_ppm(path, width, height, rgb):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (width, height))
        f.write(rgb)


def read_bmp(path):
    """(width, height, RGB bytes) of a 24-bit uncompressed BMP, as the library writes."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 54 or data[:2] != b"BM":
        raise VideoError(f"Cannot read processed frame: {path}")
    offset = int.from_bytes(data[10:14], "little")
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = int.from_bytes(data[22:26], "little", signed=True)
    bits = int.from_bytes(data[28:30], "little")
    if bits != 24 or width <= 0 or height == 0:
        raise VideoError(f"Cannot read processed frame: {path}")
    stride = (width * 3 + 3) & ~3
    rows = [data[offset + r * stride: offset + r * stride + width * 3] for r in range(abs(height))]
    if height > 0:
        rows.reverse()
    bgr = b"".join(rows)
    if len(bgr) != width * abs(height) * 3:
        raise VideoError(f"Cannot read processed frame: {path}")
    rgb = bytearray(bgr)
    rgb[0::3], rgb[2::3] = bgr[2::3], bgr[0::3]
    return width, abs(height), bytes(rgb)


def enlarge(rgb, width, height, scale):
    """Nearest-neighbour enlargement, for frames an upscale could not process."""
    if scale == 1:
        return rgb
    out_rows = []
    for r in range(height):
        row = rgb[r * width * 3:(r + 1) * width * 3]
        pixels = bytearray(len(row) * scale)
        for k in range(scale):
            for c in range(3):
                pixels[k * 3 + c::3 * scale] = row[c::3]
        out_rows.extend([bytes(pixels)] * scale)
    return b"".join(out_rows)


# ------------------------------------------------------------ commands ---

def _undo_rotation_filter(rotation):
    # ffmpeg turns decoded frames upright by the display rotation; the encoder
    # turns them back, so the stored frames stay as they were under the tag.
    return {90: "transpose=cclock", 180: "hflip,vflip", 270: "transpose=clock"}.get(
        (-rotation) % 360)


def decoder_command(ffmpeg, path):
    return [ffmpeg, "-nostdin", "-v", "error", "-i", ffmpeg_file(path), "-map", "0:v:0",
            "-fps_mode", "passthrough", "-enc_time_base", "-1", "-c:v", "rawvideo",
            "-pix_fmt", "rgb24",
            "-allow_raw_vfw", "1", "-write_crc32", "0", "-f", "matroska", "pipe:1"]


def frame_extract_command(ffmpeg, path, number, output):
    return [ffmpeg, "-nostdin", "-v", "error", "-i", ffmpeg_file(path), "-map", "0:v:0",
            "-vf", f"select=eq(n\\,{int(number)})", "-fps_mode", "passthrough",
            "-frames:v", "1", "-y", ffmpeg_file(output)]


def container_of(path):
    return CONTAINERS.get(os.path.splitext(os.fspath(path))[1].lower())


def encoder_command(ffmpeg, options, info, width, height, input_path, output_path):
    container = options.container
    codec = options.codec
    command = [ffmpeg, "-nostdin", "-v", "error", "-y", "-f", "matroska", "-i", "pipe:0"]
    if info.sound_codecs:
        command += ["-i", ffmpeg_file(input_path), "-map", "0:v:0", "-map", "1:a"]
    else:
        command += ["-map", "0:v:0"]
    # An odd side cannot be subsampled: full-resolution colour keeps the size.
    pixel_format = "yuv420p" if width % 2 == 0 and height % 2 == 0 else "yuv444p"
    command += ["-c:v", codec, "-pix_fmt", pixel_format, "-crf", str(options.crf)]
    if codec == "libvpx-vp9":
        command += ["-b:v", "0", "-deadline", "good", "-cpu-used",
                    str(VP9_CPU_USED[options.preset]), "-row-mt", "1"]
    else:
        command += ["-preset", options.preset]
        if codec == "libx265":
            command += ["-x265-params", "log-level=error"]
            if container in ("mp4", "mov"):
                command += ["-tag:v", "hvc1"]
    if stores_rotation(container, info):
        command += ["-vf", _undo_rotation_filter(info.rotation)]
    # A stated constant rate puts every timestamp on that rate's exact grid
    # (frames are never duplicated); otherwise each frame keeps its own time.
    if info.variable_rate:
        command += ["-fps_mode", "passthrough", "-enc_time_base", "-1"]
    else:
        command += ["-fps_mode", "vfr", "-r", str(info.rate)]
    if info.sound_codecs:
        command += sound_options(container, info.sound_codecs)
    if container in ("mp4", "mov"):
        command += ["-movflags", "+faststart"]
    return command + ["-f", container, ffmpeg_file(output_path)]


def stores_rotation(container, info):
    """MP4 and MOV keep the input's rotation tag, with the frames stored as in
    the input; in Matroska and WebM (which ffmpeg cannot tag) the frames are
    stored upright instead, so they show the same."""
    return info.rotation != 0 and container in ("mp4", "mov")


def rotation_tag_command(ffmpeg, container, info, encoded, output):
    # ffmpeg sets a rotation tag only when copying streams: the encoded file
    # is copied once more with the tag.
    return [ffmpeg, "-nostdin", "-v", "error", "-y", "-i", ffmpeg_file(encoded), "-map", "0",
            "-c", "copy", "-metadata:s:v:0", f"rotate={info.rotation}",
            "-movflags", "+faststart", "-f", container, ffmpeg_file(output)]


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


# ----------------------------------------------------------------- job ---

class VideoJob:
    """One video run: probing, decoding, the per-frame operation, encoding,
    and the cleanup of every temporary file on every way out."""

    def __init__(self, input_path, output_path, options):
        self.input = os.fspath(input_path)
        self.output = os.fspath(output_path)
        self.options = options
        self.ffmpeg, self.ffprobe = programs()
        check_paths(self.input, self.output)
        self.info = probe(self.ffprobe, self.input)
        self.done = 0
        self.failed = 0
        self.cancelled = False
        self._workdir = None
        self._partials = []
        self._processes = []

    @property
    def total(self):
        return self.info.total

    def cancel(self):
        self.cancelled = True

    def __enter__(self):
        self._workdir = tempfile.mkdtemp(prefix="brightloom-video-")  # mode 0700
        return self

    def __exit__(self, *exc):
        self._stop_processes()
        for partial in self._partials:
            if os.path.exists(partial):
                os.unlink(partial)
        shutil.rmtree(self._workdir, ignore_errors=True)

    def _stop_processes(self):
        for process in self._processes:
            if process.poll() is None:
                process.kill()
            process.wait()
            for stream in (process.stdin, process.stdout):
                if stream:
                    try:
                        stream.close()
                    except OSError:
                        pass
        self._processes = []

    def _spawn(self, command, log_name, **pipes):
        log = open(os.path.join(self._workdir, log_name), "wb")
        try:
            # Own process group: a Ctrl-C at the terminal reaches this process
            # only, which then stops the children itself.
            process = subprocess.Popen(command, stderr=log, start_new_session=True, **pipes)
        finally:
            log.close()
        self._processes.append(process)
        return process

    def _log(self, log_name):
        try:
            with open(os.path.join(self._workdir, log_name), "rb") as f:
                return _last_line(f.read().decode("utf-8", "replace"))
        except OSError:
            return ""

    def extract_frame(self, number):
        """Frame `number` (0 = first) of the input as an image file."""
        path = os.path.join(self._workdir, "reference.png")
        process = self._spawn(frame_extract_command(self.ffmpeg, self.input, number, path),
                              "reference.log", stdin=subprocess.DEVNULL)
        process.wait()
        self._processes.remove(process)
        if process.returncode != 0 or not os.path.exists(path):
            raise VideoError(f"No frame {number} in: {self.input}")
        return path

    def run(self, process_frame, progress):
        """Runs process_frame(in_path, out_path) -> bool on every frame.
        Returns True when complete, False when cancelled."""
        decoder = self._spawn(decoder_command(self.ffmpeg, self.input), "decoder.log",
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        reader = FrameStreamReader(decoder.stdout)
        in_path = os.path.join(self._workdir, "frame.ppm")
        out_path = os.path.join(self._workdir, "frame.bmp")
        writer = encoder = None
        while True:
            if self.cancelled:
                return False
            frame = reader.next_frame()
            if frame is None:
                break
            timestamp, rgb = frame
            width, height = reader.width, reader.height
            if not width or not height or len(rgb) != width * height * 3:
                raise VideoError(f"Not a video: {self.input}")
            result = self._process(process_frame, in_path, out_path, width, height, rgb)
            if writer is None:
                encoder, writer = self._start_encoder(reader, width * self.options.scale,
                                                      height * self.options.scale)
            try:
                writer.write(timestamp, result)
            except (BrokenPipeError, OSError):
                raise VideoError(self._encoder_failure(encoder)) from None
            self.done += 1
            if progress is not None and progress(self.done, self.total) is False:
                self.cancelled = True
        decoder.wait()
        if self.done == 0:
            raise VideoError(f"No frames in: {self.input}")
        if self.cancelled:
            return False
        self._finish_encoder(encoder)
        ended_early = decoder.returncode != 0 or (
            self.info.frame_count is not None and self.done < self.info.frame_count)
        if ended_early:
            raise VideoError(f"Input ended early after {self.done} frames: {self.input}")
        finished = self._partials[-1]
        if stores_rotation(self.options.container, self.info):
            finished = self._tag_rotation(finished)
        os.replace(finished, self.output)
        return True

    def _make_partial(self):
        # Beside OUTPUT, so the final rename stays on one file system.
        folder, name = os.path.split(os.path.abspath(self.output))
        handle, path = tempfile.mkstemp(prefix=f".{name}.", suffix=".part", dir=folder)
        os.close(handle)
        self._partials.append(path)
        return path

    def _tag_rotation(self, encoded):
        tagged = self._make_partial()
        command = rotation_tag_command(self.ffmpeg, self.options.container, self.info, encoded,
                                       tagged)
        process = self._spawn(command, "encoder.log", stdin=subprocess.DEVNULL)
        process.wait()
        self._processes.remove(process)
        if process.returncode != 0:
            raise VideoError(self._encoder_failure(process))
        return tagged

    def _process(self, process_frame, in_path, out_path, width, height, rgb):
        write_ppm(in_path, width, height, rgb)
        scale = self.options.scale
        if process_frame(in_path, out_path):
            try:
                out_width, out_height, result = read_bmp(out_path)
            except (OSError, VideoError):
                out_width = out_height = None
            if (out_width, out_height) == (width * scale, height * scale):
                return result
        # A frame the library cannot process goes through as it came.
        self.failed += 1
        return enlarge(rgb, width, height, scale)

    def _start_encoder(self, reader, width, height):
        command = encoder_command(self.ffmpeg, self.options, self.info, width, height,
                                  self.input, self._make_partial())
        encoder = self._spawn(command, "encoder.log", stdin=subprocess.PIPE)
        writer = FrameStreamWriter(encoder.stdin, width, height, reader.timestamp_scale)
        return encoder, writer

    def _finish_encoder(self, encoder):
        try:
            encoder.stdin.close()
        except OSError:
            pass
        if encoder.wait() != 0:
            raise VideoError(self._encoder_failure(encoder))

    def _encoder_failure(self, encoder):
        encoder.wait()
        reason = self._log("encoder.log")
        return f"Cannot write output: {self.output}" + (f" ({reason})" if reason else "")


class TerminationAsInterrupt:
    """While a job runs on the main thread, SIGTERM ends it as Ctrl-C does,
    so that its temporary files are removed as well."""

    def __enter__(self):
        self._previous = None
        try:
            self._previous = signal.signal(signal.SIGTERM, self._raise)
        except ValueError:  # not the main thread: SIGTERM stays as it is
            pass
        return self

    def __exit__(self, *exc):
        if self._previous is not None:
            signal.signal(signal.SIGTERM, self._previous)

    @staticmethod
    def _raise(signum, frame):
        raise KeyboardInterrupt

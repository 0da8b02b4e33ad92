"""The frame list of a folder, chosen and ordered exactly as the library's
directory runs choose and order it, and the checks those runs make before
they write anything."""
import os

from ..engine import BrightloomError

FRAME_EXTENSIONS = (b".png", b".jpg", b".jpeg", b".bmp")


def is_frame_name(name):
    """Whether a file name is a frame image: its text from the last dot on is
    one of the frame extensions, compared ignoring ASCII case."""
    raw = os.fsencode(name)
    dot = raw.rfind(b".")
    return dot >= 0 and raw[dot:].lower() in FRAME_EXTENSIONS


def list_frames(input_dir):
    """The frame names of input_dir in byte order of their names (frames
    come in video order only when their numbers are zero-padded).
    Sub-folders, also through links, are not frames."""
    try:
        entries = os.listdir(input_dir)
    except OSError:
        raise BrightloomError(f"Cannot list frames dir: {input_dir}") from None
    names = [n for n in entries
             if is_frame_name(n) and not os.path.isdir(os.path.join(input_dir, n))]
    if not names:
        raise BrightloomError(f"No frames found in: {input_dir}")
    return sorted(names, key=os.fsencode)


def prepare_output_dir(input_dir, output_dir):
    """Creates output_dir when needed; refuses the input folder itself, whose
    frames would be replaced while they are read."""
    os.makedirs(output_dir, exist_ok=True)
    if os.path.samefile(input_dir, output_dir):
        raise BrightloomError(f"Output dir is the input dir: {output_dir}")


def cut_into_chunks(names, chunk):
    if chunk < 1:
        raise ValueError(f"chunk must be at least 1, not {chunk}")
    return [names[i:i + chunk] for i in range(0, len(names), chunk)]

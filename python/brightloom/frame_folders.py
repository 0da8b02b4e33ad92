"""A frame folder's frames exactly as the library's directory runs choose and
order them, for callers that share them out (a cluster's chunks)."""
import os
from typing import List

from ._native import load
from ._structs import FrameNameFunction
from .images import PathLike, check, encoded_path


def frame_names(input_dir: PathLike, library=None) -> List[str]:
    """The frame file names of input_dir in the order a directory run takes
    them. Raises StatusError with the run's own messages ("Cannot list
    frames dir: ...", "No frames found in: ...")."""
    lib = load(library)
    names = []

    def collect(user_data, name):
        names.append(os.fsdecode(name))
    callback = FrameNameFunction(collect)
    check(lib, lib.brightloom_frames_dir_list(encoded_path(input_dir, "input_dir"), callback,
                                              None))
    return names

"""A source face analysed once and swapped into many frames in memory."""
import ctypes
import weakref
from typing import Any, Optional

import numpy as np

from . import options as _options
from ._handles import Handle
from ._structs import Image
from .images import ImageInput, PathLike, Picture, check, save_image, take_array


class SwapSession:
    """Made by Engine.swap_session. swap(frame) may be called from several
    threads at once; close() (or leaving a `with` block) releases the
    analysed faces, as does the engine's close()."""

    def __init__(self, engine, lib, pointer, defaults):
        self._engine = engine  # the engine must outlive its sessions
        self._lib = lib
        self._defaults = defaults
        self._handle = Handle(pointer, lib.brightloom_swap_session_close, "SwapSession")
        weakref.finalize(self, self._handle.close)

    def swap(self, frame: ImageInput, *, output: Optional[PathLike] = None,
             **options: Any) -> Optional[np.ndarray]:
        """The session's face in place of the (matching) faces of frame; a
        frame without them comes back unchanged. Options: mask_blur,
        mask_padding, soft_edge, detector_score, enhancer_blend, enhance,
        smoothing (0 each frame on its own ... 1; default 0.5: the faces are
        followed from one call to the next, so give a video's frames in
        order)."""
        settings = _options.build(self._lib, _options.COMMON + ("enhance", "smoothing"),
                                  {**self._defaults, **options})
        result = Image()
        with Picture(self._lib, frame) as picture, self._handle.use() as pointer:
            check(self._lib, self._lib.brightloom_swap_session_frame(
                pointer, picture.ref, ctypes.byref(settings), ctypes.byref(result)))
        if output is None:
            return take_array(self._lib, result)
        save_image(self._lib, result, output)
        return None

    def close(self) -> None:
        self._handle.close()

    def __enter__(self) -> "SwapSession":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

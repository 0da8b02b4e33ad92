"""Crossing between the caller's pictures (files, encoded bytes, numpy
arrays, PIL images) and the library's brightloom_image, and back to arrays."""
import ctypes
import os
import sys
from typing import TYPE_CHECKING, Any, Union

import numpy as np

from ._structs import Image
from .errors import Status, StatusError, status_error

if TYPE_CHECKING:
    import PIL.Image

PathLike = Union[str, "os.PathLike[str]"]
ImageInput = Union[PathLike, bytes, bytearray, memoryview, np.ndarray, "PIL.Image.Image"]

_INT32_MAX = 2**31 - 1
# BRIGHTLOOM_MAX_IMAGE_PIXELS
MAX_IMAGE_PIXELS = 1 << 28


def check(lib, status: int) -> None:
    """Raises the StatusError of a failed call; must run on the calling
    thread, whose message brightloom_last_error() holds."""
    if status != Status.OK:
        text = lib.brightloom_last_error()
        raise status_error(Status(status), text.decode("utf-8", "replace") if text else "")


def is_path(value: Any) -> bool:
    return isinstance(value, (str, os.PathLike))


def encoded_path(value: Any, what: str = "path") -> bytes:
    """A path as the library takes it: a NUL would end the C string early
    and name another file, so it is refused."""
    encoded = os.fsencode(value)
    if b"\0" in encoded:
        raise ValueError(f"{what} contains a NUL character: {value!r}")
    return encoded


class Picture:
    """One input image as the library reads it, holding whatever keeps its
    pixels alive; close() releases what the library allocated for it."""

    def __init__(self, lib, value: ImageInput):
        self._lib = lib
        self._owned = False
        self._pixels = None  # the array the library reads, kept alive
        self.image = Image()
        if is_path(value):
            self._adopt(lib.brightloom_image_load(encoded_path(value, "image path"),
                                                  ctypes.byref(self.image)))
        elif isinstance(value, (bytes, bytearray, memoryview)):
            encoded = np.frombuffer(value, dtype=np.uint8)
            self._adopt(lib.brightloom_image_decode(encoded.ctypes.data, encoded.size,
                                                    ctypes.byref(self.image)))
        else:
            self._borrow(rgb_array(value))

    def _adopt(self, status: int) -> None:
        check(self._lib, status)
        self._owned = True

    def _borrow(self, array: np.ndarray) -> None:
        self._pixels = array
        self.image.height, self.image.width = array.shape[:2]
        self.image.stride = array.strides[0]
        self.image.pixels = array.ctypes.data_as(ctypes.POINTER(ctypes.c_uint8))

    @property
    def ref(self):
        return ctypes.byref(self.image)

    def close(self) -> None:
        if self._owned:
            self._lib.brightloom_image_release(ctypes.byref(self.image))
            self._owned = False

    def __enter__(self) -> "Picture":
        return self

    def __exit__(self, *exc) -> None:
        self.close()


def rgb_array(value: Any) -> np.ndarray:
    """value as an H x W x 3 uint8 array the library can read in place: rows
    at any positive distance, pixels packed. Grey and RGBA are converted;
    anything else is refused."""
    if _is_pil_image(value):
        value = np.asarray(value if value.mode == "RGB" else value.convert("RGB"))
    if not isinstance(value, np.ndarray):
        raise TypeError("an image is a path, encoded bytes, a numpy array or a PIL image, not "
                        + type(value).__name__)
    if value.dtype != np.uint8:
        raise TypeError(f"image arrays hold uint8 values, not {value.dtype}")
    _refuse_too_large(value)
    if value.ndim == 3 and value.shape[2] == 1:
        value = value[:, :, 0]
    if value.ndim == 2:
        value = np.repeat(value[:, :, np.newaxis], 3, axis=2)
    elif value.ndim == 3 and value.shape[2] == 4:
        value = value[:, :, :3]
    elif value.ndim != 3 or value.shape[2] != 3:
        raise ValueError("an image array is H x W x 3 (RGB), H x W (grey) or H x W x 4 (RGBA), "
                         f"not {' x '.join(map(str, value.shape))}")
    if not _library_layout(value):
        value = np.ascontiguousarray(value)
    return value


def _refuse_too_large(array: np.ndarray) -> None:
    """Refused from the shape alone, before a grey array is widened or a
    strided one (a zero stride can make a huge array of a few bytes) is
    packed: copying first would cost the memory the limit exists to spare."""
    if array.ndim < 2:
        return
    height, width = array.shape[:2]
    if max(height, width) > _INT32_MAX // 3:
        raise ValueError(f"an image of {width} x {height} is too large")
    if height * width > MAX_IMAGE_PIXELS:
        raise StatusError(Status.TOO_LARGE,
                          f"The image has more than {MAX_IMAGE_PIXELS} pixels")


def _library_layout(array: np.ndarray) -> bool:
    row, column, channel = array.strides
    return (channel == 1 and column == 3 and 3 * array.shape[1] <= row <= _INT32_MAX)


def _is_pil_image(value: Any) -> bool:
    # PIL stays optional: a PIL image can only exist once PIL was imported.
    module = sys.modules.get("PIL.Image")
    return module is not None and isinstance(value, module.Image)


def take_array(lib, image: Image) -> np.ndarray:
    """A copy of a library image as an H x W x 3 array; releases the image."""
    try:
        height, width, stride = image.height, image.width, image.stride
        if height == 0 or width == 0:
            return np.zeros((height, width, 3), dtype=np.uint8)
        rows = np.ctypeslib.as_array(image.pixels, shape=(height * stride,)).reshape(height, stride)
        return rows[:, :3 * width].reshape(height, width, 3).copy()
    finally:
        lib.brightloom_image_release(ctypes.byref(image))


def save_image(lib, image: Image, path: PathLike) -> None:
    """Writes a library image in the format the extension names; releases it."""
    try:
        check(lib, lib.brightloom_image_save(ctypes.byref(image), encoded_path(path, "output")))
    finally:
        lib.brightloom_image_release(ctypes.byref(image))

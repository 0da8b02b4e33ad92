"""The library's one process-wide engine, which the file, directory and
video methods reach through the original functions. An Engine claims it when
it opens and initializes it on the first call that needs it, so a program
using only the in-memory methods loads its models once."""
import threading

from .errors import BrightloomError
from .images import encoded_path

# Model names are read when the engine initializes; numbers by every call.
NAME_SETTINGS = ("detector", "swapper", "enhancer")
NUMBER_SETTINGS = ("detector_score", "mask_blur", "enhancer_blend")

# The original functions allow one caller at a time; this lock holds every
# call except the progress, total and cancel functions of a running
# directory job.
call_lock = threading.RLock()
_owner = None


class ProcessEngine:
    def __init__(self, lib, model_dir, swap: bool, settings: dict):
        global _owner
        with call_lock:
            if _owner is not None:
                raise BrightloomError("an Engine is already open in this process; close it first")
            _owner = self
        self._lib = lib
        self._model_dir = encoded_path(model_dir, "model_dir")
        self._swap = swap
        self._settings = dict(settings)
        self._initialized = False
        self._closed = False

    def library(self):
        """The library with the process-wide engine initialized; hold
        call_lock while using it."""
        if self._closed:
            raise BrightloomError("this Engine is closed")
        if not self._initialized:
            for name in NAME_SETTINGS:
                getattr(self._lib, "brightloom_set_" + name)(self._settings[name].encode())
            self._apply(self._settings)
            if self._lib.brightloom_init_lite(self._model_dir, 1 if self._swap else 0) != 0:
                raise BrightloomError(error_text(self._lib))
            self._initialized = True
        return self._lib

    def configure(self, settings: dict) -> None:
        with call_lock:
            self._settings.update(settings)
            if self._initialized:
                self._apply(settings)

    def _apply(self, settings: dict) -> None:
        for name in NUMBER_SETTINGS:
            if name in settings:
                getattr(self._lib, "brightloom_set_" + name)(float(settings[name]))
        if "mask_padding" in settings:
            self._lib.brightloom_set_mask_padding(*(int(v) for v in settings["mask_padding"]))

    def close(self) -> None:
        global _owner
        with call_lock:
            if self._initialized:
                self._lib.brightloom_shutdown()
                self._initialized = False
            self._closed = True
            if _owner is self:
                _owner = None


def error_text(lib) -> str:
    text = lib.brightloom_get_error()
    return text.decode("utf-8", "replace") if text else ""

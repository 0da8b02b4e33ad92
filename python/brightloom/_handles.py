"""A library handle that many threads may call through at once and that is
closed exactly once, after the last call through it has returned."""
import threading
from contextlib import contextmanager

from .errors import BrightloomError


class Handle:
    def __init__(self, pointer, release, what: str):
        self._pointer = pointer
        self._release = release
        self._what = what
        self._busy = 0
        self._idle = threading.Condition()

    @contextmanager
    def use(self):
        """The pointer, for one call; refused once closing began."""
        with self._idle:
            if self._pointer is None:
                raise BrightloomError(f"this {self._what} is closed")
            self._busy += 1
            pointer = self._pointer
        try:
            yield pointer
        finally:
            with self._idle:
                self._busy -= 1
                self._idle.notify_all()

    @property
    def closed(self) -> bool:
        return self._pointer is None

    def close(self) -> None:
        """Refuses new calls, waits for running ones, then releases. A no-op
        the second time. Not to be called from inside a call through it."""
        with self._idle:
            pointer, self._pointer = self._pointer, None
            self._idle.wait_for(lambda: self._busy == 0)
        if pointer is not None:
            self._release(pointer)

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
        # Calls through the handle in progress on each thread: a close on a
        # thread that is inside one (its log callback) would wait for itself.
        self._calls_here = threading.local()

    @contextmanager
    def use(self):
        """The pointer, for one call; refused once closing began."""
        with self._idle:
            if self._pointer is None:
                raise BrightloomError(f"this {self._what} is closed")
            self._busy += 1
            pointer = self._pointer
        self._calls_here.depth = self.calls_on_this_thread() + 1
        try:
            yield pointer
        finally:
            self._calls_here.depth -= 1
            with self._idle:
                self._busy -= 1
                self._idle.notify_all()

    @property
    def closed(self) -> bool:
        return self._pointer is None

    def calls_on_this_thread(self) -> int:
        return getattr(self._calls_here, "depth", 0)

    def refuse_close_inside_a_call(self) -> None:
        """RuntimeError when the calling thread is inside a call through the
        handle: closing there would wait for ever for the call it is in."""
        if self.calls_on_this_thread():
            raise RuntimeError(f"cannot close this {self._what} from inside one of its own calls "
                               "(its log callback, say): close it after the call has returned")

    def close(self) -> None:
        """Refuses new calls, waits for running ones, then releases. A no-op
        the second time. Raises RuntimeError from inside a call through it."""
        self.refuse_close_inside_a_call()
        with self._idle:
            pointer, self._pointer = self._pointer, None
            self._idle.wait_for(lambda: self._busy == 0)
        if pointer is not None:
            self._release(pointer)

"""The exceptions the binding raises and the status codes they carry."""
import enum
from typing import Optional


class Status(enum.IntEnum):
    """brightloom_status: the kind of a failure, for programs to branch on."""
    OK = 0
    BAD_ARGUMENT = 1
    UNREADABLE_INPUT = 2
    UNSUPPORTED_FORMAT = 3
    TOO_LARGE = 4
    NO_FACE = 5
    MODEL_MISSING = 6
    MODEL_FAILED = 7
    CANNOT_WRITE = 8
    OUT_OF_MEMORY = 9
    CANCELLED = 10
    INTERNAL = 11
    UNAVAILABLE = 12


class BrightloomError(RuntimeError):
    """A library call failed; `message` is the library's text for a person.

    `status` is the Status of the failure, or None for the file, directory
    and video methods, whose functions report no status."""

    status: Optional[Status] = None

    def __init__(self, message: str):
        super().__init__(message)
        self.message = message


class StatusError(BrightloomError):
    """An engine operation failed with `status` (a Status: both its name and
    its number) and `message` (brightloom_last_error())."""

    def __init__(self, status: Status, message: str):
        super().__init__(message or status.name.lower().replace("_", " "))
        self.status = status

    def __repr__(self) -> str:
        return f"StatusError({self.status.name}, {self.message!r})"


class BadArgumentError(StatusError, ValueError):
    """A StatusError of status BAD_ARGUMENT: a value the library refused,
    which is also a ValueError as the binding's own refusals are."""


def status_error(status: Status, message: str) -> StatusError:
    """The exception of a failed call: BadArgumentError for BAD_ARGUMENT."""
    kind = BadArgumentError if status == Status.BAD_ARGUMENT else StatusError
    return kind(status, message)

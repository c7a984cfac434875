"""The errors of zeb: the plug-in's or zeb's text verbatim, with hints for a person."""

from __future__ import annotations

from typing import Any, List, Optional


class Error(Exception):
    """Anything zeb or the plug-in refused. ``str(error)`` is the text verbatim; ``hints`` says
    what a person can do about it."""

    def __init__(self, text: str, hints: Optional[List[str]] = None) -> None:
        super().__init__(text)
        self.text = text
        self.hints: List[str] = list(hints or [])


class FeatureNotFound(Error):
    """The channel has no feature of that name."""


class ValueAdjusted(Error):
    """The channel holds another value than the one written (clamped, aligned); ``value`` is the
    value held."""

    def __init__(self, text: str, hints: Optional[List[str]] = None, value: Any = None) -> None:
        super().__init__(text, hints)
        self.value = value


class AcquisitionFailed(Error):
    """The plug-in reported an error for an image set."""


class Timeout(Error):
    """No image set came within the timeout."""


# The C library's statuses.
OK, ERROR, FEATURE_NOT_FOUND, VALUE_ADJUSTED, ACQUISITION_FAILED, TIMEOUT, INTERRUPTED, BAD_ARGUMENT, \
    NOT_YET, END = range(10)

_classes = {FEATURE_NOT_FOUND: FeatureNotFound, VALUE_ADJUSTED: ValueAdjusted,
            ACQUISITION_FAILED: AcquisitionFailed, TIMEOUT: Timeout}


def raise_for(status: int, text: str, hints: str) -> None:
    """Raises the error of a C status with its text."""
    if status == BAD_ARGUMENT:
        raise ValueError(text)
    raise _classes.get(status, Error)(text, [line for line in hints.split("\n") if line])

"""Channels: features, image sets one at a time or as a stream, and the setup assistants."""

from __future__ import annotations

import atexit
import ctypes
import dataclasses
import json
import os
import time
import weakref
from typing import Any, Callable, Dict, Iterable, Iterator, List, Mapping, Optional, Sequence, Tuple, Union

from . import errors
from ._library import ACT_FUNCTION, call, library, take_text, text
from .images import ImageSet

Value = Union[int, float, bool, str]
# How long one wait in the C library lasts at most: a Ctrl-C is seen between two waits.
WAIT_SLICE_MS = 100


@dataclasses.dataclass(frozen=True)
class ChannelInfo:
    """A channel the plug-in offers: its index, name, controller serial, scan type ("Areascan" or
    "Linescan") and the camera it holds (None before one is selected)."""
    index: int
    name: str
    serial: str
    scan_type: str
    camera: Optional[str]


@dataclasses.dataclass(frozen=True)
class Feature:
    """A feature of a channel as the host interface describes it, with zeb's guide: ``unit``
    ("us", "dB", "px", or "" where the value has none), ``description`` (what it does) and
    ``limits`` (those the channel applies, "" where only the choices or the camera limit it).
    ``value`` is typed as ``Channel.get`` returns it; None for commands and unreadable values."""
    name: str
    type: str
    readable: bool
    writable: bool
    value: Optional[Value]
    choices: Tuple[str, ...]
    unit: str
    description: str
    limits: str


@dataclasses.dataclass(frozen=True)
class AssistResult:
    """A setup assistant's end: its ``result`` ("Success", "Warning", "Error" or "Undefined"),
    ``message`` with its placeholders filled in, the message's ``arguments``, ``outcome``
    ("finished" or "stopped"), the ``steps`` it showed and the ``image_sets`` it was given."""
    assistant: str
    outcome: str
    result: str
    message: str
    arguments: Tuple[str, ...]
    image_sets: int
    steps: Tuple[Dict[str, Any], ...]


def typed(value: Optional[str], kind: str) -> Optional[Value]:
    """A feature's text as Python gets it by the feature's type."""
    if value is None or kind == "Command":
        return None
    try:
        if kind == "Int":
            return int(value)
        if kind == "Float":
            return float(value)
    except ValueError:
        return value
    if kind == "Bool":
        return value == "True"
    return value


def as_text(value: Value) -> str:
    """A Python value as the plug-in takes it."""
    if isinstance(value, bool):
        return "True" if value else "False"
    if isinstance(value, float):
        return repr(value)
    return str(value)


def load(plugin: Optional[str] = None, station: Optional[str] = None) -> ctypes.CDLL:
    """The C library with the plug-in loaded and the station chosen (once per process)."""
    lib = library(plugin)
    call(lib.zeb_load, text(plugin and os.fspath(plugin)), text(station and os.fspath(station)))
    return lib


def channels(station: Optional[Union[str, os.PathLike]] = None,
             plugin: Optional[Union[str, os.PathLike]] = None) -> List[ChannelInfo]:
    """The channels the plug-in offers on the station (a station file; None: ZEB_STATION, else the
    built-in station). The station is chosen once per process."""
    lib = load(plugin and os.fspath(plugin), station and os.fspath(station))
    out = ctypes.c_void_p()
    call(lib.zeb_channels_json, ctypes.byref(out))
    return [ChannelInfo(c["index"], c["name"], c["serial"], c["scanType"], c["camera"])
            for c in json.loads(take_text(out))]


class Stream:
    """Image sets as they come: iterate over it inside its ``with`` block. A lost or failed set is
    counted (``lost``, ``failed``, ``last_failure``) and the acquisition restarts, as ``zeb
    acquire --continuous`` does. Leaving the block stops the acquisition."""

    def __init__(self, channel: "Channel", count: Optional[int], timeout: float, keep_going: bool = True,
                 queue: int = 4) -> None:
        if count is not None and count < 1:
            raise ValueError("count: at least 1 image set, or None for no end")
        self._channel = channel
        self._count = count or 0
        self._timeout_ms = _milliseconds(timeout)
        self._keep_going = keep_going
        self._queue = queue
        self._pointer: Optional[int] = None
        self._statistics: Dict[str, Any] = {}

    def __enter__(self) -> "Stream":
        lib = library()
        out = ctypes.c_void_p()
        call(lib.zeb_stream_start, self._channel._pointer_checked(), self._count, self._timeout_ms,
             1 if self._keep_going else 0, self._queue, ctypes.byref(out))
        self._pointer = out.value
        self._channel._streams.append(self)
        return self

    def __exit__(self, *exception: Any) -> None:
        self.close()

    def __iter__(self) -> Iterator[ImageSet]:
        while True:
            image_set = self.next()
            if image_set is None:
                return
            yield image_set

    def next(self) -> Optional[ImageSet]:
        """The next image set; None after the last one asked for. Waits in slices of a tenth of
        a second, so that a KeyboardInterrupt ends the wait. Raises Timeout or
        AcquisitionFailed when the acquisition ended with that (without keep-going)."""
        if self._pointer is None:
            raise errors.Error("the stream is not running: use it in a with block")
        lib = library()
        out = ctypes.c_void_p()
        while True:
            status = call(lib.zeb_stream_next, self._pointer, WAIT_SLICE_MS, ctypes.byref(out),
                          ok=(errors.OK, errors.NOT_YET, errors.END))
            if status == errors.OK:
                return ImageSet(out.value)
            if status == errors.END:
                return None

    def statistics(self) -> Dict[str, Any]:
        """{"sets", "lost", "failed", "lastFailure", "startupSeconds", "setsPerSecond"} so far."""
        if self._pointer is not None:
            out = ctypes.c_void_p()
            call(library().zeb_stream_statistics_json, self._pointer, ctypes.byref(out))
            self._statistics = json.loads(take_text(out))
        return dict(self._statistics)

    @property
    def lost(self) -> int:
        """Waits that ended without an image set (then the acquisition restarted)."""
        return int(self.statistics().get("lost", 0))

    @property
    def failed(self) -> int:
        """Image sets the plug-in reported an error for (then the acquisition restarted)."""
        return int(self.statistics().get("failed", 0))

    @property
    def last_failure(self) -> str:
        """The plug-in's text for the last lost or failed set; "" while none was."""
        return str(self.statistics().get("lastFailure", ""))

    def close(self) -> None:
        """Stops the acquisition (the camera stops) and waits for it; idempotent."""
        if self._pointer is None:
            return
        self.statistics()
        pointer, self._pointer = self._pointer, None
        library().zeb_stream_close(pointer)
        if self in self._channel._streams:
            self._channel._streams.remove(self)


def _milliseconds(seconds: float) -> int:
    if not seconds > 0:
        raise ValueError("timeout: a number of seconds above 0")
    return max(1, min(int(round(seconds * 1000)), 2**31 - 1))


# The channels open now: a script that ends without closing one still stops and releases it.
_open_channels: "weakref.WeakSet[Channel]" = weakref.WeakSet()


@atexit.register
def _close_open_channels() -> None:
    for channel in list(_open_channels):
        channel.close()


class Channel:
    """An open channel, prepared as zeb prepares one. Use it as a context manager: leaving the
    block, also by an exception or Ctrl-C, stops the acquisition and releases the channel, so that
    the camera is closed. ``close()`` does the same."""

    def __init__(self, index: int, pointer: int) -> None:
        self.index = index
        self._pointer: Optional[int] = pointer
        self._types: Dict[str, str] = {}
        self._streams: List[Stream] = []
        _open_channels.add(self)

    def _pointer_checked(self) -> int:
        if self._pointer is None:
            raise errors.Error("the channel is closed")
        return self._pointer

    def __enter__(self) -> "Channel":
        return self

    def __exit__(self, *exception: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # noqa: BLE001 - the interpreter may be ending
            pass

    def close(self) -> None:
        """Stops any stream, releases the channel (its camera closes); idempotent."""
        for stream in list(self._streams):
            stream.close()
        if self._pointer is not None:
            pointer, self._pointer = self._pointer, None
            library().zeb_channel_close(pointer)

    @property
    def features(self) -> Dict[str, Feature]:
        """Every feature by name, in the channel's order, read now."""
        out = ctypes.c_void_p()
        call(library().zeb_channel_features_json, self._pointer_checked(), ctypes.byref(out))
        result: Dict[str, Feature] = {}
        for f in json.loads(take_text(out)):
            self._types[f["name"]] = f["type"]
            result[f["name"]] = Feature(f["name"], f["type"], f["readable"], f["writable"],
                                        typed(f["value"], f["type"]), tuple(f["choices"]), f["unit"],
                                        f["description"], f["limits"])
        return result

    def _get(self, name: str) -> Tuple[str, str]:
        value, kind = ctypes.c_void_p(), ctypes.c_void_p()
        call(library().zeb_channel_get, self._pointer_checked(), text(name), ctypes.byref(value),
             ctypes.byref(kind))
        value_text, kind_text = take_text(value), take_text(kind)
        self._types[name] = kind_text
        return value_text, kind_text

    def get(self, name: str) -> Value:
        """The feature's value: int, float, bool or str by its type. Raises FeatureNotFound."""
        value, kind = self._get(name)
        return typed(value, kind)  # type: ignore[return-value]

    def set(self, name: str, value: Value, accept_adjusted: bool = False) -> Value:
        """Writes the feature and returns the value the channel holds. Raises ValueAdjusted (with
        the value held as ``.value``) when it holds another value than the one written, unless
        ``accept_adjusted``."""
        lib = library()
        held = ctypes.c_void_p()
        status = lib.zeb_channel_set(self._pointer_checked(), text(name), text(as_text(value)),
                                     1 if accept_adjusted else 0, ctypes.byref(held))
        # The error texts first: the next call into the library clears them.
        error = lib.zeb_last_error().decode("utf-8", "replace")
        hints = lib.zeb_last_error_hints().decode("utf-8", "replace")
        held_text = take_text(held) if held.value else None
        if status not in (errors.OK, errors.VALUE_ADJUSTED):
            errors.raise_for(status, error, hints)
        held_value = typed(held_text, self._types.get(name) or self._get(name)[1])
        if status == errors.VALUE_ADJUSTED:
            raise errors.ValueAdjusted(error, [line for line in hints.split("\n") if line], held_value)
        return held_value  # type: ignore[return-value]

    def execute(self, name: str) -> None:
        """Executes a command feature."""
        call(library().zeb_channel_execute, self._pointer_checked(), text(name))

    def grab(self, timeout: float = 20.0) -> ImageSet:
        """One image set ("AcquisitionMode" "SingleFrame"), waiting at most `timeout` seconds.
        Raises Timeout or AcquisitionFailed with the plug-in's text."""
        with Stream(self, 1, timeout, keep_going=False, queue=1) as stream:
            image_set = stream.next()
        if image_set is None:
            raise errors.AcquisitionFailed("the acquisition ended without an image set")
        return image_set

    def stream(self, count: Optional[int] = None, timeout: float = 20.0) -> Stream:
        """A stream of `count` image sets (None: until the block ends), each waited for at most
        `timeout` seconds; a context manager. See Stream."""
        return Stream(self, count, timeout)

    def assist(self, name: str, act: Optional[Callable[[Dict[str, Any]], Any]] = None,
               max_images: int = 30) -> AssistResult:
        """Runs a setup assistant (full or short name: brightness, focus, orientation, trigger,
        encoder) as ``zeb assist --yes`` does. `act` is called with the step (``instruction``,
        ``result``, ``message``, ``arguments``) where a person would act (toggle the trigger,
        turn the encoder); returning False stops the assistant. Without `act`, a second passes
        there, as with ``zeb assist --yes``."""
        raised: List[BaseException] = []

        def on_act(step_json: bytes, _context: Any) -> int:
            try:
                step = json.loads(step_json.decode("utf-8"))
                if act is None:
                    time.sleep(1.0)
                    return 0
                return 1 if act(step) is False else 0
            except BaseException as error:  # noqa: BLE001 - raised again after the C call
                raised.append(error)
                return 1

        callback = ACT_FUNCTION(on_act)
        out = ctypes.c_void_p()
        call(library().zeb_assist, self._pointer_checked(), text(name), max_images, callback, None,
             ctypes.byref(out))
        result = json.loads(take_text(out))
        if raised:
            raise raised[0]
        return AssistResult(result["assistant"], result["outcome"], result["result"], result["message"],
                            tuple(result["arguments"]), result["imageSets"], tuple(result["steps"]))

    def __repr__(self) -> str:
        return "<zeb.Channel %d%s>" % (self.index, "" if self._pointer else " (closed)")


def open(channel: int = 0, *, station: Optional[Union[str, os.PathLike]] = None,  # noqa: A001
         plugin: Optional[Union[str, os.PathLike]] = None, camera: Optional[str] = None,
         profile: Optional[Union[str, os.PathLike, Sequence[Union[str, os.PathLike]]]] = None,
         settings: Optional[Union[Mapping[str, Value], Iterable[Tuple[str, Value]]]] = None,
         accept_adjusted: bool = False) -> Channel:
    """Opens channel `channel` and prepares it as zeb does: the camera (`camera`, or one that
    `settings` names as "DeviceImageSource", else the one wired to the channel's controller) is
    selected before any setting, then the profiles' lines and `settings` are applied in order.
    Raises ValueAdjusted when a value is not held as written, unless `accept_adjusted`.
    `station`: a station file (None: ZEB_STATION, else the built-in station), chosen once per
    process. `plugin`: the plug-in file (None: ZEB_PLUGIN, else the one beside the C library)."""
    lib = load(plugin and os.fspath(plugin), station and os.fspath(station))
    if profile is None:
        profiles: List[str] = []
    elif isinstance(profile, (str, os.PathLike)):
        profiles = [os.fspath(profile)]
    else:
        profiles = [os.fspath(p) for p in profile]
    pairs = list(settings.items()) if isinstance(settings, Mapping) else list(settings or [])
    options = {"camera": camera or "", "profiles": profiles, "acceptAdjusted": bool(accept_adjusted),
               "settings": [[str(name), as_text(value)] for name, value in pairs]}
    out = ctypes.c_void_p()
    call(lib.zeb_channel_open, int(channel), json.dumps(options).encode("utf-8"), ctypes.byref(out))
    return Channel(int(channel), out.value)

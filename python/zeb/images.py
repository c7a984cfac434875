"""Image sets as NumPy arrays over the C library's memory: no copy beyond the one from the plug-in."""

from __future__ import annotations

import ctypes
import datetime
import json
import os
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple, Union

import numpy as np

from ._library import ImageInfo, call, library, take_text, text


class _Handle:
    """Owns a C handle; frees it when the last array over its memory is gone."""

    def __init__(self, pointer: int, free) -> None:
        self.pointer = pointer
        self._free = free

    def __del__(self) -> None:
        if self.pointer:
            self._free(self.pointer)
            self.pointer = 0


class _Memory:
    """Memory of a handle as NumPy sees it, read-only; keeps the handle alive."""

    def __init__(self, owner: _Handle, address: int, shape: Tuple[int, ...], strides: Tuple[int, ...],
                 typestr: str) -> None:
        self._owner = owner
        self.__array_interface__ = {"version": 3, "data": (address, True), "shape": shape,
                                    "strides": strides, "typestr": typestr}


def view(owner: _Handle, address: int, shape: Tuple[int, ...], strides: Tuple[int, ...],
         dtype: Any) -> np.ndarray:
    """A read-only array over `address` that keeps `owner` alive."""
    return np.asarray(_Memory(owner, address, shape, strides, np.dtype(dtype).str))


def _time(iso: str) -> Optional[datetime.datetime]:
    try:
        return datetime.datetime.strptime(iso, "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=datetime.timezone.utc)
    except ValueError:
        return None


class ImageSet:
    """One image set as the host received it, with the channel's settings it was taken with.

    Attributes:
        number: the set's number: from 1 in a stream, as named in a file read back.
        directions: uint8 (4, height, width), in the order delivered (see ``lit_from``); line scan
            de-interleaved (a view over the delivered rows, no copy). None when ``averaged``.
        stack: uint8 as the host received it: the four directions one below the other (area
            scan), rows interleaved (line scan: row 4 j + k of direction k), or their average.
        averaged: True when the plug-in delivered the average ("SetupMode" "On").
        lit_from: the side each direction is lit from, as seen from the camera.
        exposure_time: microseconds. gain: decibels.
        lighting_sequence, lighting_orientation: the channel's "LightingSequenceType" and
            "LightingOrientation".
        line_scan: True for a line-scan channel.
        camera: the camera's name ("DeviceImageSource"); camera_model: vendor, model and serial.
        channel: the channel's name; channel_index its index.
        taken: when the set arrived, a UTC datetime.
    """

    def __init__(self, pointer: int) -> None:
        lib = library()
        self._handle = _Handle(pointer, lib.zeb_image_set_free)
        info = ImageInfo()
        call(lib.zeb_image_set_info, pointer, ctypes.byref(info))
        out = ctypes.c_void_p()
        call(lib.zeb_image_set_metadata_json, pointer, ctypes.byref(out))
        meta: Dict[str, Any] = json.loads(take_text(out))
        self.metadata = meta
        self.number: int = int(info.number)
        self.averaged: bool = bool(info.averaged)
        self.line_scan: bool = bool(info.line_scan)
        self.stack: np.ndarray = view(self._handle, info.pixels, (info.height, info.width), (info.width, 1),
                                      np.uint8)
        self.directions: Optional[np.ndarray] = None
        if not self.averaged:
            self.directions = view(self._handle, info.pixels, (4, info.direction_height, info.direction_width),
                                   (info.direction_offset, info.row_stride, 1), np.uint8)
        self._average: Optional[np.ndarray] = self.stack if self.averaged else None
        self._shape = (info.direction_height, info.direction_width)
        self.lit_from: str = meta["litFrom"]
        self.exposure_time: float = meta["exposureTime"]
        self.gain: float = meta["gain"]
        self.lighting_sequence: str = meta["lightingSequence"]
        self.lighting_orientation: str = meta["lightingOrientation"]
        self.camera: str = meta["camera"]
        self.camera_model: str = meta["cameraModel"]
        self.channel: str = meta["channel"]
        self.channel_index: int = meta["channelIndex"]
        self.scan_type: str = meta["scanType"]
        self.taken: Optional[datetime.datetime] = _time(meta["taken"])

    @property
    def average(self) -> np.ndarray:
        """uint8 (height, width): the four directions' average as the plug-in computes it (made
        once, on first use)."""
        if self._average is None:
            pixels = ctypes.c_void_p()
            call(library().zeb_image_set_average, self._handle.pointer, ctypes.byref(pixels))
            height, width = self._shape
            self._average = view(self._handle, pixels.value, (height, width), (width, 1), np.uint8)
        return self._average

    def save(self, folder: Union[str, os.PathLike]) -> List[Path]:
        """Writes the set's files as ``zeb acquire`` does (names, numbering after the channel's
        highest set in the folder, text chunks) and returns them. The folder is made when missing."""
        out = ctypes.c_void_p()
        call(library().zeb_image_set_save, self._handle.pointer, text(os.fspath(folder)), ctypes.byref(out))
        written = json.loads(take_text(out))
        return [Path(file) for file in written["files"]]

    def __repr__(self) -> str:
        form = "averaged" if self.averaged else "four directions"
        return "<zeb.ImageSet %d of %s: %d x %d, %s>" % (self.number, self.channel, self._shape[1],
                                                          self._shape[0], form)


def read_image_set(path: Union[str, os.PathLike]) -> ImageSet:
    """The image set a ``-stack.png`` holds (written by ``zeb acquire``, ``zeb view`` or
    ``ImageSet.save``), with the settings its text chunks name; an averaged set's
    ``-average.png`` too."""
    out = ctypes.c_void_p()
    call(library().zeb_image_set_read, text(os.fspath(path)), ctypes.byref(out))
    return ImageSet(out.value)

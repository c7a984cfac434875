"""The surface of an image set and the lights' calibration on a sphere, by zeb's photometric library."""

from __future__ import annotations

import ctypes
import dataclasses
import json
import os
import tempfile
from pathlib import Path
from typing import Any, Dict, Iterable, List, Mapping, Optional, Union

import numpy as np

from ._library import SurfaceInfo, call, library, take_text, text
from .channel import Channel
from .images import ImageSet, _Handle, view

PathLike = Union[str, os.PathLike]


@dataclasses.dataclass
class Surface:
    """What photometric stereo makes of an image set, per pixel of one direction image.

    normals: float32 (height, width, 3), unit normals: x to the image's right, y to its top, z
        toward the camera; NaN where no normal is reliable.
    albedo: float32 (height, width), 1 a white Lambertian surface.
    curvature: float32 (height, width), mean curvature in 1/mm, positive where convex.
    reliable: bool (height, width), where the normal is reliable.
    height: float32 (height, width), millimetres above the object plane, recovered from the
        normals (each pixel lit at its own height, as ``zeb acquire --surface`` solves it); NaN
        where no height is known.
    pixel_size, row_pitch: millimetres across a column and down a row.
    """
    normals: np.ndarray
    albedo: np.ndarray
    curvature: np.ndarray
    reliable: np.ndarray
    height: np.ndarray
    pixel_size: float
    row_pitch: float


class Calibration:
    """The lights measured on a sphere by ``zeb.calibrate``, or read by ``zeb.load_calibration``.

    figures: as ``zeb calibrate --json`` prints them ("sphere", "meanErrorDegrees",
        "p95ErrorDegrees", "nominalMeanErrorDegrees", "lights", "orientation").
    mean_error_degrees, p95_error_degrees: how far the normals over the sphere's cap lie from its
        true normals with this calibration (the acceptance figures), in degrees.
    agrees: whether the lights agree with the channel's orientation and sequence; ``advice`` says
        what to do when not (``zeb calibrate`` exits 2 then).
    record: the calibration file's content (a dict); ``path`` the file it was saved to or read from.
    """

    def __init__(self, record_text: str, figures: Optional[Dict[str, Any]] = None, agrees: bool = True,
                 advice: str = "", path: Optional[Path] = None) -> None:
        self.record_text = record_text
        self.record: Dict[str, Any] = json.loads(record_text)
        stored = self.record.get("figures", {})
        self.figures: Dict[str, Any] = figures if figures is not None else dict(stored)
        self.mean_error_degrees: float = float(self.figures.get("meanErrorDegrees", stored.get("meanErrorDegrees")))
        self.p95_error_degrees: float = float(self.figures.get("p95ErrorDegrees", stored.get("p95ErrorDegrees")))
        self.agrees = agrees
        self.advice = advice
        self.path = path

    def save(self, path: PathLike) -> Path:
        """Writes the calibration file (``zeb acquire --calibration`` and ``zeb.surface`` read it);
        its folder is made when missing."""
        call(library().zeb_calibration_save, self.record_text.encode("utf-8"), text(os.fspath(path)))
        self.path = Path(path)
        return self.path

    def __repr__(self) -> str:
        return "<zeb.Calibration mean %.2f deg, p95 %.2f deg>" % (self.mean_error_degrees, self.p95_error_degrees)


def load_calibration(path: PathLike) -> Calibration:
    """Reads a calibration file of ``zeb calibrate`` or ``Calibration.save``; raises zeb.Error
    saying what is wrong with one that is not."""
    out = ctypes.c_void_p()
    call(library().zeb_calibration_load, text(os.fspath(path)), ctypes.byref(out))
    return Calibration(take_text(out), path=Path(path))


def calibrate(channel: Channel, sphere_radius: float = 20.0, count: int = 4, timeout: float = 20.0) -> Calibration:
    """Measures the lights on the matte sphere under the channel's camera as ``zeb calibrate``
    does: "SetupMode" "Off", `count` image sets averaged, the sphere's radius in millimetres,
    each set waited for at most `timeout` seconds."""
    out = ctypes.c_void_p()
    call(library().zeb_calibrate, channel._pointer_checked(), float(sphere_radius), int(count),
         max(1, int(timeout * 1000)), ctypes.byref(out))
    result = json.loads(take_text(out))
    return Calibration(result["record"], result["figures"], result["agrees"], result["advice"])


def surface(image_set: ImageSet, calibration: Optional[Union[Calibration, PathLike]] = None,
            model: Optional[Union[Mapping[str, Any], Iterable[str]]] = None, heights: bool = True) -> Surface:
    """The surface of an image set of four directions, computed as ``zeb acquire --surface``
    does, with the lighting of the settings the set was taken with: the nominal model, its
    values changed by `model` (``{"domeModel": "L"}`` or ``["domeModel=L"]``, zeb's ``--model``),
    or the lights of `calibration` (a Calibration or a calibration file). With ``heights=False``
    every pixel is solved on the object plane, as zeb view's live surface is: no ``height`` (all
    NaN), tens of times faster, the normals of tall objects a few degrees off."""
    options: Dict[str, Any] = {} if heights else {"heights": False}
    temporary: Optional[str] = None
    if calibration is not None and model is not None:
        raise ValueError("a surface takes a calibration or model values, not both")
    if isinstance(calibration, Calibration):
        if calibration.path is None:
            handle, temporary = tempfile.mkstemp(suffix=".json", prefix="zeb-calibration-")
            os.close(handle)
            call(library().zeb_calibration_save, calibration.record_text.encode("utf-8"), text(temporary))
            options["calibration"] = temporary
        else:
            options["calibration"] = os.fspath(calibration.path)
    elif calibration is not None:
        options["calibration"] = os.fspath(calibration)
    if model is not None:
        items: List[str] = (["%s=%s" % (k, v) for k, v in model.items()] if isinstance(model, Mapping)
                            else [str(m) for m in model])
        options["model"] = items
    out = ctypes.c_void_p()
    try:
        call(library().zeb_surface_compute, image_set._handle.pointer, json.dumps(options).encode("utf-8"),
             ctypes.byref(out))
    finally:
        if temporary:
            os.remove(temporary)
    handle = _Handle(out.value, library().zeb_surface_free)
    info = SurfaceInfo()
    call(library().zeb_surface_info_get, out.value, ctypes.byref(info))
    h, w = info.height, info.width
    plane = (w * 4, 4)
    return Surface(
        normals=view(handle, info.normals, (h, w, 3), (w * 12, 12, 4), np.float32),
        albedo=view(handle, info.albedo, (h, w), plane, np.float32),
        curvature=view(handle, info.curvature, (h, w), plane, np.float32),
        reliable=view(handle, info.reliable, (h, w), (w, 1), np.bool_),
        height=(view(handle, info.height_map, (h, w), plane, np.float32) if info.height_map
                else np.full((h, w), np.nan, dtype=np.float32)),
        pixel_size=info.pixel_size, row_pitch=info.row_pitch)

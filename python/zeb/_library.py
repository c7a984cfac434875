"""Finding and loading the zeb_host C library, and its functions' signatures for ctypes."""

from __future__ import annotations

import ctypes
import os
import shutil
import sys
import threading
from pathlib import Path
from typing import List, Optional

from .errors import raise_for

LIBRARY_NAME = "zeb_host.dll" if sys.platform == "win32" else "libzeb_host.so"
PLUGIN_NAME = "Tamo.Morvane.Zeb.dll" if sys.platform == "win32" else "libTamo.Morvane.Zeb.so"

c_char_pp = ctypes.POINTER(ctypes.c_char_p)


class ImageInfo(ctypes.Structure):
    _fields_ = [
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("direction_width", ctypes.c_int32),
        ("direction_height", ctypes.c_int32),
        ("line_scan", ctypes.c_int32),
        ("averaged", ctypes.c_int32),
        ("number", ctypes.c_int64),
        ("pixels", ctypes.c_void_p),
        ("direction_offset", ctypes.c_int64),
        ("row_stride", ctypes.c_int64),
    ]


class SurfaceInfo(ctypes.Structure):
    _fields_ = [
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("pixel_size", ctypes.c_double),
        ("row_pitch", ctypes.c_double),
        ("normals", ctypes.c_void_p),
        ("albedo", ctypes.c_void_p),
        ("curvature", ctypes.c_void_p),
        ("reliable", ctypes.c_void_p),
        ("height_map", ctypes.c_void_p),
    ]


ACT_FUNCTION = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_char_p, ctypes.c_void_p)


def candidates(plugin: Optional[str] = None) -> List[Path]:
    """Where the C library is looked for, first to last.

    An explicit plug-in path (the library is installed beside the plug-in), ZEB_HOST_LIBRARY (a
    file, or a folder holding it), the folder of ZEB_PLUGIN, the build tree of the source tree this
    package runs from or of the current folder (a clone of Zeb's), the folder of the ``zeb`` program on PATH, and the folders the Debian
    package and the Windows installer install to.
    """
    found: List[Path] = []
    if plugin:
        found.append(Path(plugin).resolve().parent / LIBRARY_NAME)
    variable = os.environ.get("ZEB_HOST_LIBRARY")
    if variable:
        path = Path(variable)
        found.append(path / LIBRARY_NAME if path.is_dir() else path)
    if os.environ.get("ZEB_PLUGIN"):
        found.append(Path(os.environ["ZEB_PLUGIN"]).resolve().parent / LIBRARY_NAME)
    source = Path(__file__).resolve().parent.parent.parent
    presets = ("windows",) if sys.platform == "win32" else ("linux",)
    for tree in dict.fromkeys([source, Path.cwd()]):  # the package's source tree, or a clone one runs in
        for preset in presets:
            found.append(tree / "build" / preset / "bin" / LIBRARY_NAME)
    program = shutil.which("zeb")
    if program:
        found.append(Path(program).resolve().parent / LIBRARY_NAME)
    if sys.platform == "win32":
        installed = _installed_folder()
        if installed:
            found.append(Path(installed) / LIBRARY_NAME)
        for root in (os.environ.get("ProgramFiles"), r"C:\Program Files"):
            if root:
                found.append(Path(root) / "Brelan" / "Zeb" / LIBRARY_NAME)
    else:
        found += [Path("/usr/lib/zeb") / LIBRARY_NAME, Path("/usr/lib") / LIBRARY_NAME,
                  Path("/usr/local/lib/zeb") / LIBRARY_NAME]
    return found


def _installed_folder() -> Optional[str]:
    """Where the Windows installer put zeb.exe and the C library, as its "Apps & features" entry says."""
    try:
        import winreg

        with winreg.OpenKey(winreg.HKEY_LOCAL_MACHINE,
                            r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Zeb") as key:
            return str(winreg.QueryValueEx(key, "InstallLocation")[0])
    except OSError:
        return None


_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None


def library(plugin: Optional[str] = None) -> ctypes.CDLL:
    """The loaded C library; loads it on first use. Raises zeb.Error naming where it looked."""
    global _library
    with _lock:
        if _library is not None:
            return _library
        tried = []
        for path in candidates(plugin):
            if path.is_file():
                _library = _declare(ctypes.CDLL(str(path)))
                return _library
            tried.append(str(path))
        from .errors import Error
        raise Error("cannot find the zeb_host library (%s); looked at: %s. Set ZEB_HOST_LIBRARY to its "
                    "file or folder" % (LIBRARY_NAME, ", ".join(tried)))


def _declare(lib: ctypes.CDLL) -> ctypes.CDLL:
    status = ctypes.c_int
    handle = ctypes.c_void_p
    out_text = ctypes.POINTER(ctypes.c_void_p)
    out_handle = ctypes.POINTER(ctypes.c_void_p)
    signatures = {
        "zeb_api_version": (ctypes.c_int32, []),
        "zeb_version": (ctypes.c_char_p, []),
        "zeb_last_error": (ctypes.c_char_p, []),
        "zeb_last_error_hints": (ctypes.c_char_p, []),
        "zeb_free": (None, [ctypes.c_void_p]),
        "zeb_load": (status, [ctypes.c_char_p, ctypes.c_char_p]),
        "zeb_loaded_json": (status, [out_text]),
        "zeb_channels_json": (status, [out_text]),
        "zeb_channel_open": (status, [ctypes.c_int32, ctypes.c_char_p, out_handle]),
        "zeb_channel_close": (None, [handle]),
        "zeb_channel_features_json": (status, [handle, out_text]),
        "zeb_channel_get": (status, [handle, ctypes.c_char_p, out_text, out_text]),
        "zeb_channel_set": (status, [handle, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32, out_text]),
        "zeb_channel_execute": (status, [handle, ctypes.c_char_p]),
        "zeb_stream_start": (status, [handle, ctypes.c_int64, ctypes.c_int32, ctypes.c_int32, ctypes.c_int32,
                                      out_handle]),
        "zeb_stream_next": (status, [handle, ctypes.c_int32, out_handle]),
        "zeb_stream_interrupt": (None, [handle]),
        "zeb_stream_statistics_json": (status, [handle, out_text]),
        "zeb_stream_close": (None, [handle]),
        "zeb_image_set_info": (status, [handle, ctypes.POINTER(ImageInfo)]),
        "zeb_image_set_metadata_json": (status, [handle, out_text]),
        "zeb_image_set_average": (status, [handle, ctypes.POINTER(ctypes.c_void_p)]),
        "zeb_image_set_save": (status, [handle, ctypes.c_char_p, out_text]),
        "zeb_image_set_read": (status, [ctypes.c_char_p, out_handle]),
        "zeb_image_set_free": (None, [handle]),
        "zeb_surface_compute": (status, [handle, ctypes.c_char_p, out_handle]),
        "zeb_surface_info_get": (status, [handle, ctypes.POINTER(SurfaceInfo)]),
        "zeb_surface_free": (None, [handle]),
        "zeb_calibrate": (status, [handle, ctypes.c_double, ctypes.c_int32, ctypes.c_int32, out_text]),
        "zeb_calibration_save": (status, [ctypes.c_char_p, ctypes.c_char_p]),
        "zeb_calibration_load": (status, [ctypes.c_char_p, out_text]),
        "zeb_assist": (status, [handle, ctypes.c_char_p, ctypes.c_int32, ACT_FUNCTION, ctypes.c_void_p, out_text]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


def text(value: Optional[str]) -> Optional[bytes]:
    """A Python text as the C library takes it (UTF-8), None as NULL."""
    return None if value is None else os.fsdecode(value).encode("utf-8")


def call(function, *arguments, ok=(0,)) -> int:
    """Calls a C function returning a status; raises the matching zeb.Error unless the status is in `ok`."""
    status = function(*arguments)
    if status not in ok:
        lib = library()
        raise_for(status, lib.zeb_last_error().decode("utf-8", "replace"),
                  lib.zeb_last_error_hints().decode("utf-8", "replace"))
    return status


def take_text(pointer: ctypes.c_void_p) -> str:
    """The text a C call returned through a char**, freed."""
    if not pointer.value:
        return ""
    try:
        return ctypes.string_at(pointer.value).decode("utf-8")
    finally:
        library().zeb_free(pointer.value)

"""The pytest suite of the zeb package: the package from the source tree, the C library and zeb
from a build tree (ZEB_BUILD, default build/linux), each test session with a settings folder of
its own and the built-in station with exact sensors (no temporary noise), unless a test starts a
process of its own for another station."""

from __future__ import annotations

import json
import os
import subprocess
import sys
import tempfile
from pathlib import Path
from typing import Dict, Optional

import pytest

SOURCE = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("ZEB_BUILD", SOURCE / "build" / "linux")).resolve()
BIN = BUILD / "bin"
ZEB = BIN / ("zeb.exe" if sys.platform == "win32" else "zeb")
PACKAGE = SOURCE / "python"
WORK = Path(tempfile.mkdtemp(prefix="zeb-pytest-"))

sys.path.insert(0, str(PACKAGE))


def environment(**extra: str) -> Dict[str, str]:
    """The environment of the processes a test starts: this session's, with `extra`."""
    env = dict(os.environ)
    env.update(extra)
    return env


def run_zeb(*arguments: str, env: Optional[Dict[str, str]] = None, check: bool = True) -> subprocess.CompletedProcess:
    result = subprocess.run([str(ZEB), *arguments], capture_output=True, text=True, env=env or environment(),
                            timeout=300)
    if check and result.returncode != 0:
        raise AssertionError("zeb %s: %d\n%s" % (" ".join(arguments), result.returncode, result.stderr))
    return result


def run_python(code: str, *arguments: str, env: Optional[Dict[str, str]] = None,
               timeout: float = 300) -> subprocess.CompletedProcess:
    """Runs `code` in a Python process of its own (its own plug-in and station)."""
    env = env or environment()
    env["PYTHONPATH"] = str(PACKAGE)
    return subprocess.run([sys.executable, "-c", code, *arguments], capture_output=True, text=True, env=env,
                          timeout=timeout)


def station_file(name: str, change=None) -> Path:
    """The built-in station as a file (as `zeb station` prints it) with exact sensors, changed by
    `change(station)`."""
    station = json.loads(run_zeb("station", env=environment(ZEB_STATION="")).stdout)
    for camera in station["cameras"]:
        camera.setdefault("sensor", {})["noise"] = 0
    if change:
        change(station)
    path = WORK / name
    path.write_text(json.dumps(station, indent=1))
    return path


def sphere_station(station: dict) -> None:
    """The sphere under the area-scan camera, 160 x 128 pixels, with noise as in life."""
    camera = station["cameras"][0]
    camera["features"].update({"SensorWidth": "160", "SensorHeight": "128", "Width": "160", "Height": "128"})
    camera["scene"] = {"object": "sphere"}
    camera["sensor"]["noise"] = 1


def pytest_configure(config: pytest.Config) -> None:
    os.environ["ZEB_HOST_LIBRARY"] = str(BIN)
    os.environ["ZEB_DRIVE_C"] = str(WORK / "drive_c")
    os.environ["XDG_DATA_HOME"] = str(WORK / "data")
    os.environ.pop("ZEB_STATION_TRACE", None)
    os.environ.pop("ZEB_PLUGIN", None)
    os.environ["ZEB_STATION"] = str(station_file("exact.json", slow_trigger))


def slow_trigger(station: dict) -> None:
    """Smaller cameras than the built-in station's, so that the tests stay quick, and an external
    trigger input that pulses once in ten minutes: with "TriggerMode" "On" the channel waits."""
    sizes = {"Areascan": {"SensorWidth": "320", "SensorHeight": "256", "Width": "320", "Height": "256"},
             "Linescan": {"SensorWidth": "512", "Width": "512", "Height": "64"}}
    for camera in station["cameras"]:
        camera.setdefault("features", {}).update(sizes[camera["scanType"]])
    for controller in station["controllers"]:
        if "triggerInput" in controller:
            controller["triggerInput"]["periodMs"] = 600000


@pytest.fixture
def folder(tmp_path: Path) -> Path:
    return tmp_path


# The settings tests change, put back after each test: a channel keeps its settings (and its
# camera its exposure and gain) from one opening to the next within a process.
KEPT = ("ExposureTime", "Gain", "TriggerMode", "SetupMode", "AcquisitionMode", "LightingSequenceType",
        "LightingOrientation")
_initial: Dict[int, Dict[str, str]] = {}


@pytest.fixture(autouse=True)
def settings_put_back():
    import zeb

    yield
    for index in (0, 1):
        with zeb.open(index) as channel:
            if index not in _initial:
                continue
            for name, value in _initial[index].items():
                if channel.get(name) != value:
                    channel.set(name, value)


@pytest.fixture(autouse=True, scope="session")
def initial_settings():
    import zeb

    for index in (0, 1):
        with zeb.open(index) as channel:
            _initial[index] = {name: channel.get(name) for name in KEPT}
    yield

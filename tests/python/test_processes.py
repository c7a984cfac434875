"""What needs a process of its own: Ctrl-C during a stream with the device trace, the sphere
station's calibration, and the stations a process cannot change once the plug-in is loaded."""

from __future__ import annotations

import json
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

from conftest import PACKAGE, WORK, environment, run_python, sphere_station, station_file

INTERRUPTED = r'''
import time, zeb
raised = closed = None
try:
    with zeb.open(0, settings={"TriggerMode": "On"}) as channel:
        with channel.stream(timeout=60) as stream:
            print("waiting", flush=True)
            try:
                for image_set in stream:
                    pass
            except KeyboardInterrupt:
                raised = time.monotonic()
                raise
except KeyboardInterrupt:
    closed = time.monotonic()
    print("interrupted %.6f %.6f" % (raised, closed), flush=True)
'''


@pytest.mark.skipif(sys.platform == "win32", reason="SIGINT")
def test_ctrl_c_ends_a_wait_soon_and_leaves_the_camera_stopped_and_closed(tmp_path) -> None:
    trace = tmp_path / "trace.txt"
    env = environment(ZEB_STATION_TRACE=str(trace), PYTHONPATH=str(PACKAGE))
    child = subprocess.Popen([sys.executable, "-c", INTERRUPTED], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True, env=env)
    try:
        assert child.stdout.readline().strip() == "waiting", child.stderr.read()
        time.sleep(0.5)  # well inside the wait for the trigger
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        line = child.stdout.readline().split()
        child.wait(timeout=30)
    finally:
        child.kill()
    assert line and line[0] == "interrupted", child.stderr.read()
    raised, closed = float(line[1]), float(line[2])
    assert raised - sent < 0.25, "the wait ended %.3f s after Ctrl-C" % (raised - sent)
    assert closed - sent < 0.25, "the channel was closed %.3f s after Ctrl-C" % (closed - sent)
    camera = [l.split("\t") for l in trace.read_text().splitlines() if l.startswith("camera:")]
    operations = [fields[1] for fields in camera if fields[1] in ("open", "start", "stop", "close")]
    assert operations[-2:] == ["stop", "close"], operations[-6:]
    assert "start" in operations


CALIBRATE = r'''
import json, sys, zeb
with zeb.open(0, station=sys.argv[1]) as channel:
    calibration = zeb.calibrate(channel, sphere_radius=20.0, count=2)
    path = calibration.save(sys.argv[2])
    image_set = channel.grab()
again = zeb.load_calibration(path)
nominal = zeb.surface(image_set)
calibrated = zeb.surface(image_set, calibration=again)
unsaved = zeb.surface(image_set, calibration=calibration)
print(json.dumps({"figures": calibration.figures, "agrees": calibration.agrees,
                  "mean": again.mean_error_degrees, "record": again.record["lightingOrientation"],
                  "same": bool((calibrated.albedo == unsaved.albedo).all()),
                  "albedo": float(calibrated.albedo[64, 80]), "reliable": float(calibrated.reliable.mean())}))
'''


def test_calibration_on_the_sphere_station(tmp_path) -> None:
    station = station_file("sphere.json", sphere_station)
    result = run_python(CALIBRATE, str(station), str(tmp_path / "calibration" / "lights.json"))
    assert result.returncode == 0, result.stderr
    out = json.loads(result.stdout)
    figures = out["figures"]
    assert list(figures) == ["sphere", "meanErrorDegrees", "p95ErrorDegrees", "nominalMeanErrorDegrees", "lights",
                             "orientation"]
    assert out["agrees"] and figures["orientation"]["set"] == figures["orientation"]["detected"]
    assert abs(figures["sphere"]["x"] - 79.5) < 1 and figures["meanErrorDegrees"] < 5
    assert out["mean"] == pytest.approx(figures["meanErrorDegrees"])
    assert out["record"] == "180 deg" and out["same"]
    assert out["albedo"] == pytest.approx(0.6, abs=0.05)


def test_a_station_that_cannot_be_read_is_said(tmp_path) -> None:
    broken = tmp_path / "broken.json"
    broken.write_text('{"controllers": [], "colour": 1}')
    said = 'station file %s at /colour: unknown key "colour"' % broken
    code = "import sys, zeb\ntry:\n    %s\nexcept zeb.Error as error:\n    print('raised:', error)"
    # given to open or channels, or named by ZEB_STATION: the error is raised with the file's text
    for call in ("zeb.open(0, station=sys.argv[1])", "zeb.channels(station=sys.argv[1])"):
        result = run_python(code % call, str(broken))
        assert result.stdout.strip() == "raised: " + said, result.stdout + result.stderr
    result = run_python(code % "zeb.channels()", env=environment(ZEB_STATION=str(broken)))
    assert result.stdout.strip() == "raised: " + said, result.stdout + result.stderr
    missing = run_python("import zeb\nzeb.open(0, station='/no/such/station.json')")
    assert "no station file /no/such/station.json" in missing.stderr


def test_the_library_is_found_or_named(tmp_path) -> None:
    env = environment(ZEB_HOST_LIBRARY=str(tmp_path), ZEB_PLUGIN="")
    env["PATH"] = "/usr/bin:/bin"
    code = "import zeb._library as l\nl.candidates = lambda plugin=None: [l.Path(%r) / l.LIBRARY_NAME]\n" \
           "import zeb\nzeb.channels()" % str(tmp_path)
    result = run_python(code, env=env)
    assert "cannot find the zeb_host library" in result.stderr and "ZEB_HOST_LIBRARY" in result.stderr


def test_a_script_that_ends_without_closing_leaves_the_camera_closed(tmp_path) -> None:
    trace = tmp_path / "trace.txt"
    env = environment(ZEB_STATION_TRACE=str(trace))
    result = run_python("import zeb\nchannel = zeb.open(0)\nstream = channel.stream().__enter__()\n"
                        "print(stream.next().number)", env=env)
    assert result.returncode == 0 and result.stdout.strip() == "1", result.stderr
    operations = [l.split("\t")[1] for l in trace.read_text().splitlines() if l.startswith("camera:")]
    operations = [o for o in operations if o in ("open", "start", "stop", "close")]
    assert operations[-2:] == ["stop", "close"], operations[-6:]

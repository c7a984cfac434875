"""The three examples of docs/python.md, run as they are written, each in a process of its own."""

from __future__ import annotations

import re

import pytest

from conftest import SOURCE, run_python, sphere_station, station_file


def example(name: str) -> str:
    text = (SOURCE / "docs" / "python.md").read_text()
    found = re.search(r"<!-- example: %s -->\n```python\n(.*?)```" % name, text, re.S)
    assert found, "docs/python.md has no example %s" % name
    return found.group(1)


def run_example(name: str, tmp_path, *arguments: str):
    script = tmp_path / (name + ".py")
    script.write_text(example(name))
    code = "import os, runpy, sys\nos.chdir(%r)\nsys.argv = [%r, *sys.argv[1:]]\nrunpy.run_path(%r, run_name='__main__')" % (
        str(tmp_path), str(script), str(script))
    return run_python(code, *arguments)


def test_grab_example(tmp_path) -> None:
    result = run_example("grab", tmp_path)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith("image set 1 of ")
    assert len([line for line in lines if line.startswith("direction ")]) == 4
    assert (tmp_path / "directions.pgm").stat().st_size > 4 * 320 * 256


def test_stream_example(tmp_path) -> None:
    result = run_example("stream", tmp_path)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert len(lines) == 101 and lines[-1] == "0 lost, 0 failed"
    assert re.match(r"image set 100: albedo mean 0\.\d{3}, 5th percentile", lines[-2])


def test_calibrate_example(tmp_path) -> None:
    station = station_file("sphere-example.json", sphere_station)
    result = run_example("calibrate", tmp_path, str(station))
    assert result.returncode == 0, result.stdout + result.stderr
    assert re.match(r"acceptance: normals over the sphere \d+\.\d\d degrees off on average", result.stdout)
    assert (tmp_path / "zeb-calibration-channel0.json").is_file()

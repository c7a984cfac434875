"""The surface from Python against zeb acquire --surface's files, and the setup assistants."""

from __future__ import annotations

import numpy as np
import pytest

import zeb
from conftest import run_zeb
from pngread import read_png


@pytest.mark.parametrize("index", [0, 1])
def test_surface_equals_zeb_acquire_surface_files(index: int, tmp_path) -> None:
    run_zeb("acquire", "--channel", str(index), "--surface", "--out", str(tmp_path), "--files", "stack")
    base = tmp_path / ("zeb-channel%d-0001" % index)
    image_set = zeb.read_image_set(str(base) + "-stack.png")
    result = zeb.surface(image_set)
    height, width = image_set.directions.shape[1:]
    assert result.normals.shape == (height, width, 3) and result.normals.dtype == np.float32
    assert result.albedo.shape == (height, width) and result.reliable.dtype == np.bool_

    normals, _ = read_png(str(base) + "-normals.png")
    albedo, _ = read_png(str(base) + "-albedo.png")
    reliable = result.reliable
    assert reliable.mean() > 0.5
    assert np.array_equal(reliable, normals.any(axis=2)), "0, 0, 0 exactly where no normal is reliable"
    assert np.isnan(result.normals[~reliable]).all() and not np.isnan(result.normals[reliable]).any()
    quantised = (result.normals[reliable] + 1) / 2 * 65535
    assert np.abs(quantised - normals[reliable]).max() <= 0.5 + 1e-3
    written = albedo[reliable] / 65535.0
    assert np.abs(np.clip(result.albedo[reliable], 0, 1) - written).max() <= 0.5 / 65535 + 1e-6
    heights, _ = read_png(str(base) + "-height.png")
    known = np.isfinite(result.height)
    assert known.any() and not known[~reliable].any()
    micrometres = (result.height[known] - result.height[known].min()) * 1000
    assert np.abs(np.clip(micrometres, 0, 65535) - heights[known]).max() <= 0.5 + 1e-3
    lengths = np.linalg.norm(result.normals[reliable], axis=1)
    assert np.allclose(lengths, 1, atol=1e-4)
    assert result.pixel_size > 0 and result.row_pitch > 0


def test_live_surface_equals_the_surface_of_its_file(tmp_path) -> None:
    with zeb.open(0) as channel:
        image_set = channel.grab()
    live = zeb.surface(image_set)
    image_set.save(tmp_path)
    again = zeb.surface(zeb.read_image_set(tmp_path / "zeb-channel0-0001-stack.png"))
    assert np.array_equal(live.reliable, again.reliable)
    assert np.allclose(live.normals, again.normals, equal_nan=True)
    plane = zeb.surface(image_set, heights=False)
    assert np.isnan(plane.height).all() and not np.isnan(live.height).all()
    assert not np.allclose(plane.normals, live.normals, equal_nan=True), "the heights move the light"
    flatter = zeb.surface(image_set, model={"whiteLevel": 400}, heights=False)
    assert not np.allclose(flatter.albedo, plane.albedo)
    with pytest.raises(zeb.Error) as raised:
        zeb.surface(image_set, model=["colour=blue"])
    assert 'unknown setting "colour"' in str(raised.value)
    with pytest.raises(zeb.Error) as missing:
        zeb.surface(image_set, calibration=tmp_path / "none.json")
    assert "cannot read the calibration file" in str(missing.value)


def test_assistants_run_as_zeb_assist_yes_does() -> None:
    with zeb.open(0) as channel:
        result = channel.assist("orientation")
        assert result.assistant == "Orientation detection"
        assert (result.outcome, result.result) == ("finished", "Success"), result.message
        assert result.image_sets >= 1 and result.steps
        with pytest.raises(zeb.Error) as raised:
            channel.assist("encoder")
        assert "line-scan channel" in str(raised.value)
        with pytest.raises(zeb.Error) as unknown:
            channel.assist("colour")
        assert 'no assistant "colour"' in str(unknown.value)
        assert channel.get("SetupMode") == "Off", "the assistant gives the channel its image form back"


def test_assistant_act_is_called_where_a_person_acts() -> None:
    steps = []
    with zeb.open(1) as channel:
        result = channel.assist("encoder", act=lambda step: steps.append(step))
        assert result.result == "Success", result.message
        assert steps and all("instruction" in step for step in steps)
        stopped = channel.assist("encoder", act=lambda step: False)
        assert stopped.outcome == "stopped"

        def fails(step):
            raise RuntimeError("the person slipped")

        with pytest.raises(RuntimeError, match="slipped"):
            channel.assist("encoder", act=fails)

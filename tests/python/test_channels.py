"""Channels and features through the C library, on both scan types of the built-in station."""

from __future__ import annotations

import pytest

import zeb


def test_channels_list_both_scan_types() -> None:
    infos = zeb.channels()
    assert [c.index for c in infos] == [0, 1]
    assert [c.scan_type for c in infos] == ["Areascan", "Linescan"]
    assert all(c.name and c.serial for c in infos)


def test_another_station_in_the_same_process_is_refused(tmp_path) -> None:
    other = tmp_path / "other.json"
    other.write_text("{}")
    zeb.channels()  # the session's station is in use
    with pytest.raises(zeb.Error) as raised:
        zeb.open(0, station=other)
    assert "one station" in str(raised.value)


@pytest.mark.parametrize("index", [0, 1])
def test_features_carry_types_units_and_meanings(index: int) -> None:
    with zeb.open(index) as channel:
        features = channel.features
        exposure = features["ExposureTime"]
        assert exposure.unit == "us" and exposure.type == "Float" and exposure.writable
        assert "microseconds" in exposure.description and "65000" in exposure.limits
        assert isinstance(exposure.value, float)
        assert features["DeviceScanType"].value == ("Areascan", "Linescan")[index]
        assert features["DialogStart"].type == "Command" and features["DialogStart"].value is None
        assert "Diagonal" in features["LightingSequenceType"].choices
        # get gives Python types by the feature's type
        assert isinstance(channel.get("Width"), int)
        assert isinstance(channel.get("ExposureTime"), float)
        assert channel.get("TestPattern") in ("Off", "On")
        assert isinstance(channel.get("DialogStatus"), bool)
        assert channel.get("DeviceImageSource") != "None", "open selects the wired camera"


def test_set_returns_the_value_held_and_refuses_an_adjusted_one() -> None:
    with zeb.open(0) as channel:
        assert channel.set("ExposureTime", 120.0) == 120.0
        assert channel.get("ExposureTime") == 120.0
        with pytest.raises(zeb.ValueAdjusted) as raised:
            channel.set("ExposureTime", 70000)
        assert raised.value.value == 65000.0
        assert 'wrote "70000", the channel holds "65000"' in str(raised.value)
        assert channel.set("ExposureTime", 70000, accept_adjusted=True) == 65000.0
        assert channel.set("AcquisitionMode", "Continuous") == "Continuous"


def test_unknown_features_and_refused_values_carry_the_plugin_text() -> None:
    with zeb.open(0) as channel:
        with pytest.raises(zeb.FeatureNotFound) as missing:
            channel.get("Exposure")
        assert str(missing.value) == "Feature Exposure does not exist."
        with pytest.raises(zeb.FeatureNotFound):
            channel.set("Nope", 1)
        with pytest.raises(zeb.FeatureNotFound):
            channel.execute("NoSuchCommand")
        # a name so long that the plug-in's text is cut by the host's buffer is still not found
        with pytest.raises(zeb.FeatureNotFound) as long_name:
            channel.get("G" * 240)
        assert len(str(long_name.value)) == 255
        with pytest.raises(zeb.Error) as refused:
            channel.set("LightingSequenceType", "Sideways")
        assert "Sideways" in str(refused.value)
        channel.execute("DeviceImageSourceDetect")


def test_open_applies_settings_in_order_and_refuses_adjusted_values() -> None:
    with zeb.open(0, settings={"ExposureTime": 200, "Gain": 3.0}) as channel:
        assert channel.get("ExposureTime") == 200.0 and channel.get("Gain") == 3.0
    with pytest.raises(zeb.ValueAdjusted) as raised:
        zeb.open(0, settings=[("ExposureTime", 99999)])
    assert 'the channel holds "65000"' in str(raised.value)
    with zeb.open(0, settings=[("ExposureTime", 99999)], accept_adjusted=True) as channel:
        assert channel.get("ExposureTime") == 65000.0


def test_open_reads_profiles_before_the_settings(tmp_path) -> None:
    profile = tmp_path / "p.txt"
    profile.write_text("# a profile\nExposureTime=300\nGain=2\n")
    with zeb.open(0, profile=profile, settings={"Gain": 4}) as channel:
        assert channel.get("ExposureTime") == 300.0 and channel.get("Gain") == 4.0


def test_bad_channels_and_handles_say_why() -> None:
    with pytest.raises(zeb.Error) as raised:
        zeb.open(7)
    assert "no channel 7" in str(raised.value)
    with pytest.raises(zeb.Error) as camera:
        zeb.open(0, camera="No Such Camera")
    assert 'no camera "No Such Camera"' in str(camera.value)
    channel = zeb.open(0)
    with pytest.raises(zeb.Error):
        zeb.open(0)  # one user at a time
    channel.close()
    channel.close()
    with pytest.raises(zeb.Error):
        channel.get("Width")

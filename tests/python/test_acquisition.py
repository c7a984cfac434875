"""Image sets: grab and stream on both scan types, the arrays against the host interface's
delivery and zeb acquire's files, saving and reading them back."""

from __future__ import annotations

import datetime
import json
import threading

import numpy as np
import pytest

import zeb
from conftest import run_zeb
from pngread import read_png


def split(stack: np.ndarray, line_scan: bool) -> np.ndarray:
    """The four directions of a stack as the host interface delivers it, cut out independently."""
    if line_scan:
        return np.stack([stack[k::4] for k in range(4)])
    height = stack.shape[0] // 4
    return np.stack([stack[k * height:(k + 1) * height] for k in range(4)])


@pytest.mark.parametrize("index", [0, 1])
def test_grab_gives_the_delivered_directions_and_metadata(index: int) -> None:
    with zeb.open(index) as channel:
        image_set = channel.grab()
        width, height = channel.get("Width"), channel.get("Height")
        exposure, gain = channel.get("ExposureTime"), channel.get("Gain")
        sequence = channel.get("LightingSequenceType")
    assert image_set.number == 1 and not image_set.averaged
    assert image_set.line_scan == (index == 1)
    assert image_set.directions.shape == (4, height, width) and image_set.directions.dtype == np.uint8
    assert image_set.stack.shape == (4 * height, width)
    assert np.array_equal(image_set.directions, split(image_set.stack, index == 1))
    total = image_set.directions.astype(np.uint16).sum(axis=0)
    assert np.array_equal(image_set.average, (total >> 2).astype(np.uint8))
    assert image_set.directions.std() > 1, "the part shows under the lights"
    assert (image_set.exposure_time, image_set.gain, image_set.lighting_sequence) == (exposure, gain, sequence)
    assert image_set.lit_from.startswith("0 ")
    assert image_set.camera and image_set.scan_type == ("Areascan", "Linescan")[index]
    assert abs(image_set.taken - datetime.datetime.now(datetime.timezone.utc)) < datetime.timedelta(minutes=1)
    assert not image_set.directions.flags.writeable


def test_arrays_outlive_the_image_set_and_the_channel() -> None:
    with zeb.open(0) as channel:
        directions = channel.grab().directions
    copy = directions.copy()
    del channel
    assert np.array_equal(directions, copy)


def test_directions_equal_the_files_of_zeb_acquire(tmp_path) -> None:
    """Exact sensors: the same settings give the same pixels in zeb and in Python (area scan: the
    line-scan object moves with the encoder, so its lines differ from run to run)."""
    run_zeb("acquire", "--channel", "0", "--out", str(tmp_path), "--files", "direction")
    with zeb.open(0) as channel:
        image_set = channel.grab()
    for k in range(4):
        picture, texts = read_png(tmp_path / ("zeb-channel0-0001-direction%d.png" % k))
        assert np.array_equal(picture, image_set.directions[k]), "direction %d" % k
        assert texts["Image"] == "direction %d" % k


def test_line_scan_directions_are_zebs_own(tmp_path) -> None:
    """The rows of a line-scan stack go to the directions as zeb acquire's files have them."""
    run_zeb("acquire", "--channel", "1", "--out", str(tmp_path), "--files", "stack,direction")
    image_set = zeb.read_image_set(tmp_path / "zeb-channel1-0001-stack.png")
    assert image_set.line_scan
    for k in range(4):
        picture, _ = read_png(tmp_path / ("zeb-channel1-0001-direction%d.png" % k))
        assert np.array_equal(picture, image_set.directions[k]), "direction %d" % k


def test_averaged_sets_have_no_directions() -> None:
    with zeb.open(0, settings={"SetupMode": "On"}) as channel:
        image_set = channel.grab()
        assert image_set.averaged and image_set.directions is None
        assert image_set.average.shape == (channel.get("Height"), channel.get("Width"))
        assert image_set.average is image_set.stack
        with pytest.raises(zeb.Error) as raised:
            zeb.surface(image_set)
        assert "four directions" in str(raised.value)


@pytest.mark.parametrize("index", [0, 1])
def test_stream_counts_sets_and_stops_with_the_block(index: int) -> None:
    with zeb.open(index) as channel:
        with channel.stream(5) as stream:
            numbers = [image_set.number for image_set in stream]
        assert numbers == [1, 2, 3, 4, 5]
        assert (stream.lost, stream.failed, stream.last_failure) == (0, 0, "")
        with channel.stream() as stream:
            for image_set in stream:
                if image_set.number == 3:
                    break
        assert stream.statistics()["sets"] >= 3
        # the channel is free for the next acquisition
        assert channel.grab().number == 1


def test_save_writes_zeb_acquires_files_and_reads_them_back(tmp_path) -> None:
    with zeb.open(1) as channel:
        image_set = channel.grab()
    files = image_set.save(tmp_path)
    names = sorted(f.name for f in files)
    assert "zeb-channel1-0001-stack.png" in names and "zeb-channel1-0001-direction3.png" in names
    second = image_set.save(tmp_path)
    assert second[0].name.startswith("zeb-channel1-0002-")
    stack, texts = read_png(tmp_path / "zeb-channel1-0001-stack.png")
    assert np.array_equal(stack, image_set.stack)
    assert texts["Scan type"] == "Linescan" and texts["Image set"] == "1"
    back = zeb.read_image_set(tmp_path / "zeb-channel1-0002-stack.png")
    assert back.number == 2 and back.line_scan and back.channel_index == 1
    assert np.array_equal(back.directions, image_set.directions)
    assert (back.exposure_time, back.gain, back.camera, back.lighting_orientation) == (
        image_set.exposure_time, image_set.gain, image_set.camera, image_set.lighting_orientation)
    assert abs(back.taken - image_set.taken) < datetime.timedelta(milliseconds=2)


def test_read_image_set_of_zeb_acquire_files(tmp_path) -> None:
    result = run_zeb("acquire", "--count", "2", "--out", str(tmp_path), "--json")
    assert json.loads(result.stdout)["imageSets"] == 2
    image_set = zeb.read_image_set(tmp_path / "zeb-channel0-0002-stack.png")
    sheet, _ = read_png(tmp_path / "zeb-channel0-0002-directions.png")
    height, width = image_set.directions.shape[1:]
    assert np.array_equal(sheet[:height, :width], image_set.directions[0])
    assert np.array_equal(sheet[height:, width:], image_set.directions[3])
    average, _ = read_png(tmp_path / "zeb-channel0-0002-average.png")
    assert np.array_equal(average, image_set.average)
    assert image_set.number == 2 and image_set.scan_type == "Areascan"


def test_read_image_set_refuses_what_is_no_stack(tmp_path) -> None:
    (tmp_path / "text.png").write_text("hello")
    with pytest.raises(zeb.Error) as raised:
        zeb.read_image_set(tmp_path / "text.png")
    assert "is not a PNG file" in str(raised.value)
    with pytest.raises(zeb.Error) as missing:
        zeb.read_image_set(tmp_path / "none.png")
    assert "cannot read" in str(missing.value)
    run_zeb("acquire", "--out", str(tmp_path), "--files", "average")
    with pytest.raises(zeb.Error) as average:
        zeb.read_image_set(tmp_path / "zeb-channel0-0001-average.png")
    assert "-stack.png" in str(average.value)


def test_waits_let_other_threads_run() -> None:
    """A grab waits in the C library without Python's lock: a thread counts meanwhile."""
    counted = [0]
    done = threading.Event()

    def count() -> None:
        while not done.is_set():
            counted[0] += 1

    with zeb.open(0, settings={"TriggerMode": "On"}) as channel:
        thread = threading.Thread(target=count)
        thread.start()
        try:
            with pytest.raises(zeb.Timeout) as raised:
                channel.grab(timeout=0.6)
        finally:
            done.set()
            thread.join()
    assert "no image within 600 ms" in str(raised.value)
    assert counted[0] > 10000

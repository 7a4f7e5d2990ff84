"""kelvo.grab and kelvo.grab_to_files on a clip whose frames show their
own number."""

import os
import threading
import time

import numpy as np
import pytest

import kelvo
from conftest import frame_number, make_clip, read_bmp

pytestmark = pytest.mark.skipif(not hasattr(kelvo, "grab"), reason="kelvo built without grab")


@pytest.fixture(scope="module")
def clip(tmp_path_factory):
    path = tmp_path_factory.mktemp("clip") / "numbers.avi"
    make_clip(path, frames=50, rate=25)  # frame N starts at N / 25 s, ends at 2 s
    return path


@pytest.fixture(scope="module")
def h264_clip(tmp_path_factory):
    path = tmp_path_factory.mktemp("h264") / "numbers.mp4"
    make_clip(path, frames=50, rate=25, width=320, height=240, codec="h264")
    return path


def test_grab_takes_the_frame_each_time_names(clip):
    # A request at T takes the frame starting within (T - 5 ms, T - 5 ms +
    # one period); the stills come back in the order asked, repeats included.
    times = [1.0, 0.0, 0.5, 0.03, 1.96, 1.0, 0.999]
    expected_frames = [25, 0, 13, 1, 49, 25, 25]
    stills = kelvo.grab(clip, times, channels="bgr")
    assert [s.requested_time for s in stills] == times
    for still, frame in zip(stills, expected_frames):
        assert still.taken, still.error
        assert still.image.shape == (120, 160, 3) and still.image.dtype == np.uint8
        assert frame_number(still.image) == frame
        assert still.frame_time == pytest.approx(frame / 25)
        assert still.rule == "interval" and not still.enhanced
    # RGB is the same frame with the outer channels exchanged.
    rgb = kelvo.grab(str(clip), [0.5])[0].image
    np.testing.assert_array_equal(rgb, stills[2].image[..., ::-1])

    # Enhanced: the still is kelvo.enhance of the plain frame, and its report
    # is that enhancement's, quantity for quantity.
    enhanced = kelvo.grab(clip, [0.5], enhance=True, channels="bgr")[0]
    assert enhanced.enhanced
    expected, report = kelvo.enhance(stills[2].image, channels="bgr")
    np.testing.assert_array_equal(enhanced.image, expected)
    assert enhanced.report == dict(report.to_dict(), times=enhanced.report["times"])
    assert enhanced.report["times"].keys() == report.to_dict()["times"].keys()
    assert enhanced.report["times"]["total"] > 0
    assert stills[2].report is None

    # Beyond the end: a Still that says so; the others are still taken.
    late, early = kelvo.grab(clip, [5.0, 0.2])
    assert not late.taken and late.image is None and "beyond the end" in late.error
    assert early.taken and frame_number(early.image) == 5
    assert kelvo.grab(clip, []) == []


def test_grab_to_files_writes_the_same_stills(clip, tmp_path):
    files = {1.0: tmp_path / "a.bmp", 0.2: tmp_path / "b.png", 1.5: tmp_path / "c.jpg"}
    stills = kelvo.grab_to_files(clip, files)
    assert [s.file for s in stills] == [str(f) for f in files.values()]
    assert all(s.taken and s.image is None for s in stills)
    assert [round(s.frame_time * 25) for s in stills] == [25, 5, 38]
    np.testing.assert_array_equal(read_bmp(files[1.0]),
                                  kelvo.grab(clip, [1.0], channels="bgr")[0].image)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["a.bmp", "b.png", "c.jpg"]
    # Written enhanced, with the report of the enhancement (no pixels kept).
    written = kelvo.grab_to_files(clip, {0.5: tmp_path / "e.bmp"}, enhance=True, threads=1)[0]
    kept = kelvo.grab(clip, [0.5], enhance=True, channels="bgr")[0]
    np.testing.assert_array_equal(read_bmp(tmp_path / "e.bmp"), kept.image)
    assert written.report == dict(kept.report, times=written.report["times"])


def peak_threads(call, *args, **kwargs):
    """call's result and the most threads the process had while it ran."""
    peak, done = [0], threading.Event()

    def watch():
        while not done.is_set():
            peak[0] = max(peak[0], len(os.listdir("/proc/self/task")))
            time.sleep(0.0005)

    watcher = threading.Thread(target=watch)
    watcher.start()
    try:
        return call(*args, **kwargs), peak[0]
    finally:
        done.set()
        watcher.join()


def test_thread_counts_change_how_stills_are_made_not_what(h264_clip):
    times = [0.0, 0.44, 1.2, 1.96]
    plain = kelvo.grab(h264_clip, times, channels="bgr")
    assert [frame_number(s.image) for s in plain] == [0, 11, 30, 49]
    one, one_peak = peak_threads(kelvo.grab, h264_clip, times, channels="bgr",
                                 decoder_threads=1, threads=1, enhance=True)
    four, four_peak = peak_threads(kelvo.grab, h264_clip, times, channels="bgr",
                                   decoder_threads=4, threads=2, enhance=True)
    for a, b, frame in zip(one, four, plain):
        assert a.enhanced and a.frame_time == b.frame_time == frame.frame_time
        np.testing.assert_array_equal(a.image, b.image)
        np.testing.assert_array_equal(a.image, kelvo.enhance(frame.image, channels="bgr")[0])
    # The H.264 decoder really ran on the threads asked: four of its own
    # beside the same others, against none.
    assert four_peak >= one_peak + 3, (one_peak, four_peak)
    for bad in ({"decoder_threads": -1}, {"threads": -1}, {"stall_seconds": 0}):
        with pytest.raises(ValueError):
            kelvo.grab(h264_clip, [0.0], **bad)


def within(seconds, call, *args, **kwargs):
    """call(*args, **kwargs) on a thread of its own, so that a grab that
    never returns fails the test instead of stopping the run."""
    outcome = {}

    def run():
        try:
            outcome["value"] = call(*args, **kwargs)
        except BaseException as e:  # handed back to the test
            outcome["error"] = e

    worker = threading.Thread(target=run, daemon=True)
    worker.start()
    worker.join(seconds)
    assert not worker.is_alive(), f"{call.__name__} did not return within {seconds} s"
    if "error" in outcome:
        raise outcome["error"]
    return outcome["value"]


def test_damaged_inputs_and_bad_requests(clip, h264_clip, tmp_path):
    with pytest.raises(kelvo.GrabError) as missing:
        within(60, kelvo.grab, tmp_path / "none.avi", [1.0])
    assert missing.value.kind == "input" and "none.avi" in str(missing.value)
    garbage = tmp_path / "garbage.avi"
    garbage.write_bytes(b"RIFF" + bytes(range(256)) * 40)
    with pytest.raises(kelvo.GrabError, match="garbage.avi"):
        within(60, kelvo.grab, garbage, [0.5])

    # Cut in half: the frames that are there are taken, the rest not.
    half = tmp_path / "half.avi"
    data = clip.read_bytes()
    half.write_bytes(data[: len(data) // 2])
    early, late = within(60, kelvo.grab, half, [0.2, 1.5], channels="bgr")
    assert early.taken and frame_number(early.image) == 5
    assert not late.taken and late.image is None and late.error

    # Clips cut short and padded with zeros to their length, as a copy that
    # stopped writing leaves them: an error or the frames that are there,
    # never a hang or a wrong frame. (A cut MP4 read after another grab in
    # the process could leave every streaming task paused with no error.)
    from kelvo import _grab

    for source in (clip, h264_clip):
        data = source.read_bytes()
        for share in (0.3, 0.55, 0.8):
            cut = tmp_path / f"cut-{int(share * 100)}{source.suffix}"
            size = int(len(data) * share)
            cut.write_bytes(data[:size] + bytes(len(data) - size))
            try:
                within(60, _grab.inspect, str(cut))
            except kelvo.GrabError as e:
                assert cut.name in str(e)
            try:
                found = within(60, kelvo.grab, cut, [0.2, 1.0, 1.9], channels="bgr")
            except kelvo.GrabError as e:
                assert e.kind == "input" and cut.name in str(e)
                continue
            for still in found:
                if still.taken and not still.damaged:
                    assert frame_number(still.image) == round(still.frame_time * 25), cut.name
            assert found[0].taken or found[0].error

    # A pass that stands still longer than allowed is given up, not waited on:
    # an error when no frame had come yet, else the still is not taken.
    # Almost every pass has a microsecond with neither a frame nor a message,
    # but on a loaded machine one can happen to have none, so a few tries.
    for attempt in range(10):
        try:
            given_up = within(60, kelvo.grab, clip, [1.0], stall_seconds=1e-6)
        except kelvo.GrabError as e:
            assert "stopped moving" in str(e)
            break
        if not given_up[0].taken:
            assert "stopped" in given_up[0].error
            break
    else:
        pytest.fail("a microsecond's stall was never given up")

    with pytest.raises(ValueError):
        kelvo.grab(clip, [-1.0])
    with pytest.raises(ValueError, match="channels"):
        kelvo.grab(clip, [0.0], channels="rgba")
    with pytest.raises(kelvo.GrabError) as folder:
        within(60, kelvo.grab_to_files, clip, {0.0: tmp_path / "no" / "such" / "x.jpg"})
    assert folder.value.kind == "output"

"""kelvo.grab and kelvo.grab_to_files on a clip whose frames show their
own number."""

import threading

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

    # Enhanced: the still is kelvo.enhance of the plain frame.
    enhanced = kelvo.grab(clip, [0.5], enhance=True, channels="bgr")[0]
    assert enhanced.enhanced
    np.testing.assert_array_equal(enhanced.image,
                                  kelvo.enhance(stills[2].image, channels="bgr")[0])

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


def test_damaged_inputs_and_bad_requests(clip, tmp_path):
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

    with pytest.raises(ValueError):
        kelvo.grab(clip, [-1.0])
    with pytest.raises(ValueError, match="channels"):
        kelvo.grab(clip, [0.0], channels="rgba")
    with pytest.raises(kelvo.GrabError) as folder:
        within(60, kelvo.grab_to_files, clip, {0.0: tmp_path / "no" / "such" / "x.jpg"})
    assert folder.value.kind == "output"

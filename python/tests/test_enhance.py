"""kelvo.enhance against kelvo-enhance (the C++ pipeline) on the same pixels,
its argument checks and errors, and its use from several threads."""

import json
import pickle
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import kelvo
from conftest import photo_like, read_bmp, write_bmp

# Pipeline sizes, sizes that are padded, and the smallest there are.
SIZES = [(64, 64), (77, 101), (130, 66), (1, 1), (1, 9), (7, 1), (5, 3)]


def camel_to_snake(name):
    return "".join("_" + c.lower() if c.isupper() else c for c in name)


@pytest.fixture(scope="module")
def tool_results(tmp_path_factory, kelvo_enhance_tool):
    """Each test image, enhanced by kelvo-enhance: {size: (input, output, report line)}."""
    folder = tmp_path_factory.mktemp("tool")
    inputs = []
    for i, (h, w) in enumerate(SIZES):
        path = folder / f"in{i}.bmp"
        write_bmp(path, photo_like(h, w, seed=i))
        inputs.append(str(path))
    out = folder / "out"
    report = folder / "report.jsonl"
    subprocess.run([kelvo_enhance_tool, *inputs, "-o", str(out), f"--report={report}"],
                   check=True, timeout=300)
    lines = {line["input"]: line for line in map(json.loads, report.read_text().splitlines())}
    return {size: (photo_like(*size, seed=i), read_bmp(out / f"in{i}.bmp"), lines[inputs[i]])
            for i, size in enumerate(SIZES)}


def test_same_bytes_and_report_as_the_cpp_pipeline(tool_results):
    for size, (bgr, expected, line) in tool_results.items():
        before = bgr.copy()
        enhanced, report = kelvo.enhance(bgr, channels="bgr")
        assert enhanced.shape == bgr.shape and enhanced.flags.c_contiguous
        np.testing.assert_array_equal(enhanced, expected, err_msg=f"bgr {size}")
        np.testing.assert_array_equal(bgr, before)  # the input is left alone

        # The same photo in RGB order gives the same pixels in RGB order.
        rgb_enhanced, _ = kelvo.enhance(np.ascontiguousarray(bgr[..., ::-1]))
        np.testing.assert_array_equal(rgb_enhanced, expected[..., ::-1], err_msg=f"rgb {size}")
        # A channel-reversed view is just another layout of the same RGB photo.
        view_enhanced, _ = kelvo.enhance(bgr[..., ::-1])
        np.testing.assert_array_equal(view_enhanced, expected[..., ::-1], err_msg=f"view {size}")

        # Every quantity the tool reports, field for field (the tool prints
        # each float to 9 digits, which round-trips a float32).
        d = report.to_dict()
        for key, value in line.items():
            if key in ("input", "output", "stageMs"):
                continue
            ours = d[camel_to_snake(key)]
            assert getattr(report, camel_to_snake(key)) == ours
            if isinstance(value, bool):
                assert ours is value, key
            else:
                assert np.float32(ours) == np.float32(value), (size, key)
        assert set(d["times"]) == {camel_to_snake(k) for k in line["stageMs"]}
        assert d["times"]["total"] == report.times.total > 0


def test_crops_and_strided_views_give_the_crop_enhanced(tool_results):
    bgr, expected, _ = tool_results[(77, 101)]
    # Inside a larger picture: rows further apart than the crop is wide.
    canvas = np.full((90, 130, 3), 7, np.uint8)
    canvas[5:82, 11:112] = bgr
    crop = canvas[5:82, 11:112]
    assert not crop.flags.c_contiguous
    np.testing.assert_array_equal(kelvo.enhance(crop, channels="bgr")[0], expected)
    np.testing.assert_array_equal(kelvo.enhance(crop[..., ::-1])[0], expected[..., ::-1])

    # Every other pixel and row, upside down, Fortran order.
    spread = np.zeros((154, 202, 3), np.uint8)
    spread[::2, ::2] = bgr
    np.testing.assert_array_equal(kelvo.enhance(spread[::2, ::2], channels="bgr")[0], expected)
    flipped = np.ascontiguousarray(bgr[::-1])
    np.testing.assert_array_equal(kelvo.enhance(flipped[::-1], channels="bgr")[0], expected)
    np.testing.assert_array_equal(kelvo.enhance(np.asfortranarray(bgr), channels="bgr")[0],
                                  expected)

    # A single row or column cut from a larger picture.
    for size in [(1, 9), (7, 1)]:
        small, small_expected, _ = tool_results[size]
        big = np.zeros((20, 20, 3), np.uint8)
        big[3:3 + size[0], 4:4 + size[1]] = small
        view = big[3:3 + size[0], 4:4 + size[1]]
        np.testing.assert_array_equal(kelvo.enhance(view, channels="bgr")[0], small_expected)


def test_stage_switches_reach_the_pipeline():
    bgr = photo_like(64, 64, seed=3)
    full, full_report = kelvo.enhance(bgr)
    plain, plain_report = kelvo.enhance(bgr, skin=False, noise=False, stretch=False,
                                        sharpen=False)
    assert not np.array_equal(full, plain)
    assert plain_report.times.noise == plain_report.times.skin == 0
    assert plain_report.opacity == 0.5 and plain_report.skin_ratio == 0
    assert full_report.times.noise > 0
    no_noise, _ = kelvo.enhance(bgr, noise=False)
    assert not np.array_equal(no_noise, full)


def test_wrong_arguments_are_refused_clearly():
    good = np.zeros((8, 8, 3), np.uint8)
    for bad, kind, words in [
        (good.astype(np.float32), TypeError, "dtype uint8, not float32"),
        (good.astype(np.int16), TypeError, "dtype uint8"),
        (good.astype(np.int8), TypeError, "dtype uint8"),
        (good.tolist(), TypeError, "numpy array"),
        (None, TypeError, "numpy array"),
        (good[:, :, 0], ValueError, "(height, width, 3), not (8, 8)"),
        (np.zeros((8, 8, 4), np.uint8), ValueError, "not (8, 8, 4)"),
        (np.zeros((0, 8, 3), np.uint8), ValueError, "at least 1 x 1"),
        (np.zeros((2, 8, 8, 3), np.uint8), ValueError, "(height, width, 3)"),
    ]:
        with pytest.raises(kind, match=words.replace("(", r"\(").replace(")", r"\)")):
            kelvo.enhance(bad)
    with pytest.raises(ValueError, match="rgba"):
        kelvo.enhance(good, channels="rgba")
    with pytest.raises(TypeError):
        kelvo.enhance(good, True)  # the switches are keyword-only


def test_library_failure_is_kelvo_error_with_code_and_where(tmp_path):
    # Memory held below what the work images need: the library's own
    # allocation fails (code 12) and becomes kelvo.Error, in a child process
    # so the limit touches nothing else.
    script = textwrap.dedent("""
        import pickle, resource, sys
        import numpy as np
        import kelvo
        image = np.full((3000, 3000, 3), 100, np.uint8)
        with open("/proc/self/statm") as f:
            used = int(f.read().split()[0]) * resource.getpagesize()
        # Room for the result array and a little more, not for the pipeline.
        limit = used + 3 * image.nbytes // 2
        resource.setrlimit(resource.RLIMIT_AS, (limit, resource.RLIM_INFINITY))
        try:
            kelvo.enhance(image, channels="bgr")
        except kelvo.Error as e:
            sys.stdout.buffer.write(pickle.dumps(e))
        except MemoryError:
            print("MemoryError", file=sys.stderr)
            sys.exit(3)
        else:
            sys.exit(4)
    """)
    child = subprocess.run([sys.executable, "-c", script], capture_output=True, timeout=120)
    assert child.returncode == 0, child.stderr.decode()
    error = pickle.loads(child.stdout)  # pickles with its fields, as Dask needs
    assert isinstance(error, kelvo.Error)
    assert error.code == 12
    assert "Memory allocation failed" in str(error)
    assert error.where and str(error).endswith(error.where)
    assert "Memory allocation failed" not in error.where


def test_threads_run_while_enhance_works():
    # A Python thread counts its turns while another is inside enhance on a
    # large image. With the GIL held through the call it gets none. The
    # switch interval is set long so that the interpreter cannot take the
    # GIL from the caller either (which would let the counter run while the
    # caller is between its Python lines); the counting thread hands the
    # GIL over each turn with sleep(0). Only progress is checked, never
    # speed.
    image = photo_like(1200, 1600, seed=5)
    expected, _ = kelvo.enhance(image)
    inside = [False]
    seen = {}

    def work():
        inside[0] = True
        result = kelvo.enhance(image)[0]
        inside[0] = False
        seen["result"] = result

    interval = sys.getswitchinterval()
    sys.setswitchinterval(60.0)
    try:
        worker = threading.Thread(target=work)
        worker.start()
        turns_inside = 0
        while worker.is_alive():
            if inside[0]:
                turns_inside += 1
            time.sleep(0)
        worker.join()
    finally:
        sys.setswitchinterval(interval)
    np.testing.assert_array_equal(seen["result"], expected)
    assert turns_inside > 100

    # Several calls at once on different threads give each its own result.
    images = [photo_like(200, 150 + 10 * i, seed=i) for i in range(4)]
    serial = [kelvo.enhance(im)[0] for im in images]
    results = [None] * len(images)

    def one(i):
        results[i] = kelvo.enhance(images[i])[0]

    threads = [threading.Thread(target=one, args=(i,)) for i in range(len(images))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for got, want in zip(results, serial):
        np.testing.assert_array_equal(got, want)

"""kelvo.batch on a local cluster of two worker processes and on a
scheduler with two workers started as separate processes, the way a
cluster is started: photos and clips, corrupt ones among them; outputs,
failures, results and a resumed run."""

import json
import os
import subprocess
import sys
import time

import numpy as np
import pytest

import kelvo
from conftest import frame_number, make_clip, photo_like, read_bmp, write_bmp
from kelvo import _kelvo, batch

TIMEOUT = 300  # seconds for a whole batch run; a hang fails instead


CLIPS = {"clip1.avi": 50, "clip2.avi": 30, "clip3.avi": 40}  # frames at 25 per second
STILLS_EVERY_HALF_SECOND = {"clip1.avi": 4, "clip2.avi": 3, "clip3.avi": 4}
PHOTOS = ("a.bmp", "b.jpg", "c.png")


@pytest.fixture
def inputs(tmp_path):
    """in/: a BMP, a JPEG, a PNG, a corrupt JPEG, three clips and a corrupt one."""
    folder = tmp_path / "in"
    folder.mkdir()
    write_bmp(folder / "a.bmp", photo_like(80, 100, seed=1))
    write_bmp(tmp_path / "src.bmp", photo_like(96, 72, seed=2))
    for name in ("b.jpg", "c.png"):
        assert _kelvo._enhance_file(str(tmp_path / "src.bmp"), str(folder / name))["written"]
    (folder / "bad.jpg").write_bytes(b"\xff\xd8\xff\xe0 not really a photo" * 10)
    for name, frames in CLIPS.items():
        make_clip(folder / name, frames=frames)
    (folder / "broken.avi").write_bytes(b"RIFF" + bytes(range(256)) * 40)
    return folder


def run_batch(*args, cwd):
    child = subprocess.run([sys.executable, "-m", "kelvo.batch", *args], cwd=cwd,
                           capture_output=True, text=True, timeout=TIMEOUT)
    return child.returncode, child.stderr


def read_results(path):
    return {os.path.basename(r["output"] or r["input"]): r
            for r in map(json.loads, path.read_text().splitlines())}


def check_photos(folder, out, results, kelvo_enhance_tool, tmp_path):
    assert "bad.jpg" in results["bad.jpg"]["error"]
    assert not (out / "bad.jpg").exists()
    for name in PHOTOS:
        assert "error" not in results[name], results[name]
        assert results[name]["input"] == str(folder / name)
        report = results[name]["report"]
        assert 0 <= report["opacity"] <= 1 and report["times"]["total"] > 0
    # Exactly the pixels of kelvo.enhance, and the very file kelvo-enhance writes.
    expected, report = kelvo.enhance(read_bmp(folder / "a.bmp"), channels="bgr")
    np.testing.assert_array_equal(read_bmp(out / "a.bmp"), expected)
    recorded = results["a.bmp"]["report"]
    assert recorded == dict(report.to_dict(), times=recorded["times"])
    subprocess.run([kelvo_enhance_tool, str(folder / "b.jpg"), str(tmp_path / "tool.jpg")],
                   check=True, timeout=TIMEOUT)
    assert (out / "b.jpg").read_bytes() == (tmp_path / "tool.jpg").read_bytes()


def still_names(clip, count):
    return [f"{clip[:-4]}-{0.5 * i:.3f}.jpg" for i in range(count)]


def check_every_half_second(folder, out, results):
    assert "broken.avi" in results["broken.avi"]["error"]
    photo_report = results["a.bmp"]["report"]
    expected = set(PHOTOS) | {"bad.jpg", "broken.avi", "kelvo-batch.jsonl"}
    for clip, count in STILLS_EVERY_HALF_SECOND.items():
        for i, name in enumerate(still_names(clip, count)):
            expected.add(name)
            record = results[name]
            assert record["input"] == str(folder / clip) and "error" not in record, record
            assert record["requested_time"] == 0.5 * i
            # The frame starting within (T - 5 ms, T - 5 ms + 1/25 s).
            assert -0.005 < record["frame_time"] - 0.5 * i < 0.035
            assert record["enhanced"] is True and record["rule"] == "interval"
            # The enhancement's report, as for a photo.
            report = record["report"]
            assert report.keys() == photo_report.keys()
            assert report["times"].keys() == photo_report["times"].keys()
            assert 0 <= report["opacity"] <= 1 and report["times"]["total"] > 0
            assert _kelvo._image_size(str(out / name), decode=True) == (160, 120)
    assert set(results) | {"kelvo-batch.jsonl"} == expected
    # Nothing else written, nothing half-written left behind.
    assert set(os.listdir(out)) == expected - {"bad.jpg", "broken.avi"}


def test_local_cluster_records_failures_and_resumes(inputs, tmp_path, kelvo_enhance_tool):
    out = tmp_path / "out"
    args = [str(inputs), "-o", str(out), "--every", "0.5", "--enhance", "--workers", "2"]
    code, err = run_batch(*args, cwd=tmp_path)
    assert code == 1, err
    results = read_results(out / "kelvo-batch.jsonl")
    check_photos(inputs, out, results, kelvo_enhance_tool, tmp_path)
    check_every_half_second(inputs, out, results)

    # Again: the complete outputs are kept as they are, their records
    # carried over; the corrupt inputs fail again.
    done = [n for n in results if "error" not in results[n]]
    stamps = {n: (out / n).stat().st_mtime_ns for n in done}
    time.sleep(0.05)
    code, err = run_batch(*args, cwd=tmp_path)
    assert code == 1, err
    again = read_results(out / "kelvo-batch.jsonl")
    assert {n: (out / n).stat().st_mtime_ns for n in done} == stamps
    for name in done:
        assert again[name] == dict(results[name], skipped=True)
    assert "error" in again["bad.jpg"] and "error" in again["broken.avi"]

    # A photo cut short, one of another size, a still missing and a still
    # cut short are not complete: those four are done again.
    redo = ["c.png", "a.bmp", "clip2-0.500.jpg", "clip3-1.000.jpg"]
    data = (out / "c.png").read_bytes()
    (out / "c.png").write_bytes(data[: len(data) // 2])
    write_bmp(out / "a.bmp", photo_like(10, 10, seed=9))
    (out / redo[2]).unlink()
    data = (out / redo[3]).read_bytes()
    (out / redo[3]).write_bytes(data[: len(data) // 2])
    code, err = run_batch(*args, cwd=tmp_path)
    assert code == 1, err
    third = read_results(out / "kelvo-batch.jsonl")
    assert sorted(n for n in done if "skipped" not in third[n]) == sorted(redo)
    check_photos(inputs, out, third, kelvo_enhance_tool, tmp_path)
    check_every_half_second(inputs, out, third)


def test_scheduler_and_workers_as_separate_processes(inputs, tmp_path, kelvo_enhance_tool):
    scheduler_file = tmp_path / "scheduler.json"
    common = ["--scheduler-file", str(scheduler_file), "--no-dashboard"]
    processes = [subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_scheduler",
                                   "--port", "0", *common],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
    try:
        for _ in range(2):
            processes.append(subprocess.Popen(
                [sys.executable, "-m", "distributed.cli.dask_worker", "--nthreads", "1", *common],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        deadline = time.monotonic() + 60
        while not scheduler_file.exists() or not scheduler_file.stat().st_size:
            assert time.monotonic() < deadline, "the scheduler did not start"
            time.sleep(0.2)
        address = json.loads(scheduler_file.read_text())["address"]

        # The work as a manifest, with paths relative to it.
        out = tmp_path / "out"
        manifest = tmp_path / "work.jsonl"
        lines = [{"input": f"in/{n}", "outputs": [f"out/{n}"]} for n in (*PHOTOS, "bad.jpg")]
        lines.append({"input": "in/clip1.avi", "times": [0.2, 1.0, 9.0],
                      "outputs": ["out/one.bmp", "out/two.bmp", "out/late.bmp"]})
        lines.append({"input": "in/broken.avi", "times": [0.1], "outputs": ["out/x.bmp"]})
        manifest.write_text("".join(json.dumps(line) + "\n" for line in lines))
        code, err = run_batch("--manifest", str(manifest), "--scheduler", address,
                              "--results", str(out / "kelvo-batch.jsonl"), cwd=inputs)
        assert code == 1, err
        results = read_results(out / "kelvo-batch.jsonl")
        check_photos(inputs, out, results, kelvo_enhance_tool, tmp_path)
        assert frame_number(read_bmp(out / "one.bmp")) == 5
        assert frame_number(read_bmp(out / "two.bmp")) == 25
        assert results["one.bmp"]["enhanced"] is False
        assert "beyond the end" in results["late.bmp"]["error"]
        assert "broken.avi" in results["x.bmp"]["error"]
        assert sorted(os.listdir(out)) == sorted([*PHOTOS, "kelvo-batch.jsonl", "one.bmp",
                                                  "two.bmp"])
    finally:
        for p in reversed(processes):
            p.terminate()
        for p in processes:
            try:
                p.wait(timeout=30)
            except subprocess.TimeoutExpired:
                p.kill()


def test_bad_work_is_refused_before_anything_starts(inputs, tmp_path, capsys):
    photos = inputs
    other = tmp_path / "other"
    other.mkdir()
    write_bmp(other / "a.bmp", photo_like(4, 4, seed=0))
    manifest = tmp_path / "m.jsonl"
    for args, words in [
        ([str(photos / "a.bmp"), str(other / "a.bmp"), "-o", str(tmp_path)], "both be written"),
        ([str(photos), "--manifest", str(manifest), "-o", str(tmp_path)], "not both"),
        ([str(photos)], "-o DIR"),
        ([str(photos / "a.bmp"), "-o", str(photos)], "its own input"),
        ([str(photos), "-o", str(tmp_path / "o")], "needs --every SECONDS or --at"),
        ([str(photos), "-o", str(tmp_path), "--workers", "0"], "--workers"),
        ([str(photos), "-o", str(tmp_path), "--threads", "0"], "--threads"),
        ([str(photos), "-o", str(tmp_path), "--decoder-threads", "0"], "--decoder-threads"),
    ]:
        assert batch.main(args) == 2, args
        assert words in capsys.readouterr().err
    for line, words in [('{"input": "a.bmp", "outputs": ["x.bmp"]', "not JSON"),
                        ('{"outputs": ["x.bmp"]}', '"input"'),
                        ('{"input": "a.bmp", "outputs": ["x.bmp"], "colour": 1}', "colour"),
                        ('{"input": "a.bmp", "outputs": ["x.gif"]}', ".jpg"),
                        ('{"input": "a.bmp", "outputs": "x.bmp"}', "one file name"),
                        ('{"input": "v.avi", "times": "1"}', "list of seconds"),
                        ('{"input": "v.avi", "times": [1, 2], "outputs": ["x.jpg"]}',
                         "one file per time")]:
        manifest.write_text(line + "\n")
        assert batch.main(["--manifest", str(manifest), "--results", str(tmp_path / "r")]) == 2
        assert words in capsys.readouterr().err
    assert not (tmp_path / "r").exists()


def test_local_workers_share_the_cores_out():
    cores = len(os.sched_getaffinity(0))
    counts = [batch.thread_counts(batch.parse_arguments(["x", "--workers", str(n)]))
              for n in (1, 2, 3 * cores)]
    assert counts == [(cores, cores), (max(1, cores // 2),) * 2, (1, 1)]
    assert batch.thread_counts(batch.parse_arguments(
        ["x", "--workers", "2", "--threads", "3", "--decoder-threads", "5"])) == (3, 5)
    # A cluster's machines are not known here: their own defaults stand.
    assert batch.thread_counts(batch.parse_arguments(
        ["x", "--scheduler", "tcp://h:8786"])) == (0, 0)


def test_largest_inputs_start_first(tmp_path):
    sizes = {"small.avi": 10, "large.jpg": 3000, "middle.mp4": 500, "also-middle.avi": 500}
    for name, size in sizes.items():
        (tmp_path / name).write_bytes(bytes(size))
    names = ["missing.avi", *sizes]
    tasks = [batch.Task(input=str(tmp_path / n), outputs=[]) for n in names]
    ordered = [os.path.basename(t.input) for t in batch.largest_first(tasks)]
    # Equal sizes keep the order given; what cannot be read goes last.
    assert ordered == ["large.jpg", "middle.mp4", "also-middle.avi", "small.avi", "missing.avi"]

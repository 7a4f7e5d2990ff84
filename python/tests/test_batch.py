"""kelvo.batch on a local cluster of two worker processes and on a
scheduler with two workers started as separate processes, the way a
cluster is started: outputs, failures, results and a resumed run."""

import json
import os
import subprocess
import sys
import time

import numpy as np
import pytest

import kelvo
from conftest import photo_like, read_bmp, write_bmp
from kelvo import _kelvo, batch

TIMEOUT = 300  # seconds for a whole batch run; a hang fails instead


@pytest.fixture
def photos(tmp_path):
    """in/: a BMP, a JPEG, a PNG and a corrupt JPEG."""
    folder = tmp_path / "in"
    folder.mkdir()
    write_bmp(folder / "a.bmp", photo_like(80, 100, seed=1))
    write_bmp(tmp_path / "src.bmp", photo_like(96, 72, seed=2))
    for name in ("b.jpg", "c.png"):
        assert _kelvo._enhance_file(str(tmp_path / "src.bmp"), str(folder / name))["written"]
    (folder / "bad.jpg").write_bytes(b"\xff\xd8\xff\xe0 not really a photo" * 10)
    return folder


def run_batch(*args, cwd):
    child = subprocess.run([sys.executable, "-m", "kelvo.batch", *args], cwd=cwd,
                           capture_output=True, text=True, timeout=TIMEOUT)
    return child.returncode, child.stderr


def read_results(path):
    return {os.path.basename(r["output"]): r
            for r in map(json.loads, path.read_text().splitlines())}


def check_outputs(folder, out, results, kelvo_enhance_tool, tmp_path):
    assert set(results) == {"a.bmp", "b.jpg", "c.png", "bad.jpg"}
    assert "bad.jpg" in results["bad.jpg"]["error"]
    assert not (out / "bad.jpg").exists()
    for name in ("a.bmp", "b.jpg", "c.png"):
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
    # Nothing half-written left behind.
    assert sorted(os.listdir(out)) == ["a.bmp", "b.jpg", "c.png", "kelvo-batch.jsonl"]


def test_local_cluster_records_failures_and_resumes(photos, tmp_path, kelvo_enhance_tool):
    out = tmp_path / "out"
    code, err = run_batch(str(photos), "-o", str(out), "--workers", "2", cwd=tmp_path)
    assert code == 1, err
    results = read_results(out / "kelvo-batch.jsonl")
    check_outputs(photos, out, results, kelvo_enhance_tool, tmp_path)

    # Again: the complete outputs are kept as they are, their records
    # carried over; the corrupt input fails again.
    stamps = {n: (out / n).stat().st_mtime_ns for n in ("a.bmp", "b.jpg", "c.png")}
    time.sleep(0.05)
    code, err = run_batch(str(photos), "-o", str(out), "--workers", "2", cwd=tmp_path)
    assert code == 1, err
    again = read_results(out / "kelvo-batch.jsonl")
    assert {n: (out / n).stat().st_mtime_ns for n in stamps} == stamps
    for name in stamps:
        assert again[name]["skipped"] is True
        assert again[name]["report"] == results[name]["report"]
    assert "error" in again["bad.jpg"]

    # An output cut short, and one of another size, are not complete: done again.
    data = (out / "c.png").read_bytes()
    (out / "c.png").write_bytes(data[: len(data) // 2])
    write_bmp(out / "a.bmp", photo_like(10, 10, seed=9))
    code, err = run_batch(str(photos), "-o", str(out), "--workers", "2", cwd=tmp_path)
    assert code == 1, err
    third = read_results(out / "kelvo-batch.jsonl")
    assert "skipped" not in third["c.png"] and "skipped" not in third["a.bmp"]
    assert third["b.jpg"]["skipped"] is True
    check_outputs(photos, out, third, kelvo_enhance_tool, tmp_path)


def test_scheduler_and_workers_as_separate_processes(photos, tmp_path, kelvo_enhance_tool):
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
        manifest.write_text("".join(
            json.dumps({"input": f"in/{n}", "outputs": [f"out/{n}"]}) + "\n"
            for n in ("a.bmp", "b.jpg", "c.png", "bad.jpg")))
        code, err = run_batch("--manifest", str(manifest), "--scheduler", address,
                              "--results", str(out / "kelvo-batch.jsonl"), cwd=photos)
        assert code == 1, err
        results = read_results(out / "kelvo-batch.jsonl")
        check_outputs(photos, out, results, kelvo_enhance_tool, tmp_path)
    finally:
        for p in reversed(processes):
            p.terminate()
        for p in processes:
            try:
                p.wait(timeout=30)
            except subprocess.TimeoutExpired:
                p.kill()


def test_bad_work_is_refused_before_anything_starts(photos, tmp_path, capsys):
    other = tmp_path / "other"
    other.mkdir()
    write_bmp(other / "a.bmp", photo_like(4, 4, seed=0))
    manifest = tmp_path / "m.jsonl"
    for args, words in [
        ([str(photos / "a.bmp"), str(other / "a.bmp"), "-o", str(tmp_path)], "both be written"),
        ([str(photos), "--manifest", str(manifest), "-o", str(tmp_path)], "not both"),
        ([str(photos)], "-o DIR"),
        ([str(photos / "a.bmp"), "-o", str(photos)], "its own input"),
        ([str(photos), "-o", str(tmp_path), "--workers", "0"], "--workers"),
    ]:
        assert batch.main(args) == 2, args
        assert words in capsys.readouterr().err
    for line, words in [('{"input": "a.bmp", "outputs": ["x.bmp"]', "not JSON"),
                        ('{"outputs": ["x.bmp"]}', '"input"'),
                        ('{"input": "a.bmp", "outputs": ["x.bmp"], "colour": 1}', "colour"),
                        ('{"input": "a.bmp", "outputs": ["x.gif"]}', ".jpg"),
                        ('{"input": "a.bmp", "outputs": "x.bmp"}', "one file name")]:
        manifest.write_text(line + "\n")
        assert batch.main(["--manifest", str(manifest), "--results", str(tmp_path / "r")]) == 2
        assert words in capsys.readouterr().err
    assert not (tmp_path / "r").exists()

"""Batch work on Dask, photos enhanced and stills taken from videos:
python3 -m kelvo.batch --help.

One Dask task per input file. By default a local cluster of worker
processes on this machine does the work; --scheduler sends it to any Dask
cluster whose workers can import kelvo and see the same files (paths are
made absolute before they are sent).

The results file gets one JSON object per output on a line of its own. A
failed input is recorded with its reason and the others go on. A second
run over the same work skips every output that is already complete, so an
interrupted run can simply be started again.
"""

from __future__ import annotations

import argparse
import contextlib
import json
import logging
import os
import sys
import tempfile
from dataclasses import dataclass, field
from typing import Iterable, Iterator

import kelvo
from kelvo import _kelvo

PHOTO_EXTENSIONS = (".jpg", ".jpeg", ".png", ".bmp")
# What a folder given as input contributes as videos; a file given by name
# is tried as a video whatever its extension.
VIDEO_EXTENSIONS = (".mp4", ".m4v", ".mov", ".mkv", ".webm", ".avi", ".mpg", ".mpeg", ".ts",
                    ".mts", ".m2ts", ".ogv", ".wmv", ".flv", ".3gp")

EXIT_OK, EXIT_FAILED, EXIT_USAGE = 0, 1, 2


class UsageError(Exception):
    """Bad arguments or a bad manifest: nothing was started."""


STILL_PATTERN = "{name}-%t"  # the grab library's still names: clip-12.500.jpg


@dataclass
class Task:
    """The work on one input file, as sent to a worker.

    A photo: outputs holds its one output. A video: times and outputs pair
    up, or with every > 0 the times are every `every` seconds over the whole
    video (known only once the worker has opened it), named in out_dir.
    """

    input: str
    outputs: list[str]
    times: list[float] = field(default_factory=list)
    every: float = 0.0
    out_dir: str = ""
    extension: str = "jpg"
    enhance: bool = True
    quality: int = 95
    max_pixels: int = 100_000_000
    threads: int = 0          # the library's threads for one image; 0: its default
    decoder_threads: int = 0  # the video decoder's threads; 0: its default


def is_photo(path: str) -> bool:
    return path.lower().endswith(PHOTO_EXTENSIONS)


def is_video(path: str) -> bool:
    return path.lower().endswith(VIDEO_EXTENSIONS)


def still_name(out_dir: str, extension: str, time: float, video: str) -> str:
    from kelvo import _grab

    return os.path.join(out_dir, _grab.still_name(f"{STILL_PATTERN}.{extension}", 1, time, video))


# ---------------------------------------------------------------------------
# On the worker.


def output_is_complete(output: str, input_size: tuple[int, int] | None) -> bool:
    """Whether an existing output can be kept on a second run.

    Complete means the whole image decodes and, for a photo, has the input's
    size (either way round, as a photo turned upright swaps its sides).
    Outputs are only ever renamed into place once written, so a file at the
    name was whole when written; but it may come from another tool, a copy
    cut short or another photo of the same name, and decoding it costs a
    small part of what enhancing it again would.
    """
    if not os.path.isfile(output):
        return False
    try:
        size = _kelvo._image_size(output, decode=True)
    except (ValueError, kelvo.Error):
        return False
    return input_size is None or size in (input_size, input_size[::-1])


def _photo_records(task: Task, skip_complete: bool) -> list[dict]:
    output = task.outputs[0]
    record: dict = {"input": task.input, "output": output}
    try:
        input_size = _kelvo._image_size(task.input)
    except (ValueError, kelvo.Error) as e:
        return [dict(record, error=f"cannot read the input: {e}")]
    if skip_complete and output_is_complete(output, input_size):
        return [dict(record, skipped=True)]
    os.makedirs(os.path.dirname(output) or ".", exist_ok=True)
    outcome = _kelvo._enhance_file(task.input, output, quality=task.quality,
                                   max_pixels=task.max_pixels, threads=task.threads)
    if outcome["report"] is not None:
        record["report"] = outcome["report"].to_dict()
    if outcome["warnings"]:
        record["warnings"] = outcome["warnings"]
    if not outcome["written"]:
        record["error"] = outcome["error"]
    return [record]


def _video_records(task: Task, skip_complete: bool) -> list[dict]:
    try:
        from kelvo import _stills
    except ImportError as e:
        raise RuntimeError(f"this installation of kelvo cannot read videos: {e}") from None
    import kelvo

    times, outputs = list(task.times), list(task.outputs)
    try:
        if task.every > 0:
            from kelvo import _grab

            duration = _grab.inspect(task.input)["duration"]
            if duration < 0:
                return [{"input": task.input, "output": None,
                         "error": "the video does not say how long it is, so --every has no end"}]
            # The last frame starts before the end: a time at the very end
            # would be beyond it.
            times = [t for t in _grab.every_times(task.every, 0.0, duration) if t < duration]
            outputs = [still_name(task.out_dir, task.extension, t, task.input) for t in times]
        records, wanted = [], {}
        for time, output in zip(times, outputs):
            base = {"input": task.input, "output": output, "requested_time": time}
            if skip_complete and output_is_complete(output, None):
                records.append(dict(base, skipped=True))
            else:
                wanted[time] = output
        for output in set(wanted.values()):
            os.makedirs(os.path.dirname(output) or ".", exist_ok=True)
        stills = (_stills.grab_to_files(task.input, wanted, enhance=task.enhance,
                                        quality=task.quality, threads=task.threads,
                                        decoder_threads=task.decoder_threads)
                  if wanted else [])
    except (kelvo.GrabError, ValueError) as e:
        return [{"input": task.input, "output": o, "error": str(e)} for o in outputs or [None]]
    for still in stills:
        record = {"input": task.input, "output": still.file,
                  "requested_time": still.requested_time}
        if still.taken:
            record.update(frame_time=still.frame_time, rule=still.rule,
                          enhanced=still.enhanced, damaged=still.damaged)
            if still.report is not None:
                record["report"] = still.report
        else:
            record["error"] = still.error
        records.append(record)
    return records


_memory_kept = False


def _keep_memory() -> None:
    """Lets this worker process keep the memory its tasks free, for the next.

    Each task allocates frames, conversions and the enhancement's planes of
    a few megabytes each. glibc hands such blocks back to the system when
    they are freed, so every task touched all of them afresh, page by page:
    over half of a task's CPU time on a short clip went to page faults.
    Kept in one arena (the streaming threads are new in every task and
    would otherwise be given other arenas) and never trimmed, the next
    task reuses them. The process holds on to its peak heap, which a
    worker doing the same work over and over needs again anyway."""
    global _memory_kept
    if _memory_kept:
        return
    _memory_kept = True
    try:
        import ctypes

        libc = ctypes.CDLL("libc.so.6")
        m_trim_threshold, m_mmap_threshold, m_arena_max = -1, -3, -8
        libc.mallopt(m_mmap_threshold, 32 << 20)  # glibc's largest
        libc.mallopt(m_trim_threshold, 1 << 30)
        libc.mallopt(m_arena_max, 1)
    except (OSError, AttributeError):
        pass  # not glibc: its own ways stand


def run_task(task: Task, skip_complete: bool = True) -> list[dict]:
    """Does one input's work; one record per output. Never raises: a
    failure is a record with "error"."""
    _keep_memory()
    try:
        if is_photo(task.input):
            return _photo_records(task, skip_complete)
        return _video_records(task, skip_complete)
    except Exception as e:  # a worker must report, never lose, a failure
        return [{"input": task.input, "output": o, "error": f"{type(e).__name__}: {e}"}
                for o in task.outputs or [None]]


# ---------------------------------------------------------------------------
# On the client: the work, the cluster, the results.


def _expand_inputs(inputs: Iterable[str]) -> Iterator[str]:
    for path in inputs:
        if os.path.isdir(path):
            for name in sorted(os.listdir(path)):
                full = os.path.join(path, name)
                if os.path.isfile(full) and (is_photo(name) or is_video(name)):
                    yield full
        else:
            yield path


def tasks_from_arguments(args: argparse.Namespace) -> list[Task]:
    if args.output is None:
        raise UsageError("-o DIR is needed to name the outputs")
    out_dir = os.path.abspath(args.output)
    tasks = []
    for path in _expand_inputs(args.inputs):
        source = os.path.abspath(path)
        if is_photo(path):
            name = os.path.basename(path)
            if args.format:
                name = os.path.splitext(name)[0] + "." + args.format
            tasks.append(Task(input=source, outputs=[os.path.join(out_dir, name)]))
            continue
        if args.every is None and not args.at:
            raise UsageError(f"{path}: a video needs --every SECONDS or --at T...")
        times = sorted(set(args.at))
        extension = args.format or "jpg"
        tasks.append(Task(input=source, times=times, every=args.every or 0.0, out_dir=out_dir,
                          extension=extension, enhance=args.enhance, quality=88,
                          outputs=[still_name(out_dir, extension, t, source) for t in times]))
    return tasks


def tasks_from_manifest(path: str, args: argparse.Namespace) -> list[Task]:
    """One task per line: {"input": ..., "outputs": [...], "times": [...],
    "enhance": bool}. Relative paths are taken from the manifest's folder,
    so a manifest moves with its files. A photo's "outputs" may be left
    out when -o DIR is given (its name is kept)."""
    base = os.path.dirname(os.path.abspath(path))
    tasks = []
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.readlines()
    except OSError as e:
        raise UsageError(f"cannot read the manifest: {e}") from None
    for number, line in enumerate(lines, 1):
        if not line.strip():
            continue
        where = f"{path} line {number}"
        try:
            entry = json.loads(line)
        except json.JSONDecodeError as e:
            raise UsageError(f"{where}: not JSON: {e}") from None
        if not isinstance(entry, dict) or not isinstance(entry.get("input"), str):
            raise UsageError(f'{where}: needs an object with "input"')
        unknown = set(entry) - {"input", "outputs", "times", "enhance"}
        if unknown:
            raise UsageError(f"{where}: unknown field(s) {', '.join(sorted(unknown))}")
        source = os.path.abspath(os.path.join(base, entry["input"]))
        outputs = entry.get("outputs")
        enhance = entry.get("enhance", "times" not in entry)
        if not isinstance(enhance, bool):
            raise UsageError(f'{where}: "enhance" must be true or false')
        if "times" not in entry:
            if outputs is None:
                if args.output is None:
                    raise UsageError(f'{where}: no "outputs" and no -o DIR')
                outputs = [os.path.join(args.output, os.path.basename(source))]
            if (not isinstance(outputs, list) or len(outputs) != 1
                    or not all(isinstance(o, str) for o in outputs)):
                raise UsageError(f'{where}: a photo needs "outputs" with one file name')
            if not enhance:
                raise UsageError(f'{where}: a photo is always enhanced (give "times" for a video)')
            tasks.append(Task(input=source,
                              outputs=[os.path.abspath(os.path.join(base, o)) for o in outputs]))
            continue
        times = entry["times"]
        if (not isinstance(times, list) or not times
                or not all(isinstance(t, (int, float)) and not isinstance(t, bool) for t in times)):
            raise UsageError(f'{where}: "times" must be a list of seconds')
        if outputs is None:
            if args.output is None:
                raise UsageError(f'{where}: no "outputs" and no -o DIR')
            outputs = [still_name(os.path.abspath(args.output), args.format or "jpg", float(t),
                                  source) for t in times]
        if (not isinstance(outputs, list) or len(outputs) != len(times)
                or not all(isinstance(o, str) for o in outputs)):
            raise UsageError(f'{where}: "outputs" must name one file per time')
        tasks.append(Task(input=source, times=[float(t) for t in times], enhance=enhance,
                          quality=88,
                          outputs=[os.path.abspath(os.path.join(base, o)) for o in outputs]))
    return tasks


def check_tasks(tasks: list[Task], results: str) -> None:
    if not tasks:
        raise UsageError("nothing to do: no input files")
    seen: dict[str, str] = {}
    named: dict[tuple[str, str], str] = {}
    for task in tasks:
        if task.every > 0:
            # Its names are made on the worker, from the video's base name.
            key = (task.out_dir, os.path.splitext(os.path.basename(task.input))[0])
            if key in named:
                raise UsageError(f"{named[key]} and {task.input} would both be written to "
                                 f"{key[1]}-*.{task.extension} in {task.out_dir}")
            named[key] = task.input
        for output in task.outputs:
            if not output.lower().endswith(PHOTO_EXTENSIONS):
                raise UsageError(f"{output}: the output must be .jpg, .jpeg, .png or .bmp")
            if output in seen:
                raise UsageError(f"{seen[output]} and {task.input} would both be written to "
                                 f"{output}")
            if output == task.input:
                raise UsageError(f"{output} is its own input; a batch never overwrites inputs")
            seen[output] = task.input
    if os.path.abspath(results) in seen:
        raise UsageError(f"the results file {results} is also an output")


class ResultsFile:
    """The results as JSON lines, written to a temporary file beside the
    target, flushed a line at a time and renamed over the target at the
    end, so the previous results stay whole until the new ones are."""

    def __init__(self, path: str) -> None:
        self.path = os.path.abspath(path)
        folder = os.path.dirname(self.path)
        os.makedirs(folder, exist_ok=True)
        self.previous = self._read_previous()
        fd, self.temporary = tempfile.mkstemp(prefix=".", suffix=".partial", dir=folder)
        self.file = os.fdopen(fd, "w", encoding="utf-8")

    def _read_previous(self) -> dict[str, dict]:
        """The records of the last run by output, to carry over to outputs
        this run skips."""
        previous: dict[str, dict] = {}
        with contextlib.suppress(OSError):
            with open(self.path, encoding="utf-8") as f:
                for line in f:
                    with contextlib.suppress(ValueError):
                        record = json.loads(line)
                        if isinstance(record, dict) and "error" not in record:
                            previous[str(record.get("output"))] = record
        return previous

    def write(self, record: dict) -> None:
        if record.get("skipped"):
            record = dict(self.previous.get(record["output"], record), skipped=True)
        self.file.write(json.dumps(record) + "\n")
        self.file.flush()

    def commit(self) -> None:
        self.file.close()
        os.replace(self.temporary, self.path)

    def discard(self) -> None:
        self.file.close()
        with contextlib.suppress(OSError):
            os.unlink(self.temporary)


class Progress:
    """A one-line bar on a terminal; nothing otherwise."""

    def __init__(self, total: int, stream=sys.stderr) -> None:
        self.total, self.done, self.failed = total, 0, 0
        self.stream = stream
        self.shown = stream.isatty()
        self._draw()

    def step(self, failed: bool) -> None:
        self.done += 1
        self.failed += failed
        self._draw()

    def _draw(self) -> None:
        if not self.shown:
            return
        width = 30
        filled = width * self.done // max(self.total, 1)
        failed = f", {self.failed} failed" if self.failed else ""
        self.stream.write(f"\r[{'#' * filled}{' ' * (width - filled)}] "
                          f"{self.done}/{self.total} inputs{failed}")
        if self.done == self.total:
            self.stream.write("\n")
        self.stream.flush()


# The local cluster's own housekeeping, made less frequent. By default every
# process of it wakes up dozens of times a second: each worker samples its
# task thread's stack every 10 ms for a profile nobody looks at here (there
# is no dashboard), every server checks its event loop every 20 ms and each
# nanny reads its worker's memory every 100 ms. Together that kept about an
# eighth of a core busy with no work at all, taken from the workers when
# they fill the machine. Once a second is soon enough for all of it with
# tasks that take a good part of a second each. Work stealing keeps its
# pace: it costs little, and it is what moves a task still waiting on a
# busy worker to one that has run out of work at the end of a batch.
LOCAL_CLUSTER_CONFIG = {
    "distributed.worker.profile.enabled": False,
    "distributed.admin.tick.interval": "1s",
    "distributed.admin.system-monitor.interval": "2s",
    "distributed.worker.memory.monitor-interval": "1s",
}


@contextlib.contextmanager
def local_cluster(workers: int):
    """A Client of a new cluster of worker processes on this machine, one
    thread each: the library gives each call one core, and processes keep
    any work that holds the GIL apart."""
    import dask
    from dask.distributed import Client, LocalCluster

    # The worker processes take the configuration in force when they start.
    with dask.config.set(LOCAL_CLUSTER_CONFIG):
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
    with cluster, Client(cluster) as client:
        yield client


@contextlib.contextmanager
def dask_client(scheduler: str | None, workers: int):
    # Dask's own logging would fill the terminal with cluster chatter.
    logging.getLogger("distributed").setLevel(logging.ERROR)
    from dask.distributed import Client

    if scheduler:
        with Client(scheduler) as client:
            yield client
        return
    with local_cluster(workers) as client:
        yield client


def largest_first(tasks: list[Task]) -> list[Task]:
    """The tasks in the order to start them: the largest inputs first.

    A task takes about as long as its input is large (a video's decoding
    goes with its bit rate, a photo's work with its pixels), so the long
    ones start while every worker is busy and the last ones to start are
    short: the workers finish close together instead of all but one waiting
    for a long task begun last. An input that cannot be read goes last; its
    task only reports that."""
    def size(task: Task) -> int:
        try:
            return os.stat(task.input).st_size
        except OSError:
            return -1
    return sorted(tasks, key=size, reverse=True)  # stable: equal sizes keep their order


def run_on(client, tasks: list[Task], results: ResultsFile) -> int:
    """Runs the tasks on the client's cluster, writing each input's records
    to results as it is done: EXIT_OK, or EXIT_FAILED when an input failed."""
    from dask.distributed import as_completed

    failed_inputs = 0
    progress = Progress(len(tasks))
    ordered = largest_first(tasks)
    # One message for the whole batch; the scheduler starts the tasks in the
    # order given.
    futures = dict(zip(client.map(run_task, ordered, pure=False), ordered))
    for future in as_completed(futures):
        task = futures[future]
        try:
            records = future.result()
        except Exception as e:  # the worker itself died (a crash, killed)
            records = [{"input": task.input, "output": o,
                        "error": f"the worker failed: {type(e).__name__}: {e}"}
                       for o in task.outputs]
        failed = any("error" in r for r in records)
        failed_inputs += failed
        for record in records:
            results.write(record)
        progress.step(failed)
    return EXIT_FAILED if failed_inputs else EXIT_OK


def run(tasks: list[Task], results_path: str, scheduler: str | None, workers: int) -> int:
    results = ResultsFile(results_path)
    try:
        with dask_client(scheduler, workers) as client:
            code = run_on(client, tasks, results)
        results.commit()
    except BaseException:
        results.discard()
        raise
    return code


def parse_arguments(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="python3 -m kelvo.batch",
        description="Enhance photos and take stills from videos in bulk on Dask: on this "
                    "machine's cores by default, or on a Dask cluster with --scheduler. One "
                    "task per input; a failed input is recorded and the rest go on; a second "
                    "run skips outputs that are already complete (they decode whole and, for "
                    "a photo, have the input's size). Stills are named VIDEO-SECONDS.jpg "
                    "(clip-12.500.jpg).")
    parser.add_argument("inputs", nargs="*", metavar="INPUT",
                        help="photos (.jpg, .jpeg, .png, .bmp), videos, or folders of them")
    parser.add_argument("-o", "--output", metavar="DIR", help="write the outputs into DIR")
    parser.add_argument("--manifest", metavar="FILE",
                        help='JSON lines, one input each: {"input": "a.jpg", "outputs": '
                             '["b.jpg"]} or {"input": "v.mp4", "times": [1, 2.5], "outputs": '
                             '["v1.jpg", "v2.jpg"], "enhance": true}; paths relative to FILE')
    parser.add_argument("--enhance", action="store_true",
                        help="enhance stills taken from videos (photos are always enhanced)")
    parser.add_argument("--every", type=float, metavar="SECONDS",
                        help="a still from each video every SECONDS, from 0 to its end")
    parser.add_argument("--at", type=float, nargs="+", metavar="T", default=[],
                        help="stills from each video at these times (seconds)")
    parser.add_argument("--format", choices=["jpg", "png", "bmp"],
                        help="with -o: the format of every output (default: a photo's own, "
                             "jpg for stills)")
    parser.add_argument("--results", metavar="FILE",
                        help="the results file (default: DIR/kelvo-batch.jsonl)")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1, metavar="N",
                        help="worker processes of the local cluster (default: one per core)")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="use the Dask cluster at ADDRESS (tcp://HOST:8786) instead")
    parser.add_argument("--threads", type=int, metavar="N",
                        help="threads each worker's image library may use for one image "
                             "(default: the cores divided among the local workers; on a "
                             "--scheduler cluster, the library's own default)")
    parser.add_argument("--decoder-threads", type=int, metavar="N",
                        help="threads each worker's video decoder may use (default as for "
                             "--threads)")
    return parser.parse_args(argv)


def thread_counts(args: argparse.Namespace) -> tuple[int, int]:
    """The library's and the decoder's threads per worker.

    Left alone, the library and the libav decoders each start one thread per
    core in every worker, so N local workers would run N times as many busy
    threads as there are cores, switching between them and evicting each
    other's caches for nothing. So the local workers share the cores out:
    cores // workers each (at least 1). The machines of a --scheduler
    cluster are not known here, and their defaults stand unless given.
    """
    if args.scheduler:
        share = 0
    else:
        share = max(1, (len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity")
                        else os.cpu_count() or 1) // args.workers)
    threads = share if args.threads is None else args.threads
    decoder = share if args.decoder_threads is None else args.decoder_threads
    return threads, decoder


def main(argv: list[str] | None = None) -> int:
    args = parse_arguments(argv)
    try:
        if args.workers < 1:
            raise UsageError("--workers needs at least 1")
        if args.every is not None and not args.every > 0:
            raise UsageError("--every needs a positive number of seconds")
        for name, value in (("--threads", args.threads),
                            ("--decoder-threads", args.decoder_threads)):
            if value is not None and value < 1:
                raise UsageError(f"{name} needs at least 1")
        if bool(args.manifest) == bool(args.inputs):
            raise UsageError("give INPUT files or folders, or --manifest FILE (not both)")
        tasks = (tasks_from_manifest(args.manifest, args) if args.manifest
                 else tasks_from_arguments(args))
        results = args.results or (os.path.join(args.output, "kelvo-batch.jsonl")
                                   if args.output else None)
        if results is None:
            raise UsageError("--results FILE is needed without -o DIR")
        check_tasks(tasks, results)
        threads, decoder_threads = thread_counts(args)
        for task in tasks:
            task.threads, task.decoder_threads = threads, decoder_threads
    except UsageError as e:
        print(f"kelvo.batch: {e}", file=sys.stderr)
        return EXIT_USAGE
    try:
        return run(tasks, results, args.scheduler, args.workers)
    except (OSError, TimeoutError) as e:
        print(f"kelvo.batch: {e}", file=sys.stderr)
        return EXIT_FAILED


if __name__ == "__main__":
    sys.exit(main())

"""kelvo.grab and kelvo.grab_to_files over the grab library."""

from __future__ import annotations

import os
from dataclasses import dataclass
from typing import Any, Iterable, Mapping

from kelvo import _grab


@dataclass
class Still:
    """One still asked of a video.

    image
        The still as an H x W x 3 uint8 array (kelvo.grab only; None when it
        was not taken or was written to a file).
    requested_time
        The time asked for, in seconds of stream time.
    frame_time
        When the frame taken starts, in seconds of stream time.
    rule
        Which rule took the frame: "interval" (the frame starting within one
        frame period of the time) or "on-screen" (the frame showing at the
        time, when none starts near it).
    taken
        False when there is no such frame (beyond the end, decoding stopped)
        or the file could not be written; error then says why.
    report
        When the still was enhanced: what the enhancement measured and
        decided, as kelvo.Report.to_dict() gives it; None otherwise.
    """

    image: Any
    requested_time: float
    frame_time: float
    rule: str
    taken: bool
    error: str = ""
    enhanced: bool = False
    damaged: bool = False
    frame_number: int = -1
    file: str = ""
    report: dict | None = None


def _still(d: dict) -> Still:
    return Still(image=d["image"], requested_time=d["requested_time"],
                 frame_time=d["frame_time"], rule=d["rule"], taken=d["taken"],
                 error=d["error"], enhanced=d["enhanced"], damaged=d["damaged"],
                 frame_number=d["frame_number"], file=d["file"], report=d["report"])


def _in_order(times: list[float], found: list[dict]) -> list[Still]:
    # The library answers in time order; equal times are the same still.
    by_time: dict[float, list[dict]] = {}
    for d in found:
        by_time.setdefault(d["time"], []).append(d)
    return [_still(by_time[t].pop(0)) for t in times]


def grab(path: str | os.PathLike, times: Iterable[float], *, enhance: bool = False,
         channels: str = "rgb", threads: int = 0, decoder_threads: int = 0,
         stall_seconds: float = 60.0) -> list[Still]:
    """Stills of a video at the given times (seconds), one Still per time,
    in the order given, through the same GStreamer path and frame rules as
    framegrab, in one pass over the file.

    enhance runs the photo enhancement on each still; channels is "rgb" (the
    default) or "bgr" for the arrays. threads is how many threads the
    enhancement of a still may use and decoder_threads how many the video
    decoder may (for the libav decoders: H.264, HEVC, MPEG-4...); 0 leaves
    each to its default, about one per core, which suits one call at a time
    but not several processes sharing a machine. threads=1 also writes each
    still on the decoding thread rather than beside it, so that with
    decoder_threads=1 the call keeps to one core. A pass over the video in
    which nothing moves for stall_seconds (a decoder stuck on a broken file)
    is given up with kelvo.GrabError.

    Raises kelvo.GrabError when the video cannot be used at all and
    ValueError for a time or setting it cannot take; a time beyond the end
    gives a Still with taken False. The GIL is released while the video is
    decoded.
    """
    wanted = [float(t) for t in times]
    if not wanted:
        return []
    return _in_order(wanted, _grab.grab(os.fspath(path), wanted, enhance=enhance,
                                        channels=channels, threads=threads,
                                        decoder_threads=decoder_threads,
                                        stall_seconds=stall_seconds))


def grab_to_files(path: str | os.PathLike, files: Mapping[float, str | os.PathLike], *,
                  enhance: bool = False, quality: int = 88, threads: int = 0,
                  decoder_threads: int = 0, stall_seconds: float = 60.0) -> list[Still]:
    """Writes the stills of a video at the given times to the given files,
    {time: file}; the format follows each file's extension (.jpg, .jpeg,
    .png, .bmp), JPEG at quality. Each file is written to a temporary beside
    it and renamed when complete. Returns one Still per entry (image None),
    in the mapping's order; threads, decoder_threads, stall_seconds and
    errors as for kelvo.grab.
    """
    targets = [(float(t), os.fspath(f)) for t, f in files.items()]
    if not targets:
        return []
    found = _grab.grab_to_files(os.fspath(path), targets, enhance=enhance, quality=quality,
                                threads=threads, decoder_threads=decoder_threads,
                                stall_seconds=stall_seconds)
    by_file = {d["file"]: d for d in found}
    return [_still(by_file[f]) for _, f in targets]

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


def _still(d: dict) -> Still:
    return Still(image=d["image"], requested_time=d["requested_time"],
                 frame_time=d["frame_time"], rule=d["rule"], taken=d["taken"],
                 error=d["error"], enhanced=d["enhanced"], damaged=d["damaged"],
                 frame_number=d["frame_number"], file=d["file"])


def _in_order(times: list[float], found: list[dict]) -> list[Still]:
    # The library answers in time order; equal times are the same still.
    by_time: dict[float, list[dict]] = {}
    for d in found:
        by_time.setdefault(d["time"], []).append(d)
    return [_still(by_time[t].pop(0)) for t in times]


def grab(path: str | os.PathLike, times: Iterable[float], *, enhance: bool = False,
         channels: str = "rgb") -> list[Still]:
    """Stills of a video at the given times (seconds), one Still per time,
    in the order given, through the same GStreamer path and frame rules as
    framegrab, in one pass over the file.

    enhance runs the photo enhancement on each still; channels is "rgb" (the
    default) or "bgr" for the arrays. Raises kelvo.GrabError when the video
    cannot be used at all and ValueError for a time it cannot take; a time
    beyond the end gives a Still with taken False. The GIL is released while
    the video is decoded.
    """
    wanted = [float(t) for t in times]
    if not wanted:
        return []
    return _in_order(wanted, _grab.grab(os.fspath(path), wanted, enhance=enhance,
                                        channels=channels))


def grab_to_files(path: str | os.PathLike, files: Mapping[float, str | os.PathLike], *,
                  enhance: bool = False, quality: int = 88) -> list[Still]:
    """Writes the stills of a video at the given times to the given files,
    {time: file}; the format follows each file's extension (.jpg, .jpeg,
    .png, .bmp), JPEG at quality. Each file is written to a temporary beside
    it and renamed when complete. Returns one Still per entry (image None),
    in the mapping's order; errors as for kelvo.grab.
    """
    targets = [(float(t), os.fspath(f)) for t, f in files.items()]
    if not targets:
        return []
    found = _grab.grab_to_files(os.fspath(path), targets, enhance=enhance, quality=quality)
    by_file = {d["file"]: d for d in found}
    return [_still(by_file[f]) for _, f in targets]

"""Shared helpers of the Python package's tests: BMP files (the format the
C++ tools read and write with no codec in between) and the tools' paths."""

import pathlib
import struct
import subprocess

import numpy as np
import pytest

import kelvo


def pytest_addoption(parser):
    parser.addoption("--kelvo-enhance", default=None, help="path of the kelvo-enhance tool")


@pytest.fixture(scope="session")
def kelvo_enhance_tool(request):
    path = request.config.getoption("--kelvo-enhance")
    if path is None:
        # Beside the package in a build tree.
        build = pathlib.Path(kelvo.__file__).parents[2]
        guess = build / "tools" / "kelvo-enhance" / "kelvo-enhance"
        path = str(guess) if guess.exists() else None
    if path is None:
        pytest.skip("kelvo-enhance not found: pass --kelvo-enhance")
    return path


def write_bmp(path, bgr):
    """A 24-bit bottom-up BMP of an H x W x 3 blue-green-red array."""
    h, w, _ = bgr.shape
    row = (3 * w + 3) & ~3
    header = struct.pack("<2sIHHI", b"BM", 54 + row * h, 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, row * h, 2835, 2835, 0, 0)
    rows = np.zeros((h, row), np.uint8)
    rows[:, : 3 * w] = bgr[::-1].reshape(h, 3 * w)
    pathlib.Path(path).write_bytes(header + info + rows.tobytes())


def read_bmp(path):
    """The blue-green-red pixels of a 24-bit BMP, top row first."""
    data = pathlib.Path(path).read_bytes()
    offset = struct.unpack_from("<I", data, 10)[0]
    w, h = struct.unpack_from("<ii", data, 18)
    assert struct.unpack_from("<H", data, 28)[0] == 24
    row = (3 * w + 3) & ~3
    rows = np.frombuffer(data, np.uint8, row * abs(h), offset).reshape(abs(h), row)
    pixels = rows[:, : 3 * w].reshape(abs(h), w, 3)
    return pixels[::-1].copy() if h > 0 else pixels.copy()


def photo_like(height, width, seed):
    """A BGR picture with smooth areas, edges, noise and skin tones, so that
    every stage of the enhancement has work to do."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width].astype(np.float32)
    base = np.stack([60 + 80 * x / max(width, 1), 90 + 60 * y / max(height, 1),
                     120 + 40 * np.sin(x / 7.0)], axis=-1)
    # A skin-coloured disc (blue, green, red).
    disc = (x - width * 0.6) ** 2 + (y - height * 0.4) ** 2 < (min(width, height) * 0.3) ** 2
    base[disc] = (120, 150, 210)
    base += rng.normal(0, 9, base.shape)
    return np.clip(base, 0, 255).astype(np.uint8)


def frame_number(image):
    """The number drawn by make_clip into a frame (blue-green-red or RGB)."""
    h, w, _ = image.shape
    bits = [image[: h // 2, (2 * b + 1) * w // 16].mean() > 128 for b in range(8)]
    return sum(1 << b for b, on in enumerate(bits) if on)


# Encoders after the raw frames: Motion JPEG in AVI (every frame on its own,
# decoded by jpegdec), or H.264 in MP4 (a key frame every 10, decoded by a
# libav decoder on several threads).
ENCODERS = {
    "mjpeg": ["videoconvert", "!", "jpegenc", "quality=95", "!", "avimux"],
    "h264": ["videoconvert", "!", "video/x-raw,format=I420", "!", "x264enc", "pass=qual",
             "quantizer=18", "key-int-max=10", "speed-preset=ultrafast", "!", "mp4mux"],
}


def make_clip(path, frames=50, rate=25, width=160, height=120, codec="mjpeg"):
    """A clip whose frame N shows N in binary: eight columns in the top
    half, white for a set bit, over a flat skin-like bottom half."""
    pixels = np.zeros((frames, height, width, 3), np.uint8)
    pixels[:, height // 2:] = (40, 90, 160)
    for n in range(frames):
        for b in range(8):
            if n >> b & 1:
                pixels[n, : height // 2, b * width // 8:(b + 1) * width // 8] = 255
    raw = pathlib.Path(str(path) + ".raw")
    pixels.tofile(raw)
    subprocess.run(["gst-launch-1.0", "-q", "filesrc", f"location={raw}", "!", "rawvideoparse",
                    f"width={width}", f"height={height}", "format=bgr", f"framerate={rate}/1",
                    "!", *ENCODERS[codec], "!", "filesink", f"location={path}"],
                   check=True, timeout=120)
    raw.unlink()

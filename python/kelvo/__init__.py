"""Kelvo's photo enhancement for Python.

    import imageio.v3 as iio
    import kelvo

    enhanced, report = kelvo.enhance(iio.imread("photo.jpg"))
    print(report.opacity, report.times.total)

kelvo.enhance takes H x W x 3 uint8 arrays of any size, RGB by default or
BGR with channels="bgr" (OpenCV), and releases the GIL while it works.
Batch work over many files, on this machine or a Dask cluster:
python3 -m kelvo.batch --help.
"""

from kelvo._errors import Error
from kelvo import _kelvo
from kelvo._kelvo import Report, StageTimes, enhance

__all__ = ["Error", "Report", "StageTimes", "enhance"]
__version__ = _kelvo.__version__

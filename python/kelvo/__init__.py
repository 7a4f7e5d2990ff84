"""Kelvo's photo enhancement for Python.

    import imageio.v3 as iio
    import kelvo

    enhanced, report = kelvo.enhance(iio.imread("photo.jpg"))
    print(report.opacity, report.times.total)

kelvo.enhance takes H x W x 3 uint8 arrays of any size, RGB by default or
BGR with channels="bgr" (OpenCV), and releases the GIL while it works.
kelvo.grab takes stills from videos. Batch work over many files, on this
machine or a Dask cluster: python3 -m kelvo.batch --help.
"""

from kelvo import _kelvo
from kelvo._errors import Error, GrabError
from kelvo._kelvo import Report, StageTimes, enhance

__all__ = ["Error", "GrabError", "Report", "StageTimes", "enhance"]

# Stills from videos need the grab library (GStreamer), installed with the
# grab component; without it kelvo has no grab functions at all.
try:
    from kelvo._stills import Still, grab, grab_to_files
except ImportError:  # pragma: no cover - depends on the installation
    pass
else:
    __all__ += ["Still", "grab", "grab_to_files"]
__version__ = _kelvo.__version__

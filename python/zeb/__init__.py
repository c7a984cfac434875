"""zeb: the photometric inspection station in Python.

Image sets from the live station (simulated or real) and from the files ``zeb acquire`` and
``zeb view`` recorded, as NumPy arrays; their surface from zeb's photometric library. The package
is pure Python: it loads zeb's C library (``zeb_host``) with ctypes.

    import zeb
    with zeb.open(0) as channel:
        image_set = channel.grab()
        print(image_set.directions.shape)
"""

from .channel import AssistResult, Channel, ChannelInfo, Feature, Stream, channels, open
from .errors import AcquisitionFailed, Error, FeatureNotFound, Timeout, ValueAdjusted
from .images import ImageSet, read_image_set
from .surface import Calibration, Surface, calibrate, load_calibration, surface

__version__ = "26.1.0"

__all__ = ["AcquisitionFailed", "AssistResult", "Calibration", "Channel", "ChannelInfo", "Error", "Feature",
           "FeatureNotFound", "ImageSet", "Stream", "Surface", "Timeout", "ValueAdjusted", "calibrate",
           "channels", "load_calibration", "open", "read_image_set", "surface"]

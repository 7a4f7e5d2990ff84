from kelvo._errors import Error as Error
from kelvo._errors import GrabError as GrabError
from kelvo._kelvo import Report as Report
from kelvo._kelvo import StageTimes as StageTimes
from kelvo._kelvo import enhance as enhance

# Present when the package was installed with the grab library.
from kelvo._stills import Still as Still
from kelvo._stills import grab as grab
from kelvo._stills import grab_to_files as grab_to_files

__version__: str

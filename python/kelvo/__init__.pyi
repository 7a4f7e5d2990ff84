from kelvo._errors import Error as Error
from kelvo._kelvo import Report as Report
from kelvo._kelvo import StageTimes as StageTimes
from kelvo._kelvo import enhance as enhance

__version__: str

"""kelvo.Error, kept in pure Python so that it pickles with its fields."""


class Error(Exception):
    """A failure inside the image library.

    code
        The library's error number (for example 12 when memory ran out,
        0 for image dimensions it cannot take).
    where
        The operation that failed, such as "EnhanceAnySize" or
        "PipelineSnapshot::Execute".

    str(error) is the library's whole message: the code's text followed by
    the operation.
    """

    def __init__(self, message: str, code: int = -1, where: str = "") -> None:
        super().__init__(message, code, where)
        self.message = message
        self.code = code
        self.where = where

    def __str__(self) -> str:
        return self.message

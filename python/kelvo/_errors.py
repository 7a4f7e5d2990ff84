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


class GrabError(Exception):
    """A video that cannot be grabbed from at all.

    kind
        "input": the file cannot be read, holds no video or its frames are
        too large; "output": a folder to write into is missing or not
        writable.
    """

    def __init__(self, message: str, kind: str = "input") -> None:
        super().__init__(message, kind)
        self.message = message
        self.kind = kind

    def __str__(self) -> str:
        return self.message

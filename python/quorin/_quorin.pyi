# The compiled extension is private, positional and untyped: the face in quorin/ carries the types.
from typing import Any

def __getattr__(name: str) -> Any: ...

"""The bytes SQLite writes for a row's values, so a generator can tell whether a deleted
row still stands in the finished file (its values were not overwritten by later writes).

Whole floats are written as integers, as SQLite does for REAL and NUMERIC columns, which
are the only columns the generators put floats in.
"""

import struct


def _integer_bytes(value):
    if value in (0, 1):
        return b""                      # serial types 8 and 9 carry no bytes
    for size in (1, 2, 3, 4, 6):
        limit = 1 << (8 * size - 1)
        if -limit <= value < limit:
            return value.to_bytes(size, "big", signed=True)
    return value.to_bytes(8, "big", signed=True)


def value_bytes(value):
    if value is None:
        return b""
    if isinstance(value, bool):
        value = int(value)
    if isinstance(value, float) and value.is_integer() and abs(value) < 2 ** 63:
        value = int(value)
    if isinstance(value, int):
        return _integer_bytes(value)
    if isinstance(value, float):
        return struct.pack(">d", value)
    if isinstance(value, str):
        return value.encode("utf-8")
    return bytes(value)


def body_bytes(values):
    """The record body (the values after the record header) of a UTF-8 database row; the
    rowid alias column is given as None, as SQLite stores it."""
    return b"".join(value_bytes(v) for v in values)


def survives(data, values):
    """True when the row's body bytes are still found in the file bytes."""
    body = body_bytes(values)
    return len(body) > 0 and body in data

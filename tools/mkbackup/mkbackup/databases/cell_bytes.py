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


def _varint(value):
    """SQLite's big-endian varint of at most nine bytes."""
    if value > 0x00FFFFFFFFFFFFFF:
        out = [value & 0xFF]
        value >>= 8
        for _ in range(8):
            out.append((value & 0x7F) | 0x80)
            value >>= 7
        return bytes(reversed(out))
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append((value & 0x7F) | 0x80)
        value >>= 7
    return bytes(reversed(out))


def _serial_type(value):
    if value is None:
        return 0
    if isinstance(value, float) and not (value.is_integer() and abs(value) < 2 ** 63):
        return 7
    if isinstance(value, (bool, int, float)):
        value = int(value)
        if value in (0, 1):
            return 8 + value
        return {1: 1, 2: 2, 3: 3, 4: 4, 6: 5, 8: 6}[len(_integer_bytes(value))]
    if isinstance(value, str):
        return 13 + 2 * len(value.encode("utf-8"))
    return 12 + 2 * len(value)


def cell_survives(data, rowid, values):
    """True when the row's whole table b-tree cell (payload length, row id, record header
    and body) still stands in the file bytes: unlike survives(), its row id is still known.
    A cell too long for its page is not looked for whole."""
    types = b"".join(_varint(_serial_type(v)) for v in values)
    size = len(types) + 1
    header = _varint(size if len(_varint(size)) == 1 else size + 1) + types
    record = header + body_bytes(values)
    return (_varint(len(record)) + _varint(rowid) + record) in data

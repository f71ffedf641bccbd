#!/usr/bin/python3
"""A plain Python 3 reader of a Manifest.mbdb file index, the baseline of the index
benchmark: it reads the same fields and computes the same stored names.

    mbdb_parse.py FILE [--repeat N]

Prints "records R bytes B seconds S" for the fastest of N runs (default 1).
"""

import hashlib
import struct
import sys
import time

ABSENT = 0xFFFF
FIXED = struct.Struct(">HQIIIIIQBB")


def parse(data):
    if data[:6] != b"mbdb\x05\x00":
        raise ValueError("not a file index")
    records = []
    offset = 6
    end = len(data)

    def string_field():
        nonlocal offset
        if offset + 2 > end:
            raise EOFError
        (length,) = struct.unpack_from(">H", data, offset)
        offset += 2
        if length == ABSENT:
            return None
        if offset + length > end:
            raise EOFError
        value = data[offset:offset + length]
        offset += length
        return value

    while offset < end:
        try:
            domain = string_field()
            path = string_field()
            link = string_field()
            string_field()  # content digest
            key = string_field()
            if offset + FIXED.size > end:
                raise EOFError
            fields = FIXED.unpack_from(data, offset)
            offset += FIXED.size
            for _ in range(fields[9] * 2):
                string_field()
        except EOFError:
            break
        domain = b"NULL" if domain is None else domain
        path = b"NULL" if path is None else path
        stored = hashlib.sha1(domain + b"-" + path).hexdigest()
        records.append((stored, domain, path, link or b"", key or b"") + fields[:9])
    return records


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "--repeat"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    repeat = int(argv[3]) if len(argv) == 4 else 1
    best = None
    for _ in range(repeat):
        start = time.perf_counter()
        with open(argv[1], "rb") as f:
            data = f.read()
        records = parse(data)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    print("records %d bytes %d seconds %.6f" % (len(records), len(data), best))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

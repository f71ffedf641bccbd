"""The old-layout file index, Manifest.mbdb: "mbdb" 05 00, then one record
per file, directory and link, all integers big-endian."""

import struct

HEADER = b"mbdb\x05\x00"
ABSENT = 0xFFFF


def string_field(value):
    """A 16-bit length and the bytes; 0xFFFF alone marks an absent field."""
    if value is None:
        return struct.pack(">H", ABSENT)
    if isinstance(value, str):
        value = value.encode("utf-8")
    if len(value) >= ABSENT:
        raise ValueError("index string field too long")
    return struct.pack(">H", len(value)) + value


def record(domain, path, link_target, digest, encryption_key, mode, inode, uid, gid,
           mtime, atime, ctime, size, protection_class, properties):
    if len(properties) > 0xFF:
        raise ValueError("too many properties for one index record")
    out = [string_field(domain), string_field(path), string_field(link_target),
           string_field(digest), string_field(encryption_key),
           struct.pack(">HQIIIIIQBB", mode, inode, uid, gid, mtime, atime, ctime, size,
                       protection_class, len(properties))]
    for name, value in properties:
        out += [string_field(name), string_field(value)]
    return b"".join(out)


def write(path, records):
    with open(path, "wb") as out:
        out.write(HEADER)
        for data in records:
            out.write(data)

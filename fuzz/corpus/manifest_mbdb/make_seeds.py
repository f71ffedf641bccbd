#!/usr/bin/env python3
# Writes the seed indexes of this folder; only run to regenerate them.
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def field(value):
    if value is None:
        return struct.pack(">H", 0xFFFF)
    if isinstance(value, str):
        value = value.encode("utf-8")
    return struct.pack(">H", len(value)) + value


def record(domain, path, mode=0o100644, key=None, link=None, properties=()):
    out = field(domain) + field(path) + field(link) + field(b"\x01" * 20) + field(key)
    out += struct.pack(">HQIIIIIQBB", mode, 1, 501, 501, 1400000000, 1400000000, 1400000000, 42, 3,
                       len(properties))
    for name, value in properties:
        out += field(name) + field(value)
    return out


def write(name, *records):
    with open(os.path.join(here, name), "wb") as out:
        out.write(b"mbdb\x05\x00" + b"".join(records))


key = struct.pack(">I", 3) + bytes(range(40))
write("categories.mbdb",
      record("HomeDomain", "Library", mode=0o40755),
      record("HomeDomain", "Library/SMS/sms.db", key=key),
      record("MediaDomain", "Library/SMS/Parts/0a/01/1-1.jpg"),
      record("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", key=key),
      record("CameraRollDomain", "Media/DCIM/.THUMB/100APPLE___IMG_0001.JPG"),
      record("AppDomain-com.example.Reader", "Documents/a.PDF"),
      record("AppDomain-net.whatsapp.WhatsApp", "Library/Media/1@s.whatsapp.net/a/b.thumb"),
      record("HomeDomain", "Library/Calendar/Calendar.sqlitedb"))
write("absent_fields.mbdb", record(None, None), record("HomeDomain", "x", mode=0o120755, link="/etc"))
write("many_properties.mbdb",
      record("HomeDomain", "Library/p", properties=[("k%d" % i, "v") for i in range(200)]),
      record("HomeDomain", "Library/after"))
write("truncated.mbdb", record("HomeDomain", "Library/Notes/notes.sqlite")[:-7])
write("lying_length.mbdb", struct.pack(">H", 0xFFFE) + b"HomeDomain")
write("header_only.mbdb")

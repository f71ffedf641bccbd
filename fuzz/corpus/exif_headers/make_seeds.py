#!/usr/bin/env python3
# Writes the seed pictures of this folder: a small JPEG as the generator makes them, Exif
# blocks alone in both byte orders, and damaged ones (a directory pointer past the block, a
# date of the wrong shape, a count running past the block, segments cut short or lying about
# their length). Run with /usr/bin/python3 (the generator draws with PIL).
import datetime, os, struct, sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "..", "tools", "mkbackup"))
from mkbackup.media import jpeg_picture  # noqa: E402
from mkbackup.rng import SeededRandom  # noqa: E402

STAMP = b"2019:07:04 18:30:05\0"


def tiff(order="<", date=STAMP, exif_at=None, count0=2):
    """IFD0 (DateTime, Exif pointer) at 8, the Exif IFD (DateTimeOriginal) after it, dates last."""
    exif_ifd = 8 + 2 + 12 * 2 + 4
    dates = exif_ifd + 2 + 12 + 4
    head = (b"II*\0" if order == "<" else b"MM\0*") + struct.pack(order + "I", 8)
    ifd0 = struct.pack(order + "H", count0) + struct.pack(order + "HHII", 0x0132, 2, 20, dates + 20) + \
        struct.pack(order + "HHII", 0x8769, 4, 1, exif_ifd if exif_at is None else exif_at) + bytes(4)
    exif = struct.pack(order + "H", 1) + struct.pack(order + "HHII", 0x9003, 2, 20, dates) + bytes(4)
    return head + ifd0 + exif + date + STAMP


jpeg = jpeg_picture(SeededRandom(3, "fuzz-exif"), 16, 16, datetime.datetime(2019, 7, 4, 18, 30, 5))
block = tiff()
seeds = {
    "picture.jpg": jpeg,
    "exif_le.tiff": block,
    "exif_be.tiff": tiff(">"),
    "pointer_past_end.tiff": tiff(exif_at=0xFFFFFFF0),
    "bad_date.tiff": tiff(date=b"2019:13:40 25:61:00\0"),
    "count_past_end.tiff": tiff(count0=0xFFFF),
    "cut.jpg": jpeg[:len(jpeg) // 3],
    "lying_length.jpg": b"\xff\xd8\xff\xe1\xff\xf0Exif\0\0" + block[:40],
    "fill_bytes.jpg": b"\xff\xd8" + b"\xff" * 20 + b"\xe1" + struct.pack(">H", len(block) + 8) + b"Exif\0\0" + block
                      + b"\xff\xd9",
}
for name, data in seeds.items():
    with open(os.path.join(here, name), "wb") as out:
        out.write(data)

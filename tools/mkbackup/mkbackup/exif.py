"""A small Exif (TIFF) block for the pictures we make.

Pillow of this system cannot write the Exif sub-directory, so the block is
laid out here: IFD0 with camera make, model and date, and the Exif IFD with
the date the picture was taken, which the views sort by.
"""

import struct

ASCII = 2
SHORT = 3
LONG = 4
EXIF_IFD_POINTER = 0x8769


def _ascii(text):
    return text.encode("ascii") + b"\x00"


def _ifd(entries, offset, next_ifd=0):
    """Lays out one IFD at `offset` (from the TIFF header) followed by the
    values that do not fit in an entry. `entries` is (tag, type, count, bytes)."""
    entries = sorted(entries)
    data_offset = offset + 2 + 12 * len(entries) + 4
    table = struct.pack("<H", len(entries))
    data = b""
    for tag, kind, count, value in entries:
        if len(value) <= 4:
            table += struct.pack("<HHI", tag, kind, count) + value.ljust(4, b"\x00")
        else:
            table += struct.pack("<HHII", tag, kind, count, data_offset + len(data))
            data += value
            if len(data) % 2:
                data += b"\x00"      # values start on a word boundary
    table += struct.pack("<I", next_ifd)
    return table + data


def exif_block(make, model, taken, width, height, unique_id=None):
    """The APP1 payload ("Exif\\0\\0" + TIFF) for a picture taken at `taken`;
    `unique_id` (32 hex digits) adds the ImageUniqueID the camera writes."""
    stamp = taken.strftime("%Y:%m:%d %H:%M:%S")
    exif_entries = [
        (0x9003, ASCII, 20, _ascii(stamp)),               # DateTimeOriginal
        (0x9004, ASCII, 20, _ascii(stamp)),               # DateTimeDigitized
        (0xA002, LONG, 1, struct.pack("<I", width)),      # PixelXDimension
        (0xA003, LONG, 1, struct.pack("<I", height)),     # PixelYDimension
    ]
    if unique_id is not None:
        exif_entries.append((0xA420, ASCII, 33, _ascii(unique_id)))   # ImageUniqueID

    def ifd0(exif_offset):
        return _ifd([
            (0x010F, ASCII, len(make) + 1, _ascii(make)),
            (0x0110, ASCII, len(model) + 1, _ascii(model)),
            (0x0112, SHORT, 1, struct.pack("<H", 1)),     # Orientation: upright
            (0x0132, ASCII, 20, _ascii(stamp)),           # DateTime
            (EXIF_IFD_POINTER, LONG, 1, struct.pack("<I", exif_offset)),
        ], 8)

    # IFD0's length does not depend on the pointer's value: measure, then place.
    exif_offset = 8 + len(ifd0(0))
    tiff = b"II*\x00" + struct.pack("<I", 8) + ifd0(exif_offset) + _ifd(exif_entries, exif_offset)
    return b"Exif\x00\x00" + tiff

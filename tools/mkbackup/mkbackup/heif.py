"""HEIC pictures and HEVC videos as a current iPhone writes them.

The pictures are encoded by heif-enc (Debian's libheif-examples, with its x265 encoder);
where the tool is missing the caller leaves them out and says so. A video is a QuickTime
file with one 'hvc1' track whose only frame is the coded picture of such a HEIC file, so
its sample entry and frame are real HEVC that a decoder accepts.
"""

import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw

SECONDS_1904_TO_1970 = 2082844800
_warned = []


def heif_encoder():
    """The heif-enc path, or None (said once on stderr)."""
    tool = shutil.which("heif-enc")
    if tool is None and not _warned:
        _warned.append(True)
        print("mkbackup: heif-enc not found (Debian package libheif-examples): HEIC pictures and HEVC videos"
              " are left out of the camera roll", file=sys.stderr)
    return tool


def _drawing(rng, width, height):
    image = Image.new("RGB", (width, height), tuple(rng.bytes(3)))
    draw = ImageDraw.Draw(image)
    for _ in range(5):
        x0, y0 = rng.randint(0, width - 2), rng.randint(0, height - 2)
        draw.rectangle((x0, y0, rng.randint(x0 + 1, width), rng.randint(y0 + 1, height)), fill=tuple(rng.bytes(3)))
    return image


def heic_picture(rng, width, height):
    """A HEIC file's bytes, or None without the encoder."""
    tool = heif_encoder()
    if tool is None:
        return None
    with tempfile.TemporaryDirectory(prefix="mkbackup-heif-") as folder:
        source, target = os.path.join(folder, "in.png"), os.path.join(folder, "out.heic")
        _drawing(rng, width, height).save(source, "PNG")
        subprocess.run([tool, "-q", "50", source, "-o", target], check=True, stdout=subprocess.DEVNULL)
        with open(target, "rb") as f:
            return f.read()


def jpeg_thumbnail(rng, width, height):
    out = io.BytesIO()
    _drawing(rng, width, height).save(out, "JPEG", quality=80)
    return out.getvalue()


# ------------------------------------------------------------- reading HEIC

def _boxes(data, start=0, end=None):
    end = len(data) if end is None else end
    while start + 8 <= end:
        size, kind = struct.unpack(">I4s", data[start:start + 8])
        if size < 8 or start + size > end:
            raise ValueError("bad box")
        yield kind, start + 8, start + size
        start += size


def _child(data, kind, start, end, skip=0):
    for k, s, e in _boxes(data, start + skip, end):
        if k == kind:
            return s, e
    raise ValueError(f"no {kind!r} box")


def _coded_picture(heic):
    """The primary item's hvcC box (whole) and its coded data from a HEIC file."""
    meta = _child(heic, b"meta", 0, len(heic))
    primary = struct.unpack(">H", heic[_child(heic, b"pitm", *meta, skip=4)[0] + 4:][:2])[0]
    iprp = _child(heic, b"iprp", *meta, skip=4)
    ipco = _child(heic, b"ipco", *iprp)
    hvcc = next((s - 8, e) for k, s, e in _boxes(heic, *ipco) if k == b"hvcC")
    s, e = _child(heic, b"iloc", *meta, skip=4)
    version = heic[s]
    sizes = struct.unpack(">H", heic[s + 4:s + 6])[0]
    offset_size, length_size, base_size = sizes >> 12, (sizes >> 8) & 15, (sizes >> 4) & 15
    index_size = sizes & 15 if version in (1, 2) else 0
    at = s + 6

    def number(width):
        nonlocal at
        value = int.from_bytes(heic[at:at + width], "big") if width else 0
        at += width
        return value
    count = number(2 if version < 2 else 4)
    for _ in range(count):
        item = number(2 if version < 2 else 4)
        if version in (1, 2):
            number(2)
        number(2)
        base = number(base_size)
        extents = []
        for _ in range(number(2)):
            number(index_size)
            offset = base + number(offset_size)
            extents.append((offset, number(length_size)))
        if item == primary:
            return heic[hvcc[0]:hvcc[1]], b"".join(heic[o:o + n] for o, n in extents)
    raise ValueError("no primary item")


# ------------------------------------------------------------ writing MOV

def _box(kind, payload):
    return struct.pack(">I", 8 + len(payload)) + kind + payload


def _full(kind, version, flags, payload):
    return _box(kind, struct.pack(">I", (version << 24) | flags) + payload)


_MATRIX = struct.pack(">9I", 0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000)


def hevc_movie(heic, created, width, height, brand=b"qt  "):
    """A one-frame HEVC QuickTime ('qt  ') or MP4 ('isom') file made from a HEIC's picture."""
    hvcc, frame = _coded_picture(heic)
    t = created + SECONDS_1904_TO_1970
    timescale, duration = 600, 600
    sample_entry = _box(b"hvc1", bytes(6) + struct.pack(">H", 1) + bytes(16)
                        + struct.pack(">HHIIIH", width, height, 0x480000, 0x480000, 0, 1)
                        + bytes(32) + struct.pack(">Hh", 24, -1) + hvcc)
    ftyp = _box(b"ftyp", brand + struct.pack(">I", 0) + brand + (b"mp41" if brand == b"isom" else b""))

    def moov(chunk_offset):
        stbl = _box(b"stbl", _full(b"stsd", 0, 0, struct.pack(">I", 1) + sample_entry)
                    + _full(b"stts", 0, 0, struct.pack(">III", 1, 1, duration))
                    + _full(b"stss", 0, 0, struct.pack(">II", 1, 1))
                    + _full(b"stsc", 0, 0, struct.pack(">IIII", 1, 1, 1, 1))
                    + _full(b"stsz", 0, 0, struct.pack(">III", 0, 1, len(frame)))
                    + _full(b"stco", 0, 0, struct.pack(">II", 1, chunk_offset)))
        minf = _box(b"minf", _full(b"vmhd", 0, 1, bytes(8))
                    + _box(b"dinf", _full(b"dref", 0, 0, struct.pack(">I", 1) + _full(b"url ", 0, 1, b"")))
                    + stbl)
        mdia = _box(b"mdia", _full(b"mdhd", 0, 0, struct.pack(">IIIIHH", t, t, timescale, duration, 0x55C4, 0))
                    + _full(b"hdlr", 0, 0, struct.pack(">I", 0) + b"vide" + bytes(12) + b"Core Media Video\x00")
                    + minf)
        tkhd = _full(b"tkhd", 0, 3, struct.pack(">IIIII", t, t, 1, 0, duration) + bytes(8)
                     + struct.pack(">hhHH", 0, 0, 0, 0) + _MATRIX + struct.pack(">II", width << 16, height << 16))
        mvhd = _full(b"mvhd", 0, 0, struct.pack(">IIII", t, t, timescale, duration) + struct.pack(">IH", 0x10000, 0x100)
                     + bytes(10) + _MATRIX + bytes(24) + struct.pack(">I", 2))
        return _box(b"moov", mvhd + _box(b"trak", tkhd + mdia))
    size = len(moov(0))
    return ftyp + moov(len(ftyp) + size + 8) + _box(b"mdat", frame)

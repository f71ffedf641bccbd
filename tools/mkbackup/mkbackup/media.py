"""File makers: real pictures, minimal but well-formed videos, audio and
documents. Small makers return bytes; makers of files that may be large
return a callable yielding chunks, so a profile never holds a big file."""

import datetime
import io
import plistlib
import struct
import zipfile

from PIL import Image, ImageDraw

from .exif import exif_block

SECONDS_1904_TO_1970 = 2082844800


# ---------------------------------------------------------------- pictures

def jpeg_picture(rng, width, height, taken, model="iPhone 6", noisy=False, fmt="JPEG",
                 unique_id=None):
    """A picture with seeded shapes (or seeded noise, which compresses
    poorly and so makes big files) and an Exif date of when it was taken."""
    if noisy:
        image = Image.frombytes("RGB", (width, height), rng.bytes(width * height * 3))
    else:
        image = Image.new("RGB", (width, height), tuple(rng.bytes(3)))
        draw = ImageDraw.Draw(image)
        for _ in range(6):
            x0, y0 = rng.randint(0, width - 2), rng.randint(0, height - 2)
            x1, y1 = rng.randint(x0 + 1, width), rng.randint(y0 + 1, height)
            shape = draw.ellipse if rng.randint(0, 1) else draw.rectangle
            shape((x0, y0, x1, y1), fill=tuple(rng.bytes(3)))
    out = io.BytesIO()
    if fmt == "PNG":
        image.save(out, "PNG")
    else:
        image.save(out, "JPEG", quality=88,
                   exif=exif_block("Apple", model, taken, width, height, unique_id))
    return out.getvalue()


class PictureTemplates:
    """Many distinct camera pictures without encoding each one: a few pictures
    are encoded once with placeholder Exif values, and every copy gets its own
    date and ImageUniqueID written over them (same lengths, so no offset moves)."""

    _PLACEHOLDER_DATE = datetime.datetime(1999, 9, 9, 9, 9, 9)
    _PLACEHOLDER_ID = "0" * 32

    def __init__(self, rng, model, count=8, size=(320, 240)):
        self.templates = []
        stamp = self._PLACEHOLDER_DATE.strftime("%Y:%m:%d %H:%M:%S").encode("ascii")
        for n in range(count):
            # Every other one upright, as phones hold them.
            width, height = size if n % 2 == 0 else size[::-1]
            data = jpeg_picture(rng.derive(f"template/{n}"), width, height,
                                self._PLACEHOLDER_DATE, model, unique_id=self._PLACEHOLDER_ID)
            block = exif_block("Apple", model, self._PLACEHOLDER_DATE, width, height,
                               self._PLACEHOLDER_ID)
            start = data.find(block)
            if start < 0:
                raise RuntimeError("the encoder did not keep the Exif block as given")
            dates = [start + i for i in _offsets(block, stamp)]
            ids = [start + i for i in _offsets(block, self._PLACEHOLDER_ID.encode("ascii"))]
            if len(dates) != 3 or len(ids) != 1:
                raise RuntimeError("unexpected Exif placeholders")
            self.templates.append((data, dates, ids[0]))

    def picture(self, index, taken, unique_id):
        data, dates, id_at = self.templates[index % len(self.templates)]
        out = bytearray(data)
        stamp = taken.strftime("%Y:%m:%d %H:%M:%S").encode("ascii")
        for at in dates:
            out[at:at + len(stamp)] = stamp
        out[id_at:id_at + 32] = unique_id.encode("ascii")
        return bytes(out)


def _offsets(data, needle):
    found, at = [], data.find(needle)
    while at >= 0:
        found.append(at)
        at = data.find(needle, at + 1)
    return found


# ------------------------------------------------------------ ISO-BMFF boxes

def _box(kind, payload):
    return struct.pack(">I", 8 + len(payload)) + kind + payload


def _full_box(kind, version, flags, payload):
    return _box(kind, struct.pack(">I", (version << 24) | flags) + payload)


_UNITY_MATRIX = struct.pack(">9I", 0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000)


def _movie_header(created, timescale, duration):
    t = created + SECONDS_1904_TO_1970
    return _full_box(b"mvhd", 0, 0, struct.pack(">IIII", t, t, timescale, duration)
                     + struct.pack(">IH", 0x10000, 0x100) + bytes(10)
                     + _UNITY_MATRIX + bytes(24) + struct.pack(">I", 2))


def _track(created, timescale, duration, handler, width, height):
    t = created + SECONDS_1904_TO_1970
    volume = 0x100 if handler == b"soun" else 0
    tkhd = _full_box(b"tkhd", 0, 3, struct.pack(">IIIII", t, t, 1, 0, duration) + bytes(8)
                     + struct.pack(">hhHH", 0, 0, volume, 0) + _UNITY_MATRIX
                     + struct.pack(">II", width << 16, height << 16))
    mdhd = _full_box(b"mdhd", 0, 0, struct.pack(">IIIIHH", t, t, timescale, duration,
                                                 0x55C4, 0))   # language "und"
    name = b"Core Media Video\x00" if handler == b"vide" else b"Core Media Audio\x00"
    hdlr = _full_box(b"hdlr", 0, 0, struct.pack(">I", 0) + handler + bytes(12) + name)
    return _box(b"trak", tkhd + _box(b"mdia", mdhd + hdlr))


def _mdat_header(payload_size):
    if payload_size + 8 <= 0xFFFFFFFF:
        return struct.pack(">I", payload_size + 8) + b"mdat"
    return struct.pack(">I", 1) + b"mdat" + struct.pack(">Q", payload_size + 16)


_BRANDS = {
    "mov": (b"qt  ", 0x20050300, [b"qt  "]),
    "mp4": (b"isom", 0x200, [b"isom", b"iso2", b"avc1", b"mp41"]),
    "m4a": (b"M4A ", 0, [b"M4A ", b"mp42", b"isom"]),
}


def iso_media(rng, flavour, payload_size, created, seconds=3, width=320, height=240):
    """A QuickTime/MP4/M4A file: ftyp, moov (mvhd + one track) and an mdat of
    `payload_size` seeded bytes, streamed."""
    major, minor, compatible = _BRANDS[flavour]
    timescale = 600 if flavour != "m4a" else 44100
    duration = seconds * timescale
    handler = b"soun" if flavour == "m4a" else b"vide"
    if handler == b"soun":
        width = height = 0
    head = (_box(b"ftyp", major + struct.pack(">I", minor) + b"".join(compatible))
            + _box(b"moov", _movie_header(created, timescale, duration)
                   + _track(created, timescale, duration, handler, width, height))
            + _mdat_header(payload_size))
    payload = rng.derive("mdat")

    def chunks():
        yield head
        yield from payload.keystream(payload_size)
    return chunks


def iso_media_size(payload_size):
    """Size of an `iso_media` file: for planning a profile's total."""
    return payload_size + 512          # the header boxes take well under this


# ------------------------------------------------------------------- audio

def _id3_frame(frame_id, text):
    body = b"\x00" + text.encode("latin-1")
    return frame_id + struct.pack(">I", len(body)) + b"\x00\x00" + body


def _syncsafe(value):
    return bytes(((value >> shift) & 0x7F) for shift in (21, 14, 7, 0))


def mp3_audio(rng, frames, title, artist):
    """ID3v2.3 tag, then MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz,
    joint stereo, 417 bytes each) with seeded frame bodies."""
    tag_body = _id3_frame(b"TIT2", title) + _id3_frame(b"TPE1", artist)
    tag = b"ID3\x03\x00\x00" + _syncsafe(len(tag_body)) + tag_body
    header = b"\xFF\xFB\x90\x44"
    frame_size = 417
    body = bytearray()
    for _ in range(frames):
        body += header + bytes(32) + rng.bytes(frame_size - 4 - 32)   # side info, then data
    return tag + bytes(body)


# --------------------------------------------------------------- documents

def text_document(text):
    return text.encode("utf-8")


def _pdf_escape(text):
    return text.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")


def pdf_document(lines):
    """A one-page PDF with a correct cross-reference table."""
    drawing = "BT /F1 14 Tf 72 720 Td 18 TL " + " ".join(
        f"({_pdf_escape(line)}) '" for line in lines) + " ET"
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        b"/Resources << /Font << /F1 5 0 R >> >> >>",
        b"<< /Length %d >>\nstream\n" % len(drawing) + drawing.encode("latin-1") + b"\nendstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(objects, start=1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)


_DOCX_PARTS = {
    "[Content_Types].xml":
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
        '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Override PartName="/word/document.xml" ContentType="application/'
        'vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>',
    "_rels/.rels":
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
        '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
        'relationships/officeDocument" Target="word/document.xml"/></Relationships>',
}


def _xml_escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def docx_document(paragraphs, stamp):
    """A minimal word-processing document; a ZIP with fixed member dates so
    that the same input gives the same bytes."""
    body = "".join(f"<w:p><w:r><w:t>{_xml_escape(p)}</w:t></w:r></w:p>" for p in paragraphs)
    parts = dict(_DOCX_PARTS)
    parts["word/document.xml"] = (
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
        '<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">'
        f"<w:body>{body}</w:body></w:document>")
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as archive:
        for name, text in parts.items():
            info = zipfile.ZipInfo(name, date_time=stamp.timetuple()[:6])
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            archive.writestr(info, text.encode("utf-8"))
    return out.getvalue()


def preference_plist(values):
    """Preferences as the device keeps them: a binary property list."""
    return plistlib.dumps(values, fmt=plistlib.FMT_BINARY, sort_keys=True)

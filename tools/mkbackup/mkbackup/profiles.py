"""What each profile puts into a backup.

Every file states where a scan should list it (its Expectation) right where
it is made, so the ground truth is written down, not derived by the same
rules a reader implements.
"""

import datetime

from . import media
from .entries import (BackupEntry, Expectation, CLASS_COMPLETE, CLASS_COMPLETE_UNLESS_OPEN,
                      CLASS_NONE, CLASS_UNTIL_FIRST_AUTH)

CAMERA_ROLL = "CameraRollDomain"
MEDIA = "MediaDomain"
HOME = "HomeDomain"
READER = "AppDomain-com.example.Reader"
CAMERA_APP = "AppDomain-net.whatever.Camera"
APPLICATIONS = ["com.example.Reader", "net.whatever.Camera"]
MIB = 1 << 20
CAMERA_ROLL_PREFIX = len("Media/DCIM/100APPLE/")


def camera_roll(path):
    return Expectation("camera-roll", "Camera Roll", path[CAMERA_ROLL_PREFIX:])


def thumbnail(name, picture_present):
    """A thumbnail stands for its picture only when the picture is gone."""
    return Expectation("camera-roll", "Camera Roll", name, deleted=True,
                       listed=not picture_present)


def photo_stream(path):
    return Expectation("photo-stream", "PhotoStream", path.rsplit("/", 1)[-1])


def app_file(category, domain, path):
    return Expectation(category, domain.rsplit(".", 1)[-1], path.rsplit("/", 1)[-1])


def music(path):
    return Expectation("music", "Music", path.rsplit("/", 1)[-1])


class ProfileBuilder:
    """Collects entries; each file gets its own seeded stream and time."""

    def __init__(self, rng, props):
        self.rng = rng
        self.props = props
        self.base_time = props.backup_timestamp
        self.entries = []

    def _file_rng(self, domain, path):
        return self.rng.derive(f"file/{domain}-{path}")

    def mtime(self, domain, path):
        return self.base_time - self._file_rng(domain, path).derive("mtime").randint(
            3600, 120 * 86400)

    def taken(self, domain, path):
        return datetime.datetime.fromtimestamp(self.mtime(domain, path) - 30,
                                               datetime.timezone.utc).replace(tzinfo=None)

    def add(self, domain, path, make, expect=None, protection=CLASS_UNTIL_FIRST_AUTH,
            properties=()):
        """`make(rng)` returns the content: bytes or a chunk-yielding callable."""
        rng = self._file_rng(domain, path)
        # Made when written, so a profile of big files never holds them all.
        entry = BackupEntry(domain, path, content=lambda: make(rng),
                            mtime=self.mtime(domain, path), protection_class=protection,
                            properties=list(properties), expect=expect)
        self.entries.append(entry)
        return entry

    def link(self, domain, path, target):
        self.entries.append(BackupEntry(domain, path, kind="symlink", link_target=target,
                                        mtime=self.mtime(domain, path), protection_class=0))

    # -- common kinds of files

    def photo_properties(self, domain, path, extra=False):
        rng = self._file_rng(domain, path).derive("uuid")
        props = [(b"com.apple.assetsd.UUID", rng.uuid_text().encode("ascii"))]
        if extra:
            props.append((b"com.apple.assetsd.addedDate",
                          str(self.mtime(domain, path)).encode("ascii")))
        return props

    def picture(self, domain, path, expect, size=(320, 240), noisy=False, **kw):
        taken = self.taken(domain, path)
        fmt = "PNG" if path.lower().endswith(".png") else "JPEG"
        model = self.props.product_name
        return self.add(domain, path, lambda r: media.jpeg_picture(
            r, size[0], size[1], taken, model, noisy=noisy, fmt=fmt), expect, **kw)

    def video(self, domain, path, expect, payload, **kw):
        flavour = "mov" if path.lower().endswith(".mov") else "mp4"
        created = self.mtime(domain, path)
        return self.add(domain, path, lambda r: media.iso_media(r, flavour, payload, created),
                        expect, **kw)

    def m4a(self, domain, path, expect, payload):
        created = self.mtime(domain, path)
        return self.add(domain, path, lambda r: media.iso_media(r, "m4a", payload, created),
                        expect)

    def preferences(self, domain, path, values):
        return self.add(domain, path, lambda r: media.preference_plist(values),
                        protection=CLASS_NONE)


def _camera_roll_pictures(b, names, folder="100APPLE", extra_property_every=3):
    for i, name in enumerate(names):
        path = f"Media/DCIM/{folder}/{name}"
        b.picture(CAMERA_ROLL, path, camera_roll(path),
                  properties=b.photo_properties(CAMERA_ROLL, path, i % extra_property_every == 0))


def sample(b):
    """About forty files of every media kind, under 5 MB."""
    _camera_roll_pictures(b, [f"IMG_{n:04d}.JPG" for n in range(1, 7)])
    for path, payload in (("Media/DCIM/100APPLE/IMG_0007.MOV", 6000),
                          ("Media/DCIM/100APPLE/IMG_0008.MP4", 9000)):
        b.video(CAMERA_ROLL, path, camera_roll(path), payload,
                properties=b.photo_properties(CAMERA_ROLL, path))
    path = "Media/DCIM/100APPLE/IMG_0009.PNG"          # a screenshot
    b.picture(CAMERA_ROLL, path, camera_roll(path), size=(320, 568))
    _camera_roll_pictures(b, ["IMG_0101.JPG"], folder="101APPLE")
    # Thumbnails come after the pictures, as the device lists them.
    b.picture(CAMERA_ROLL, "Media/DCIM/.THUMB/IMG_0001.JPG", thumbnail("IMG_0001.JPG", True),
              size=(80, 60))
    b.picture(CAMERA_ROLL, "PhotoData/Thumbnails/100APPLE___IMG_0002.JPG",
              thumbnail("IMG_0002.JPG", True), size=(80, 60))
    b.picture(CAMERA_ROLL, "PhotoData/Thumbnails/100APPLE___IMG_0010.JPG",
              thumbnail("IMG_0010.JPG", False), size=(80, 60))
    b.picture(CAMERA_ROLL, "Media/DCIM/.THUMB/IMG_0011.JPG", thumbnail("IMG_0011.JPG", False),
              size=(80, 60))
    b.add(CAMERA_ROLL, "PhotoData/Thumbnails/thumbnailConfiguration",
          lambda r: media.preference_plist({"Version": 2}))

    for n in (201, 202):
        path = f"Media/PhotoStreamsData/1148230571/100APPLE/IMG_{n:04d}.JPG"
        b.picture(MEDIA, path, photo_stream(path))
    b.video(MEDIA, "Media/PhotoStreamsData/1148230571/100APPLE/IMG_0203.MOV", None, 4000)
    b.add(MEDIA, "Media/iTunes_Control/Music/F00/ABCD.mp3",
          lambda r: media.mp3_audio(r, 12, "Morning", "The Examples"),
          music("Media/iTunes_Control/Music/F00/ABCD.mp3"))
    b.m4a(MEDIA, "Media/iTunes_Control/Music/F01/EFGH.m4a",
          music("Media/iTunes_Control/Music/F01/EFGH.m4a"), 5000)
    b.add(MEDIA, "Media/iTunes_Control/Music/F02/IJKL.MP3",
          lambda r: media.mp3_audio(r, 8, "Evening", "The Examples"),
          music("Media/iTunes_Control/Music/F02/IJKL.MP3"))

    b.preferences(HOME, "Library/Preferences/com.apple.springboard.plist",
                  {"SBShowBatteryPercentage": True, "SBAutoLockTime": 60})
    b.preferences(HOME, "Library/Preferences/.GlobalPreferences.plist",
                  {"AppleLanguages": ["en", "de"], "AppleLocale": "en_US"})
    b.link(HOME, "Library/Preferences/com.apple.current.plist", "com.apple.springboard.plist")
    b.m4a(HOME, "Library/Sounds/voice-note.m4a", None, 3000)        # audio, but not music
    b.add(HOME, "Library/Logs/empty.log", lambda r: b"")

    _reader_documents(b)
    b.add(READER, "Documents/book.mobi", lambda r: b"BOOKMOBI" + r.bytes(600))  # no known kind
    b.picture(READER, "Documents/cover.png", app_file("app-pictures", READER, "Documents/cover.png"))
    b.preferences(READER, "Library/Preferences/com.example.Reader.plist", {"LastPage": 12})

    for path in ("Documents/Photos/shot1.jpg", "Documents/Photos/shot2.JPEG"):
        b.picture(CAMERA_APP, path, app_file("app-pictures", CAMERA_APP, path))
    for path, payload in (("Documents/Videos/clip1.mov", 5000), ("Documents/Videos/clip2.mp4", 7000)):
        b.video(CAMERA_APP, path, app_file("app-videos", CAMERA_APP, path), payload)
    b.add(CAMERA_APP, "Library/Caches/frame.bin", lambda r: r.bytes(2048))


def _reader_documents(b, full=True):
    stamp = datetime.datetime(2016, 5, 2, 9, 0, 0)
    docs = [("Documents/a.PDF", lambda r: media.pdf_document(
                ["Quarterly figures", "Revenue (est.) up 4%"]), CLASS_COMPLETE)]
    if full:
        docs += [
            ("Documents/notes.txt", lambda r: media.text_document(
                "Buy milk\nCall Robin? Maybe tomorrow.\n"), CLASS_COMPLETE_UNLESS_OPEN),
            ("Documents/report.docx", lambda r: media.docx_document(
                ["Report", "All systems nominal."], stamp), CLASS_UNTIL_FIRST_AUTH),
            ("Documents/Caf\u00e9 menu.txt", lambda r: media.text_document(
                "Cr\u00e8me br\u00fbl\u00e9e \u2013 4,50 \u20ac\n"), CLASS_UNTIL_FIRST_AUTH),
        ]
    for path, make, protection in docs:
        b.add(READER, path, make, app_file("app-documents", READER, path), protection)


def small(b):
    """A handful of files, one of each kind a scan lists, for fast tests."""
    _camera_roll_pictures(b, ["IMG_0001.JPG"])
    path = "Media/DCIM/100APPLE/IMG_0002.MOV"
    b.video(CAMERA_ROLL, path, camera_roll(path), 3000)
    b.picture(CAMERA_ROLL, "Media/DCIM/.THUMB/IMG_0001.JPG", thumbnail("IMG_0001.JPG", True),
              size=(80, 60))
    b.picture(CAMERA_ROLL, "PhotoData/Thumbnails/100APPLE___IMG_0003.JPG",
              thumbnail("IMG_0003.JPG", False), size=(80, 60))
    path = "Media/PhotoStreamsData/1148230571/100APPLE/IMG_0201.JPG"
    b.picture(MEDIA, path, photo_stream(path))
    b.add(MEDIA, "Media/iTunes_Control/Music/F00/ABCD.mp3",
          lambda r: media.mp3_audio(r, 6, "Morning", "The Examples"),
          music("Media/iTunes_Control/Music/F00/ABCD.mp3"))
    b.preferences(HOME, "Library/Preferences/com.apple.springboard.plist",
                  {"SBShowBatteryPercentage": True})
    b.m4a(HOME, "Library/Sounds/voice-note.m4a", None, 2000)
    _reader_documents(b, full=False)
    b.picture(READER, "Documents/cover.png", app_file("app-pictures", READER, "Documents/cover.png"))
    path = "Documents/Videos/clip1.mov"
    b.video(CAMERA_APP, path, app_file("app-videos", CAMERA_APP, path), 3000)


def large(b, size_mb):
    """The small profile plus big pictures and videos up to about `size_mb`
    MiB in all: for benchmarks. Videos are streamed, never held whole."""
    small(b)
    budget = size_mb * MIB
    plan = b.rng.derive("large-plan")
    picture_budget = budget // 12
    picture_size = 2048 * 1536 * 9 // 10     # about what seeded noise compresses to
    pictures = max(2, picture_budget // picture_size)
    for n in range(pictures):
        path = f"Media/DCIM/100APPLE/IMG_{1000 + n:04d}.JPG"
        b.picture(CAMERA_ROLL, path, camera_roll(path), size=(2048, 1536), noisy=True,
                  properties=b.photo_properties(CAMERA_ROLL, path))
    remaining = max(budget - pictures * picture_size, 0)
    n = 0
    while remaining > 0:
        payload = min(plan.randint(40, 160) * MIB, remaining)
        remaining -= payload
        if n % 3 == 2:
            path = f"Documents/Videos/long{n:03d}.mp4"
            b.video(CAMERA_APP, path, app_file("app-videos", CAMERA_APP, path), payload)
        else:
            path = f"Media/DCIM/100APPLE/IMG_{2000 + n:04d}.MOV"
            b.video(CAMERA_ROLL, path, camera_roll(path), payload)
        n += 1


def more_pictures(b, count):
    """`count` camera-roll pictures on top of a profile, for scans of a full
    phone: a thousand to a folder, each a copy of one of a few encoded pictures
    with its own date and unique id."""
    if count <= 0:
        return
    templates = media.PictureTemplates(b.rng.derive("picture-templates"), b.props.product_name)
    for n in range(count):
        # Numbered past every name the profiles use: a picture named like a thumbnail
        # of a deleted one would stand for it.
        path = f"Media/DCIM/{110 + n // 1000}APPLE/IMG_{3000 + n % 7000:04d}.JPG"
        taken = b.taken(CAMERA_ROLL, path)
        b.add(CAMERA_ROLL, path, lambda r, n=n, taken=taken: templates.picture(n, taken, r.hex(32)),
              camera_roll(path), properties=b.photo_properties(CAMERA_ROLL, path, n % 3 == 0))


PROFILES = {"sample": sample, "small": small, "large": large}

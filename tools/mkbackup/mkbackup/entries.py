"""What a profile asks for: the files, directories and links of one backup."""

from dataclasses import dataclass, field
from typing import Callable, Iterable, Optional, Union

# Unix mode bits as the device records them.
MODE_DIRECTORY = 0o040755
MODE_FILE = 0o100644
MODE_SYMLINK = 0o120755

# Data-protection classes of the device.
CLASS_COMPLETE = 1
CLASS_COMPLETE_UNLESS_OPEN = 2
CLASS_UNTIL_FIRST_AUTH = 3
CLASS_NONE = 4

# bytes, or a callable made when the file is written that returns bytes or
# an iterable of chunks.
Content = Union[bytes, Callable[[], Union[bytes, Iterable[bytes]]]]


@dataclass
class Expectation:
    """Where a scan should list a file.

    `listed` is False for a thumbnail whose full picture is listed already:
    the scan matches it but does not list it a second time.
    """
    category: str
    group: str
    name: str
    deleted: bool = False
    listed: bool = True

    def as_json(self):
        return {"category": self.category, "group": self.group, "name": self.name,
                "deleted": self.deleted, "listed": self.listed}


@dataclass
class BackupEntry:
    domain: str
    path: str
    kind: str = "file"              # "file", "dir" or "symlink"
    content: Content = b""
    mtime: int = 0
    protection_class: int = CLASS_UNTIL_FIRST_AUTH
    properties: list = field(default_factory=list)   # (name bytes, value bytes)
    link_target: Optional[str] = None
    expect: Optional[Expectation] = None
    # The Size the index records when it is not the content's length: a -wal
    # that grew while the device copied it, or a file whose content is absent.
    index_size: Optional[int] = None
    # False: the index lists the file but the folder lacks it (a partial backup).
    stored: bool = True

    @property
    def mode(self):
        return {"file": MODE_FILE, "dir": MODE_DIRECTORY, "symlink": MODE_SYMLINK}[self.kind]

    @property
    def has_stored_file(self):
        return self.kind == "file"

    def chunks(self):
        made = self.content() if callable(self.content) else self.content
        if callable(made):
            made = made()
        if isinstance(made, (bytes, bytearray)):
            return [bytes(made)]
        return made


def directory(domain, path, mtime):
    return BackupEntry(domain, path, kind="dir", mtime=mtime, protection_class=0)


def with_directories(entries, mtime):
    """The entries with a directory entry for each domain root (empty path)
    and each parent folder inserted before the first entry inside it, the
    order in which a device lists them."""
    seen = {(e.domain, e.path) for e in entries if e.kind == "dir"}
    result = []
    for entry in entries:
        parts = entry.path.split("/")[:-1]
        for depth in range(0, len(parts) + 1):
            key = (entry.domain, "/".join(parts[:depth]))
            if key not in seen:
                seen.add(key)
                result.append(directory(key[0], key[1], mtime))
        result.append(entry)
    return result

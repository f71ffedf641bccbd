"""What a replayed backup folder offers the upload: its folders, its files and the Status.plist to send last."""

import datetime
import os
import plistlib
import uuid
from dataclasses import dataclass

HOST_WRITTEN = "Info.plist"      # the host writes it before asking for the backup
STATUS = "Status.plist"          # sent last: its SnapshotState tells the host the backup is complete


@dataclass
class ReplayFile:
    relative: str    # "/"-separated path below the backup folder
    path: str
    size: int


@dataclass
class ReplayTree:
    folders: list
    files: list
    status_plist: bytes

    @property
    def total_bytes(self):
        return sum(f.size for f in self.files) + len(self.status_plist)


def read_tree(root, snapshot_state):
    """Lists root (None: an empty backup); links and other special files are not part of a backup."""
    folders, files, skipped = [], [], []
    if root is not None:
        for here, dirnames, filenames in os.walk(root):
            dirnames.sort()
            rel_here = os.path.relpath(here, root)
            prefix = "" if rel_here == "." else rel_here.replace(os.sep, "/") + "/"
            for d in dirnames:
                if os.path.islink(os.path.join(here, d)):
                    skipped.append(prefix + d)
                else:
                    folders.append(prefix + d)
            for name in sorted(filenames):
                rel = prefix + name
                path = os.path.join(here, name)
                if rel in (HOST_WRITTEN, STATUS):
                    continue
                if os.path.islink(path) or not os.path.isfile(path):
                    skipped.append(rel)
                    continue
                files.append(ReplayFile(rel, path, os.path.getsize(path)))
    return ReplayTree(folders, files, status_plist(root, snapshot_state)), skipped


def status_plist(root, snapshot_state):
    """The replayed folder's own Status.plist when its state is the one wanted (so bytes match), else a new one."""
    old = None
    if root is not None:
        try:
            with open(os.path.join(root, STATUS), "rb") as f:
                data = f.read()
            old = plistlib.loads(data)
            if isinstance(old, dict) and old.get("SnapshotState") == snapshot_state:
                return data
        except (OSError, plistlib.InvalidFileException, ValueError):
            old = None
    status = dict(old) if isinstance(old, dict) else {
        "BackupState": "new",
        "Date": datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0, tzinfo=None),
        "IsFullBackup": True,
        "UUID": str(uuid.uuid4()).upper(),
        "Version": "3.3",
    }
    status["SnapshotState"] = snapshot_state
    return plistlib.dumps(status, fmt=plistlib.FMT_BINARY)

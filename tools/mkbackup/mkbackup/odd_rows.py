"""Manifest.db rows real backups show that a reader must get through without
giving up: a row with NULL domain and path, a row whose archive does not
decode, a link, an empty file (one block of padding when encrypted), a -wal
longer than the Size its row records, and a row whose stored file is absent.

Each is described in the ground truth under "odd_rows" with what a reader
should do with it: "skip" (not an entry; count it), "list" (an ordinary
entry) or "missing" (listed, but its content is not in the folder).
"""

from . import manifest_db
from .backup_writer import GID, UID
from .databases.sqlite_file import wal_companion
from .entries import BackupEntry, MODE_FILE
from .stored_files import stored_name

HOME = "HomeDomain"
SMS_DB = "Library/SMS/sms.db"
LINK_PATH = "Library/Preferences/com.apple.current.plist"
LINK_TARGET = "com.apple.springboard.plist"
EMPTY_PATH = "Library/Logs/empty.log"
MISSING_PATH = "Library/Preferences/com.apple.purplebuddy.plist"
BROKEN_PATH = "Library/Preferences/com.apple.locationd.plist"
# The -wal grew by a page between the device measuring and copying it.
WAL_GROWTH = 4096
WAL_TABLE = "_SqliteDatabaseProperties"


def _meta(path, mode, size, inode, mtime):
    return {"path": path, "mode": mode, "size": size, "inode": inode, "mtime": mtime,
            "ctime": mtime, "uid": UID, "gid": GID, "protection_class": 0,
            "link_target": None, "encryption_key": None}


class OddRows:
    def __init__(self, rng, base_time):
        self.rng = rng
        self.mtime = base_time - 2 * 86400
        self.wal_rows = []          # (key, value, kept when the WAL is cut to its Size)
        self.wal_entry = self.link_entry = self.empty_entry = self.missing_entry = None
        self.pathless_id = rng.derive("pathless").hex(40)
        self.broken_id = stored_name(HOME, BROKEN_PATH)

    def add_entries(self, entries):
        """The entries with the odd ones added; a profile's own link and empty
        file serve when it has them."""
        entries = list(entries)
        at = next((i for i, e in enumerate(entries)
                   if (e.domain, e.path) == (HOME, SMS_DB)), None)
        if at is None:
            raise ValueError(f"no {SMS_DB} to give a -wal to")
        self.wal_entry = self._wal_entry(entries[at])
        entries.insert(at + 1, self.wal_entry)

        self.link_entry = next((e for e in entries if e.kind == "symlink"), None)
        if self.link_entry is None:
            self.link_entry = BackupEntry(HOME, LINK_PATH, kind="symlink", link_target=LINK_TARGET,
                                          mtime=self.mtime, protection_class=0)
            entries.append(self.link_entry)
        self.empty_entry = next((e for e in entries if (e.domain, e.path) == (HOME, EMPTY_PATH)),
                                None)
        if self.empty_entry is None:
            self.empty_entry = BackupEntry(HOME, EMPTY_PATH, content=b"", mtime=self.mtime)
            entries.append(self.empty_entry)
        self.missing_entry = BackupEntry(HOME, MISSING_PATH, mtime=self.mtime, stored=False,
                                         index_size=self.rng.randint(600, 9000))
        entries.append(self.missing_entry)
        return entries

    def _wal_entry(self, database):
        data = b"".join(database.chunks())
        values = self.rng.derive("wal")
        first = [("counter_in_all", str(values.randint(40, 400))),
                 ("counter_out_all", str(values.randint(40, 400)))]
        last = [("_UniqueIdentifier", values.uuid_text())]
        insert = f"INSERT INTO {WAL_TABLE} (key, value) VALUES (?, ?)"
        # Two commits: cutting the WAL to its Size loses the last frame and
        # with it the whole second commit.
        wal = wal_companion(data, [[(insert, row) for row in first],
                                   [(insert, row) for row in last]], values)
        self.wal_rows = [(k, v, True) for k, v in first] + [(k, v, False) for k, v in last]
        return BackupEntry(HOME, SMS_DB + "-wal", content=wal, mtime=database.mtime,
                           protection_class=database.protection_class,
                           index_size=len(wal) - WAL_GROWTH)

    def extra_rows(self, entries):
        """Rows no entry stands for, placed inside the index rather than at its
        end: (position, file id, domain, path, flags, archive bytes)."""
        pathless = manifest_db.archived_file(
            _meta(None, 0, 0, self.rng.randint(100000, 900000), self.mtime))
        broken = manifest_db.archived_file(
            _meta(BROKEN_PATH, MODE_FILE, self.rng.randint(600, 9000),
                  self.rng.randint(100000, 900000), self.mtime))
        # Cut short: the trailer that locates the objects is gone.
        broken = broken[:len(broken) // 2]
        return [(len(entries) // 3, self.pathless_id, None, None, manifest_db.FLAG_PATHLESS,
                 pathless),
                (len(entries) // 2, self.broken_id, HOME, BROKEN_PATH, manifest_db.FLAG_FILE,
                 broken)]

    def truth(self, facts):
        by_entry = {(f["domain"], f["path"]): f for f in facts}

        def row(kind, entry, action, **more):
            fact = by_entry[(entry.domain, entry.path)]
            return dict({"kind": kind, "file_id": fact["file_id"], "domain": entry.domain,
                         "path": entry.path, "flags": manifest_db.FLAGS[entry.kind],
                         "action": action}, **more)

        wal = by_entry[(HOME, SMS_DB + "-wal")]
        empty = by_entry[(HOME, self.empty_entry.path)]
        return [
            {"kind": "pathless", "file_id": self.pathless_id, "domain": None, "path": None,
             "flags": manifest_db.FLAG_PATHLESS, "action": "skip"},
            {"kind": "bad-archive", "file_id": self.broken_id, "domain": HOME,
             "path": BROKEN_PATH, "flags": manifest_db.FLAG_FILE, "action": "skip"},
            row("symlink", self.link_entry, "list", target=self.link_entry.link_target),
            row("empty-file", self.empty_entry, "list", stored_size=empty["stored_size"],
                encrypted=empty["encryption_key"] is not None),
            row("wal-longer-than-size", self.wal_entry, "list", recorded_size=wal["size"],
                content_size=len(b"".join(self.wal_entry.chunks())),
                stored_size=wal["stored_size"],
                database={"domain": HOME, "path": SMS_DB,
                          "file_id": by_entry[(HOME, SMS_DB)]["file_id"]},
                wal_table=WAL_TABLE,
                wal_rows=[{"key": k, "value": v, "kept_when_cut_to_size": kept}
                          for k, v, kept in self.wal_rows]),
            row("missing-file", self.missing_entry, "missing",
                recorded_size=self.missing_entry.index_size),
        ]

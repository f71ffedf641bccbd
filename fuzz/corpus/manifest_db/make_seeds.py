#!/usr/bin/env python3
# Writes the seed indexes of this folder: small Manifest.db files as the generator writes
# them (files, folders, links, encrypted rows, rows the rules pick up) and odd ones (NULL
# columns, bad names, damaged archives, a Files table of other columns, freed pages).
# Only run to regenerate the seeds.
import os, sqlite3, sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "..", "tools", "mkbackup"))
sys.path.insert(0, os.path.join(here, ".."))
from mkbackup import manifest_db  # noqa: E402
from mkbackup.stored_files import stored_name  # noqa: E402
from seed_database import fresh_database  # noqa: E402

META = {"ctime": 1500000000, "mtime": 1500000100, "gid": 501, "uid": 501, "inode": 77, "mode": 0o100644,
        "protection_class": 3, "size": 4096, "path": None, "link_target": None, "encryption_key": None}
PATHS = [("HomeDomain", "Library/SMS/sms.db", 1), ("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", 1),
         ("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", 1), ("HomeDomain", "Library/Notes", 2),
         ("AppDomain-net.whatsapp.WhatsApp", "Documents/ChatStorage.sqlite", 1), ("HomeDomain", "Library/Link", 4)]


def row(domain, path, flags, **meta):
    meta = dict(META, path=path, mode={1: 0o100644, 2: 0o40755, 4: 0o120755}[flags], **meta)
    return (stored_name(domain, path), domain, path, flags, manifest_db.archived_file(meta))


def write(name, rows, schema=None, page_size=512):
    db = fresh_database(os.path.join(here, name), page_size)
    db.executescript(schema or "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT,"
                               " flags INTEGER, file BLOB); CREATE INDEX FilesDomainIdx ON Files(domain);")
    db.executemany("INSERT INTO Files VALUES (?, ?, ?, ?, ?)", rows)
    return db


write("plain.db", [row(d, p, f) for d, p, f in PATHS]).close()
write("encrypted.db", [row(d, p, f, encryption_key=b"\x03\0\0\0" + bytes(range(40)))
                       for d, p, f in PATHS[:3]] + [row(*PATHS[5], link_target="../Media")]).close()
good = row(*PATHS[0])
write("odd_rows.db", [
    (None, "HomeDomain", "a", 1, good[4]), ("XYZ" * 13 + "Q", "HomeDomain", "b", 1, good[4]),
    (good[0].upper(), None, None, 16, good[4]), (stored_name("HomeDomain", "c"), "HomeDomain", "c", 1, b"bplist00"),
    (stored_name("HomeDomain", "d"), "HomeDomain", "d", 8, None), (stored_name("HomeDomain", "e"), "HomeDomain", "e", 1, "text"),
]).close()
write("other_columns.db", [(1, 2, 3, 4, 5)], schema="CREATE TABLE Files (a, b, c, d, e);").close()
db = write("freed.db", [row("HomeDomain", "Library/Notes/n%d.sqlite" % i, 1) for i in range(40)])
db.execute("DELETE FROM Files WHERE rowid % 3 = 0")
db.close()

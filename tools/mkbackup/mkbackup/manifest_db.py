"""The newer file index, Manifest.db: an SQLite database whose Files table
holds one row per entry with its metadata as a keyed-archive property list."""

import os
import plistlib
import sqlite3

FLAG_FILE, FLAG_DIRECTORY, FLAG_SYMLINK = 1, 2, 4
# Met on rows whose domain and path are NULL; what it means is not known.
FLAG_PATHLESS = 16
FLAGS = {"file": FLAG_FILE, "dir": FLAG_DIRECTORY, "symlink": FLAG_SYMLINK}


def archived_file(meta):
    """The entry's metadata archived as an MBFile object. A `path` of None
    leaves RelativePath out, as on rows without a path."""
    objects = ["$null"]

    def add(value):
        objects.append(value)
        return plistlib.UID(len(objects) - 1)

    root = {"Birth": meta["ctime"], "Flags": 0, "GroupID": meta["gid"],
            "InodeNumber": meta["inode"], "LastModified": meta["mtime"],
            "LastStatusChange": meta["ctime"], "Mode": meta["mode"],
            "ProtectionClass": meta["protection_class"], "Size": meta["size"],
            "UserID": meta["uid"]}
    objects.append(root)
    if meta["path"] is not None:
        root["RelativePath"] = add(meta["path"])
    if meta["link_target"] is not None:
        root["Target"] = add(meta["link_target"])
    if meta["encryption_key"] is not None:
        data_class = add({"$classname": "NSMutableData",
                          "$classes": ["NSMutableData", "NSData", "NSObject"]})
        root["EncryptionKey"] = add({"NS.data": meta["encryption_key"], "$class": data_class})
    root["$class"] = add({"$classname": "MBFile", "$classes": ["MBFile", "NSObject"]})
    archive = {"$version": 100000, "$archiver": "NSKeyedArchiver",
               "$top": {"root": plistlib.UID(1)}, "$objects": objects}
    return plistlib.dumps(archive, fmt=plistlib.FMT_BINARY, sort_keys=True)


def write(path, rows):
    """`rows`: (file id, domain, path, flags, archive bytes) in index order;
    any iterable, so a big index need not be held whole."""
    if os.path.exists(path):
        os.remove(path)
    db = sqlite3.connect(path)
    try:
        db.executescript(
            "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT,"
            " flags INTEGER, file BLOB);"
            "CREATE INDEX FilesDomainIdx ON Files(domain);"
            "CREATE INDEX FilesRelativePathIdx ON Files(relativePath);"
            "CREATE INDEX FilesFlagsIdx ON Files(flags);"
            "CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB);")
        db.executemany("INSERT INTO Files VALUES (?, ?, ?, ?, ?)", rows)
        db.commit()
    finally:
        db.close()

#!/usr/bin/env python3
# Writes the seed archives of this folder: MBFile rows of the shapes devices write,
# and damaged ones (references out of range or in a loop, wrong types, deep nesting).
# Only run to regenerate the seeds.
import os, plistlib, sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "..", "tools", "mkbackup"))
from mkbackup import manifest_db  # noqa: E402

UID = plistlib.UID
META = {"ctime": 1500000000, "mtime": 1500000100, "gid": 501, "uid": 501, "inode": 77, "mode": 0o100644,
        "protection_class": 3, "size": 4096, "path": "Library/SMS/sms.db", "link_target": None,
        "encryption_key": None}

def archive(objects, root=1):
    return plistlib.dumps({"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": UID(root)},
                           "$objects": objects}, fmt=plistlib.FMT_BINARY)

seeds = {
    "file.bin": manifest_db.archived_file(META),
    "keyed.bin": manifest_db.archived_file(dict(META, encryption_key=b"\x03\0\0\0" + bytes(range(40)))),
    "link.bin": manifest_db.archived_file(dict(META, mode=0o120755, link_target="../Media")),
    "root_out_of_range.bin": archive(["$null", {"Size": 1}], root=9),
    "reference_loop.bin": archive(["$null", {"RelativePath": UID(2), "EncryptionKey": UID(3)}, UID(2), UID(3)]),
    "wrong_types.bin": archive(["$null", {"Size": "big", "Mode": [1], "LastModified": 1.5,
                                          "EncryptionKey": {"NS.data": "text"}, "Target": b"bytes"}]),
    "null_everywhere.bin": archive(["$null", {"Size": UID(0), "RelativePath": UID(0), "EncryptionKey": UID(0)}]),
}
nested = []
for _ in range(200):
    nested = [nested]
seeds["deep.bin"] = archive(["$null", {"Size": 1, "Extra": nested}])
for name, data in seeds.items():
    with open(os.path.join(here, name), "wb") as out:
        out.write(data)
# A list that contains itself cannot be written by plistlib: patch a one-element array's
# reference to point at the array.
loop = bytearray(plistlib.dumps([[1]], fmt=plistlib.FMT_BINARY))
with open(os.path.join(here, "self_containing.bin"), "wb") as out:
    inner_ref = loop.index(b"\xa1") + 1   # first one-element array's reference byte
    loop[inner_ref] = 0                   # now refers to object 0, itself
    out.write(bytes(loop))

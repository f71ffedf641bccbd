#!/usr/bin/python3
"""A plain Python 3 reader of a plain Manifest.db, the baseline of the index-listing
benchmark: it reads every row, decodes every MBFile archive (following the UIDs into
$objects) and writes the listing as JSON, with the fields `sieve files --json` gives.

    manifest_db_list.py BACKUP                     the JSON listing on standard output
    manifest_db_list.py BACKUP --check LISTING     compares a `sieve files --json` listing
                                                   with this one; exit 1 on any difference
"""

import datetime
import json
import os
import plistlib
import sqlite3
import sys

FLAG_DIRECTORY = 2
MODE_TYPE, MODE_DIRECTORY, MODE_LINK = 0o170000, 0o040000, 0o120000
# Fields compared with sieve's listing; "category" is sieve's own and has no counterpart.
COMPARED = ("domain", "path", "stored_name", "stored_path", "link_target", "size", "mode",
            "modified_date", "protection_class", "is_directory", "has_key")


def mbfile(blob):
    """The fields of one MBFile archive, whatever order its objects come in."""
    archive = plistlib.loads(blob)
    objects = archive["$objects"]

    def resolve(value):
        while isinstance(value, plistlib.UID):
            value = objects[value.data]
        return None if value == "$null" else value

    root = resolve(archive["$top"]["root"])
    key = resolve(root.get("EncryptionKey"))
    if isinstance(key, dict):
        key = resolve(key.get("NS.data"))
    return {"path": resolve(root.get("RelativePath")), "target": resolve(root.get("Target")),
            "size": root.get("Size", 0), "mode": root.get("Mode", 0),
            "mtime": root.get("LastModified", 0), "class": root.get("ProtectionClass", 0),
            "key": key}


def rows(db_path):
    """(fileID, domain, relativePath, flags, decoded archive) of every row, in table order."""
    db = sqlite3.connect(f"file:{db_path}?immutable=1", uri=True)
    try:
        for file_id, domain, relative_path, flags, blob in db.execute(
                "SELECT fileID, domain, relativePath, flags, file FROM Files"):
            yield file_id, domain, relative_path, flags, mbfile(blob)
    finally:
        db.close()


def iso_date(seconds):
    """ISO 8601 in the computer's zone with the offset of that moment, as sieve writes it."""
    moment = datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).astimezone()
    return moment.isoformat(timespec="seconds")


def listing(backup):
    for file_id, domain, relative_path, flags, meta in rows(os.path.join(backup, "Manifest.db")):
        mode = meta["mode"]
        directory = flags == FLAG_DIRECTORY or mode & MODE_TYPE == MODE_DIRECTORY
        stored = os.path.join(backup, file_id[:2], file_id)
        is_file = not directory and mode & MODE_TYPE != MODE_LINK
        yield {"domain": domain or "", "path": meta["path"] or relative_path or "",
               "stored_name": file_id,
               "stored_path": stored if is_file and os.path.isfile(stored) else "",
               "link_target": meta["target"] or "", "size": meta["size"], "mode": mode,
               "modified_date": iso_date(meta["mtime"]), "protection_class": meta["class"],
               "is_directory": directory, "has_key": bool(meta["key"])}


def check(backup, listing_path):
    with open(listing_path, encoding="utf-8") as source:
        theirs = {(e["domain"], e["path"]): e for e in json.load(source)}
    ours = {(e["domain"], e["path"]): e for e in listing(backup)}
    problems = [f"missing: {k}" for k in ours.keys() - theirs.keys()]
    problems += [f"not in the index: {k}" for k in theirs.keys() - ours.keys()]
    for k in ours.keys() & theirs.keys():
        problems += [f"{k} {f}: {theirs[k].get(f)!r}, expected {ours[k][f]!r}"
                     for f in COMPARED if theirs[k].get(f) != ours[k][f]]
    for line in problems[:10]:
        print(line, file=sys.stderr)
    print(f"compared {len(ours)} entries: {len(problems)} differences")
    return 1 if problems else 0


def main(argv):
    if len(argv) == 4 and argv[2] == "--check":
        return check(argv[1], argv[3])
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    out = sys.stdout
    out.write("[")
    for n, entry in enumerate(listing(argv[1])):
        out.write(("," if n else "") + json.dumps(entry, ensure_ascii=False))
    out.write("]\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""Writes the seeds of the category_pages fuzz target into this folder: every category
database of a generated small backup (live and deleted rows, as the generator makes them),
once with the iOS 12 layouts and once as iOS 5 wrote them, plus two of them cut mid-page,
and the photo library of iOS 18 with its purged assets.
Run it again to regenerate them.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
MKBACKUP = os.path.join(HERE, "..", "..", "..", "tools", "mkbackup", "mkbackup.py")
DATABASES = {
    "Library/AddressBook/AddressBook.sqlitedb": "contacts",
    "Library/SMS/sms.db": "sms",
    "Library/Notes/notes.sqlite": "notes",
    "NoteStore.sqlite": "notestore",
    "Library/Calendar/Calendar.sqlitedb": "calendar",
    "Library/Safari/Bookmarks.db": "bookmarks",
    "Library/CallHistoryDB/CallHistory.storedata": "calls",
    "Library/CallHistory/call_history.db": "calls_old",
    "Media/PhotoData/Photos.sqlite": "photos",
}


def generate(tag, extra, only=None):
    with tempfile.TemporaryDirectory() as scratch:
        folder, truth = os.path.join(scratch, "backup"), os.path.join(scratch, "truth.json")
        subprocess.run([sys.executable, MKBACKUP, folder, "--profile", "small", "--truth", truth] + extra,
                       check=True, stdout=subprocess.DEVNULL)
        with open(truth) as f:
            files = json.load(f)["files"]
        written = []
        for entry in files:
            name = DATABASES.get(entry["path"])
            if name and entry.get("stored_name") and (only is None or name in only):
                target = os.path.join(HERE, "%s_%s.db" % (tag, name))
                shutil.copyfile(os.path.join(folder, entry["stored_name"]), target)
                written.append(target)
        return written


def main():
    for old in os.listdir(HERE):
        if old.endswith(".db"):
            os.remove(os.path.join(HERE, old))
    newest = generate("ios12", ["--product-version", "12.4"])
    generate("ios5", ["--product-version", "5.1.1"])
    generate("ios18", ["--product-version", "18.2"], only={"photos"})
    for path in newest[:2]:
        with open(path, "rb") as f:
            data = f.read()
        with open(path[:-3] + "_cut.db", "wb") as f:
            f.write(data[:len(data) // 2 + 700])


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the seeds of the note_body fuzz target into this folder: the ZDATA bodies of the
newer notes store (also inflated, as the protocol-buffer message) and the HTML bodies of the
older one, as the generator writes them into a small backup, plus one body cut short. Run it
again to regenerate them.
"""
import json
import os
import sqlite3
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
MKBACKUP = os.path.join(HERE, "..", "..", "..", "tools", "mkbackup", "mkbackup.py")
BODIES = {
    "NoteStore.sqlite": ("zdata", "SELECT ZDATA FROM ZICNOTEDATA WHERE ZDATA IS NOT NULL ORDER BY Z_PK LIMIT 6"),
    "Library/Notes/notes.sqlite": ("html", "SELECT ZCONTENT FROM ZNOTEBODY WHERE ZCONTENT IS NOT NULL ORDER BY Z_PK LIMIT 4"),
}


def main():
    for old in os.listdir(HERE):
        if old.endswith(".bin"):
            os.remove(os.path.join(HERE, old))
    with tempfile.TemporaryDirectory() as scratch:
        folder, truth = os.path.join(scratch, "backup"), os.path.join(scratch, "truth.json")
        subprocess.run([sys.executable, MKBACKUP, folder, "--profile", "small", "--truth", truth,
                        "--product-version", "12.4"], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        with open(truth) as f:
            files = json.load(f)["files"]
        for entry in files:
            if entry["path"] not in BODIES or not entry.get("stored_name"):
                continue
            tag, query = BODIES[entry["path"]]
            db = sqlite3.connect("file:%s?mode=ro" % os.path.join(folder, entry["stored_name"]), uri=True)
            for n, (body,) in enumerate(db.execute(query)):
                data = body if isinstance(body, bytes) else body.encode("utf-8")
                with open(os.path.join(HERE, "%s_%d.bin" % (tag, n)), "wb") as f:
                    f.write(data)
                if tag == "zdata":
                    try:
                        message = zlib.decompress(data, 32 + zlib.MAX_WBITS)
                    except zlib.error:
                        message = None
                    if message is not None:
                        with open(os.path.join(HERE, "message_%d.bin" % n), "wb") as f:
                            f.write(message)
                if n == 0:
                    with open(os.path.join(HERE, "%s_cut.bin" % tag), "wb") as f:
                        f.write(data[:len(data) // 2])
            db.close()


if __name__ == "__main__":
    main()

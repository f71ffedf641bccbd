#!/usr/bin/env python3
"""Writes the seeds of the wal_log fuzz target into this folder.

Each seed is: main-file length and log length (big-endian 32-bit), the main file, the log and
the journal. The databases use 512-byte pages so the seeds stay small: a log with superseded
frames, one with a checkpoint between two generations, one with an open transaction's frames,
and a main file with the journal of an unfinished transaction.
"""
import os
import shutil
import sqlite3
import struct
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return b""


def save(name, main, wal=b"", journal=b""):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(struct.pack(">II", len(main), len(wal)) + main + wal + journal)


def wal_db(path):
    db = sqlite3.connect(path, isolation_level=None)
    db.execute("PRAGMA page_size=512")
    db.execute("PRAGMA journal_mode=WAL")
    db.execute("PRAGMA wal_autocheckpoint=0")
    db.execute("CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT)")
    return db


def main():
    work = tempfile.mkdtemp()
    try:
        path = os.path.join(work, "a.db")
        db = wal_db(path)
        for i in range(4):
            db.execute("INSERT INTO t VALUES(?, ?)", (i, "row-%d" % i))
        db.execute("UPDATE t SET v='changed' WHERE id=1")
        save("superseded", read(path), read(path + "-wal"))
        db.execute("PRAGMA wal_checkpoint")
        db.execute("UPDATE t SET v='after-checkpoint' WHERE id=2")
        save("generations", read(path), read(path + "-wal"))
        db.execute("PRAGMA cache_size=1")
        db.execute("BEGIN")
        for i in range(10, 80):
            db.execute("INSERT INTO t VALUES(?, ?)", (i, "x" * 60))
        save("uncommitted", read(path), read(path + "-wal"))
        db.execute("ROLLBACK")
        db.close()

        path = os.path.join(work, "j.db")
        db = sqlite3.connect(path, isolation_level=None)
        db.execute("PRAGMA page_size=512")
        db.execute("PRAGMA journal_mode=PERSIST")
        db.execute("CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT)")
        db.execute("INSERT INTO t VALUES(1, 'before')")
        db.execute("BEGIN")
        db.execute("UPDATE t SET v='during' WHERE id=1")
        save("journal_open", read(path), b"", read(path + "-journal"))
        db.execute("COMMIT")
        save("journal_persisted", read(path), b"", read(path + "-journal"))
        db.close()
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()

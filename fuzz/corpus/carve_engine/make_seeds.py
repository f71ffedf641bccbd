#!/usr/bin/env python3
"""Writes the seed databases of the carve_engine fuzz target into this folder.

Small databases (512-byte pages, a few KB) with the shapes the schema-driven carver treats
apart: a WITHOUT ROWID table, a dropped table, a deleted row with overflow pages, an
incremental auto-vacuum file, UTF-16 text, each with deleted rows. Deterministic but for the
header's SQLite version number.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
from seed_database import fresh_database  # noqa: E402


def build(name, statements, pragmas=()):
    path = os.path.join(HERE, name)
    db = fresh_database(path)
    for pragma in pragmas:
        db.execute(pragma)
    for sql in statements:
        db.execute(sql)
    db.close()


ROWS = ["INSERT INTO t VALUES(%d, 'row-%d', %d, %d.5, x'0102')" % (i, i, i * 7, i) for i in range(1, 30)]
build("without_rowid.db", ["CREATE TABLE t(k INT, name TEXT, n INT, r REAL, b BLOB, PRIMARY KEY(name, k)) WITHOUT ROWID"]
      + ROWS + ["DELETE FROM t WHERE k % 3 = 0"])
build("dropped.db", ["CREATE TABLE keep(a TEXT)", "INSERT INTO keep VALUES('k')",
                     "CREATE TABLE t(k INTEGER PRIMARY KEY, name TEXT, n INT, r REAL, b BLOB)"] + ROWS + ["DROP TABLE t"])
build("overflow.db", ["CREATE TABLE t(k INTEGER PRIMARY KEY, body TEXT)",
                      "INSERT INTO t VALUES(1, printf('%.*c', 1500, 'a'))", "INSERT INTO t VALUES(2, 'short')",
                      "DELETE FROM t WHERE k = 1"])
build("incremental.db", ["CREATE TABLE t(k INTEGER PRIMARY KEY, name TEXT, n INT, r REAL, b BLOB)"] + ROWS
      + ["DELETE FROM t WHERE k > 10"], ["PRAGMA auto_vacuum=INCREMENTAL"])
build("utf16.db", ["CREATE TABLE t(k INTEGER PRIMARY KEY, name TEXT, n INT, r REAL, b BLOB)"] + ROWS
      + ["DELETE FROM t WHERE k % 2 = 0"], ["PRAGMA encoding='UTF-16be'"])

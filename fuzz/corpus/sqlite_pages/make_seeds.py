#!/usr/bin/env python3
"""Writes the seed databases of the sqlite_pages fuzz target into this folder.

Each seed is a small database (512- or 1024-byte pages, under 16 KB) with deleted rows in
freeblocks, unallocated space and freelist pages, so the fuzzer starts from every kind of
region. Run it again to regenerate them; the output is deterministic but for the header's
SQLite version number.
"""
import os
import sys
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
from seed_database import fresh_database  # noqa: E402


def build(name, page_size, statements, encoding=None, auto_vacuum="NONE"):
    path = os.path.join(HERE, name)
    db = fresh_database(path, page_size, auto_vacuum, encoding)
    for sql in statements:
        db.execute(sql)
    db.close()
    return path


def people(rows):
    sql = ["CREATE TABLE people(id INTEGER PRIMARY KEY, name TEXT, age INTEGER, score REAL)", "BEGIN"]
    for i in range(1, rows + 1):
        sql.append("INSERT INTO people VALUES(%d, 'person-%d-%s', %d, %d.25)" % (i, i, "x" * (i % 13), i % 97, i))
    sql.append("COMMIT")
    return sql


def main():
    build("freeblocks.db", 512, people(120) + ["DELETE FROM people WHERE id % 3 = 0"])
    build("freelist.db", 1024, people(200) + ["DELETE FROM people WHERE id BETWEEN 20 AND 180"])
    build("incremental.db", 512, people(80) + ["DELETE FROM people WHERE id % 2 = 0"], auto_vacuum="INCREMENTAL")
    build("overflow.db", 1024, [
        "CREATE TABLE notes(id INTEGER PRIMARY KEY, title TEXT, body TEXT, modified REAL)",
        "INSERT INTO notes(title, body, modified) VALUES('short', 'body', 1.5)",
        "INSERT INTO notes(title, body, modified) VALUES('long', printf('%.*c', 2500, 'b'), 2.5)",
        "INSERT INTO notes(title, body, modified) VALUES('longer', printf('%.*c', 4000, 'c'), 3.5)",
        "DELETE FROM notes WHERE title LIKE 'long%'",
    ])
    build("utf16.db", 512, people(40) + ["DELETE FROM people WHERE id % 4 = 1"], encoding="UTF-16le")
    # As iOS 4 and 5 wrote files: no page count in the header.
    path = build("old_writer.db", 512, people(60) + ["DELETE FROM people WHERE id > 30"])
    with open(path, "r+b") as f:
        f.seek(28)
        f.write(struct.pack(">I", 0))
    # A file cut in the middle of a page.
    with open(os.path.join(HERE, "freeblocks.db"), "rb") as f:
        data = f.read()
    with open(os.path.join(HERE, "truncated.db"), "wb") as f:
        f.write(data[: len(data) // 2 + 77])


if __name__ == "__main__":
    main()

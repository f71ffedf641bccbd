#!/usr/bin/env python3
"""Writes the seed databases of the store_carvers fuzz target into this folder: a notes store
and a Safari history, each with the columns the carvers read, small pages and deleted rows
(note bodies compressed as the generator writes them), so the fuzzer starts where the carvers
find something. Run it again to regenerate them.
"""
import gzip
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
from seed_database import fresh_database  # noqa: E402
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "tools", "mkbackup"))
from mkbackup.databases.notes import note_protobuf  # noqa: E402
from mkbackup.rng import SeededRandom  # noqa: E402


def build(name, statements, rows=()):
    path = os.path.join(HERE, name)
    db = fresh_database(path, 1024)
    for sql in statements:
        db.execute(sql)
    for sql, values in rows:
        db.execute(sql, values)
    db.close()


def notes():
    rng = SeededRandom(7)
    rows = [("INSERT INTO Z_PRIMARYKEY VALUES(?, ?, 0, 40)", (5, "ICAttachment")),
            ("INSERT INTO Z_PRIMARYKEY VALUES(?, ?, 0, 40)", (12, "ICNote")),
            ("INSERT INTO ZICCLOUDSYNCINGOBJECT(Z_PK, Z_ENT, ZTITLE2) VALUES(1, 15, 'Notes')", ())]
    for pk in range(2, 12):
        text = "Title %d\nline \ufffc and more" % pk
        attachment = {"identifier": "ID-%d" % pk, "uti": "public.jpeg"}
        blob = gzip.compress(note_protobuf(text, rng, [attachment]), mtime=0)
        rows += [("INSERT INTO ZICCLOUDSYNCINGOBJECT(Z_PK, Z_ENT, ZTITLE1, ZNOTEDATA, ZCREATIONDATE1, ZFOLDER, "
                  "ZIDENTIFIER) VALUES(?, 12, ?, ?, ?, 1, ?)", (pk, "Title %d" % pk, pk, 500000000.5 + pk, "N-%d" % pk)),
                 ("INSERT INTO ZICCLOUDSYNCINGOBJECT(Z_PK, Z_ENT, ZNOTE, ZTYPEUTI, ZIDENTIFIER) VALUES(?, 5, ?, "
                  "'public.jpeg', ?)", (pk + 100, pk, "ID-%d" % pk)),
                 ("INSERT INTO ZICNOTEDATA(Z_PK, Z_ENT, Z_OPT, ZNOTE, ZDATA) VALUES(?, 19, 1, ?, ?)", (pk, pk, blob))]
    rows += [("DELETE FROM ZICNOTEDATA WHERE Z_PK % 3 = 0", ()),
             ("DELETE FROM ZICCLOUDSYNCINGOBJECT WHERE Z_PK % 3 = 0 OR ZNOTE % 3 = 0", ())]
    build("notestore.db", [
        "CREATE TABLE ZICCLOUDSYNCINGOBJECT ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
        "ZMEDIA INTEGER, ZNOTE INTEGER, ZFOLDER INTEGER, ZNOTEDATA INTEGER, ZCREATIONDATE1 TIMESTAMP, "
        "ZIDENTIFIER VARCHAR, ZTITLE VARCHAR, ZTYPEUTI VARCHAR, ZFILENAME VARCHAR, ZTITLE1 VARCHAR, ZTITLE2 VARCHAR )",
        "CREATE TABLE ZICNOTEDATA ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZNOTE INTEGER, "
        "ZCRYPTOINITIALIZATIONVECTOR BLOB, ZCRYPTOTAG BLOB, ZDATA BLOB )",
        "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER)"], rows)


def history():
    rows = []
    for item in range(1, 9):
        rows.append(("INSERT INTO history_items(id, url, visit_count, daily_visit_counts, "
                     "should_recompute_derived_visit_counts, visit_count_score) VALUES(?, ?, 1, x'', 0, 0)",
                     (item, "https://example.org/page/%d" % item)))
        for n in range(3):
            rows.append(("INSERT INTO history_visits(history_item, visit_time, title) VALUES(?, ?, ?)",
                         (item, 500000000.25 + item * 100 + n, "Page %d · %d" % (item, n))))
    rows += [("DELETE FROM history_visits WHERE id % 4 = 1 OR history_item = 3", ()),
             ("DELETE FROM history_items WHERE id = 3", ())]
    build("history.db", [
        "CREATE TABLE history_items (id INTEGER PRIMARY KEY AUTOINCREMENT,url TEXT NOT NULL UNIQUE,"
        "domain_expansion TEXT NULL,visit_count INTEGER NOT NULL,daily_visit_counts BLOB NOT NULL,"
        "weekly_visit_counts BLOB NULL,autocomplete_triggers BLOB NULL,"
        "should_recompute_derived_visit_counts INTEGER NOT NULL,visit_count_score INTEGER NOT NULL)",
        "CREATE TABLE history_visits (id INTEGER PRIMARY KEY AUTOINCREMENT,history_item INTEGER NOT NULL,"
        "visit_time REAL NOT NULL,title TEXT NULL,load_successful BOOLEAN NOT NULL DEFAULT 1)"], rows)


if __name__ == "__main__":
    notes()
    history()

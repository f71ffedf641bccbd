#!/usr/bin/env python3
"""Writes the seed files of the recording_pages fuzz target into this folder.

Small voice memo stores (512-byte pages) with deleted memos in freeblocks and freelist
pages: the older ZRECORDING table, the newer ZCLOUDRECORDING one, a UTF-16 copy and one
cut short. Run it again to regenerate them.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
from seed_database import fresh_database  # noqa: E402

OLDER = ("CREATE TABLE ZRECORDING ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
         "ZITUNESPERSISTENTID INTEGER, ZLABELPRESET INTEGER, ZPENDINGRESTORE INTEGER, ZSYNCED INTEGER, "
         "ZDATE TIMESTAMP, ZDURATION FLOAT, ZCUSTOMLABEL VARCHAR, ZPATH VARCHAR )")
CLOUD = ("CREATE TABLE ZCLOUDRECORDING ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
         "ZFLAGS INTEGER, ZSHAREDFLAGS INTEGER, ZFOLDER INTEGER, ZDATE TIMESTAMP, ZDURATION FLOAT, "
         "ZEVICTIONDATE TIMESTAMP, ZLOCALDURATION FLOAT, ZCUSTOMLABEL VARCHAR, ZCUSTOMLABELFORSORTING VARCHAR, "
         "ZENCRYPTEDTITLE VARCHAR, ZPATH VARCHAR, ZUNIQUEID VARCHAR, ZAUDIODIGEST BLOB, ZAUDIOFUTURE BLOB, "
         "ZAUDIOFUTUREUUID VARCHAR )")


def build(name, cloud, rows, delete_where, auto_vacuum="NONE", encoding=None, cut=None):
    path = os.path.join(HERE, name)
    db = fresh_database(path, 512, auto_vacuum, encoding)
    db.execute(CLOUD if cloud else OLDER)
    for i in range(rows):
        date, label = 484140302.5 + i * 977.25, "Memo %d: Grüße \"take\" 🎵" % i
        if cloud:
            db.execute("INSERT INTO ZCLOUDRECORDING (Z_ENT, Z_OPT, ZDATE, ZDURATION, ZEVICTIONDATE, ZCUSTOMLABEL, "
                       "ZENCRYPTEDTITLE, ZPATH, ZUNIQUEID, ZAUDIODIGEST) VALUES (1, 1, ?, ?, ?, ?, ?, ?, ?, ?)",
                       (date, 3.5 * i, date + 86400 if i % 4 == 1 else None, "New Recording %d" % i,
                        label, "20160101 1200%02d-%08X.m4a" % (i, i), "UUID-%d" % i, bytes(range(i, i + 20))))
        else:
            db.execute("INSERT INTO ZRECORDING (Z_ENT, Z_OPT, ZDATE, ZDURATION, ZCUSTOMLABEL, ZPATH) "
                       "VALUES (1, 1, ?, ?, ?, ?)",
                       (date, 3.5 * i, label, "/var/mobile/Media/Recordings/20160101 1200%02d.m4a" % i))
    db.execute("DELETE FROM %s WHERE %s" % ("ZCLOUDRECORDING" if cloud else "ZRECORDING", delete_where))
    db.close()
    if cut:
        with open(path, "r+b") as f:
            f.truncate(cut)


build("older.db", False, 12, "Z_PK % 3 = 0")
build("cloud-freelist.db", True, 30, "Z_PK > 5", auto_vacuum="INCREMENTAL")
build("cloud-utf16.db", True, 10, "Z_PK IN (2, 5)", encoding="UTF-16le")
build("cloud-truncated.db", True, 20, "Z_PK % 2 = 0", cut=1800)

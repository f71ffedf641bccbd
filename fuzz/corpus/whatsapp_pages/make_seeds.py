#!/usr/bin/env python3
"""Writes the seed files of the whatsapp_pages fuzz target into this folder.

Each seed is a small chat database with WhatsApp's own ZWAMESSAGE columns (512-byte pages,
under 16 KB) whose deleted messages sit in freeblocks, unallocated space and freelist
pages; one is cut short and one is UTF-16. Run it again to regenerate them.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
from seed_database import fresh_database  # noqa: E402

MESSAGE = ("CREATE TABLE ZWAMESSAGE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
           "ZCHILDMESSAGESDELIVEREDCOUNT INTEGER, ZCHILDMESSAGESPLAYEDCOUNT INTEGER, "
           "ZCHILDMESSAGESREADCOUNT INTEGER, ZDATAITEMVERSION INTEGER, ZDOCID INTEGER, "
           "ZENCRETRYCOUNT INTEGER, ZFILTEREDRECIPIENTCOUNT INTEGER, ZFLAGS INTEGER, "
           "ZGROUPEVENTTYPE INTEGER, ZISFROMME INTEGER, ZMESSAGEERRORSTATUS INTEGER, "
           "ZMESSAGESTATUS INTEGER, ZMESSAGETYPE INTEGER, ZSORT INTEGER, ZSPOTLIGHTSTATUS INTEGER, "
           "ZSTARRED INTEGER, ZCHATSESSION INTEGER, ZGROUPMEMBER INTEGER, ZLASTSESSION INTEGER, "
           "ZMEDIAITEM INTEGER, ZMESSAGEINFO INTEGER, ZPARENTMESSAGE INTEGER, ZMESSAGEDATE TIMESTAMP, "
           "ZSENTDATE TIMESTAMP, ZFROMJID VARCHAR, ZMEDIASECTIONID VARCHAR, ZPHASH VARCHAR, "
           "ZPUSHNAME VARCHAR, ZSTANZAID VARCHAR, ZTEXT VARCHAR, ZTOJID VARCHAR )")
SESSION = ("CREATE TABLE ZWACHATSESSION ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
           "ZCONTACTJID VARCHAR, ZPARTNERNAME VARCHAR )")


def build(name, rows, delete_where, auto_vacuum="NONE", encoding=None, cut=None):
    path = os.path.join(HERE, name)
    db = fresh_database(path, 512, auto_vacuum, encoding)
    db.execute(SESSION)
    db.execute(MESSAGE)
    db.execute("INSERT INTO ZWACHATSESSION VALUES (1, 4, 1, '4915112345678@s.whatsapp.net', 'Jürgen')")
    db.execute("INSERT INTO ZWACHATSESSION VALUES (2, 4, 1, '120363025246125488@g.us', 'Gruppe')")
    for i in range(rows):
        jid = "4915112345678@s.whatsapp.net" if i % 3 else "120363025246125488@g.us"
        incoming = i % 2 == 0
        db.execute("INSERT INTO ZWAMESSAGE (Z_ENT, Z_OPT, ZISFROMME, ZMESSAGETYPE, ZCHATSESSION, "
                   "ZMESSAGEDATE, ZFROMJID, ZSTANZAID, ZTEXT, ZTOJID) VALUES (9, 2, ?, ?, ?, ?, ?, ?, ?, ?)",
                   (0 if incoming else 1, 4 if i % 7 == 3 else 0, 1 if i % 3 else 2,
                    484140302.5 + i * 977.25, jid if incoming else None, "3EB0%08X" % i,
                    "message %d: Grüße \"quoted\" 😊" % i, None if incoming else jid))
    db.execute("DELETE FROM ZWAMESSAGE WHERE " + delete_where)
    db.close()
    if cut:
        with open(path, "r+b") as f:
            f.truncate(cut)


build("freeblocks.db", 12, "Z_PK % 3 = 0")
build("freelist.db", 30, "Z_PK > 5", auto_vacuum="INCREMENTAL")
build("utf16.db", 10, "Z_PK IN (2, 5)", encoding="UTF-16le")
build("truncated.db", 20, "Z_PK % 2 = 0", cut=1800)

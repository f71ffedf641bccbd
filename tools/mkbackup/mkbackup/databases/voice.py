"""Voice memos and voicemail: "Media/Recordings/Recordings.db" (MediaDomain) with the ".m4a"
recordings beside it, and "Library/Voicemail/voicemail.db" (HomeDomain) with one ".amr" file
per message named after its ROWID. From system 13 on the memos live in "CloudRecordings.db"
instead (see voice_cloud.py).

Some memos have no custom label, one names a file the backup does not hold, and a few carry
paths a careless reader could follow out of its folder. Deleted memos and voicemails are
removed with an ordinary DELETE; the truth lists the live rows (which are all a reader shows)
and the deleted ones with "intact".
"""

import time

from . import register, Contribution
from . import voice_cloud
from .cell_bytes import survives
from ..properties import version_key
from .sqlite_file import DatabaseFile, database_entry
from .. import media
from ..entries import BackupEntry

MAC_EPOCH = 978307200

RECORDINGS = ("MediaDomain", "Media/Recordings/Recordings.db")
VOICEMAIL = ("HomeDomain", "Library/Voicemail/voicemail.db")

RECORDING_TABLES = """
CREATE TABLE ZRECORDING ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZITUNESPERSISTENTID INTEGER, ZLABELPRESET INTEGER, ZPENDINGRESTORE INTEGER, ZSYNCED INTEGER, ZDATE TIMESTAMP, ZDURATION FLOAT, ZCUSTOMLABEL VARCHAR, ZPATH VARCHAR );
CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);
CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);
"""
VOICEMAIL_TABLES = """
CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));
CREATE TABLE voicemail (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, remote_uid INTEGER, date INTEGER, token TEXT, sender TEXT, callback_num TEXT, duration INTEGER, expiration INTEGER, trashed_date INTEGER, flags INTEGER);
"""

LABELS = ["Vorlesung Mathe", "Zoë's song 🎵", 'Interview "take 2"', "会議メモ", "<script>", "Idea, rough", None, ""]
# Paths of memos whose file the backup does not hold, among them hostile ones.
ODD_PATHS = ["/var/mobile/Media/Recordings/../../../../etc/passwd", "..\\..\\evil.m4a",
             "/var/mobile/Media/Recordings/", "no-separator.m4a", "/var/mobile/Media/Recordings/missing.m4a"]
SENDERS = ["+15713083236", "+44 7700 900123", "", None, "Anna Müller", "+81 90-1234-5678"]
SIZES = {"sample": (6, 2, 4, 1), "small": (5, 2, 4, 2), "large": (60, 10, 40, 10)}


def _recordings(context, count, deleted_count):
    rng = context.rng.derive("recordings")
    db = DatabaseFile(page_size=4096, auto_vacuum=2, journal_mode="wal")
    db.script(RECORDING_TABLES)
    entries, rows, removed = [], [], []
    for i in range(count + deleted_count + len(ODD_PATHS)):
        when = context.base_time - rng.randint(3600, 300 * 86400)
        stamp = time.strftime("%Y%m%d %H%M%S", time.gmtime(when))
        odd = i >= count + deleted_count
        path = ODD_PATHS[i - count - deleted_count] if odd else f"/var/mobile/Media/Recordings/{stamp}-{i}.m4a"
        row = {"Z_PK": i + 1, "Z_ENT": 1, "Z_OPT": 1, "ZITUNESPERSISTENTID": rng.randint(1, 2 ** 62),
               "ZLABELPRESET": 0, "ZPENDINGRESTORE": 0, "ZSYNCED": 0,
               "ZDATE": when - MAC_EPOCH + rng.randint(0, 999) / 1000.0,
               "ZDURATION": round(rng.uniform(1.0, 900.0), 3), "ZCUSTOMLABEL": rng.choice(LABELS), "ZPATH": path}
        db.insert("ZRECORDING", row)
        rows.append(row)
        if not odd:
            name = path.rsplit("/", 1)[-1]
            seconds = max(1, int(row["ZDURATION"]) % 5)
            entries.append(BackupEntry(
                "MediaDomain", f"Media/Recordings/{name}",
                content=(lambda r=rng.derive(name), s=seconds, w=when: media.iso_media(r, "m4a", 2048, w, s)),
                mtime=when))
    doomed = rows[count:count + deleted_count]
    for row in doomed:
        values = list(db.db.execute("SELECT * FROM ZRECORDING WHERE Z_PK = ?", (row["Z_PK"],)).fetchone())
        values[0] = None
        db.delete("ZRECORDING", "Z_PK = ?", (row["Z_PK"],))
        removed.append((row, values))
    db.insert("Z_PRIMARYKEY", {"Z_ENT": 1, "Z_NAME": "Recording", "Z_SUPER": 0, "Z_MAX": len(rows)})
    data = db.finish()

    def truth(row):
        name = row["ZPATH"].rsplit("/", 1)[-1] if "/" in row["ZPATH"] else ""
        has_file = row["ZPATH"].startswith("/var/mobile/Media/Recordings/") and name.endswith(".m4a") \
            and ".." not in row["ZPATH"] and name != "missing.m4a"
        return {"date": row["ZDATE"], "duration": row["ZDURATION"], "label": row["ZCUSTOMLABEL"],
                "path": row["ZPATH"], "file": f"Media/Recordings/{name}" if has_file else None}

    live = [truth(r) for r in rows if r not in doomed]
    deleted = [dict(truth(r), intact=survives(data, v)) for r, v in removed]
    # Files of deleted memos stay in the backup only when the device had not removed them yet.
    entries = [e for e in entries if not any(e.path.endswith(d["ZPATH"].rsplit("/", 1)[-1]) for d in doomed)]
    entries.insert(0, database_entry(*RECORDINGS, data, context.base_time - 400))
    return entries, {"domain": RECORDINGS[0], "path": RECORDINGS[1], "live": live, "deleted": deleted}


def _voicemail(context, count, deleted_count):
    rng = context.rng.derive("voicemail")
    db = DatabaseFile(page_size=4096, auto_vacuum=0, journal_mode="delete")
    db.script(VOICEMAIL_TABLES)
    db.insert("_SqliteDatabaseProperties", {"key": "_ClientVersion", "value": "11"})
    entries, rowids = [], []
    for i in range(count + deleted_count):
        when = context.base_time - rng.randint(3600, 700 * 86400)
        trashed = when + rng.randint(60, 86400) if i % 3 == 2 else 0
        rowid = db.insert("voicemail", {
            "remote_uid": 100 + i, "date": when, "token": rng.hex(16), "sender": rng.choice(SENDERS),
            "callback_num": None, "duration": rng.randint(0, 240), "expiration": when + 30 * 86400,
            "trashed_date": trashed, "flags": 11 if trashed else 3})
        rowids.append(rowid)
        entries.append(BackupEntry("HomeDomain", f"Library/Voicemail/{rowid}.amr",
                                   content=b"#!AMR\n" + rng.bytes(320), mtime=when))
    removed = []
    for rowid in rowids[count:]:
        values = list(db.db.execute("SELECT * FROM voicemail WHERE ROWID = ?", (rowid,)).fetchone())
        values[0] = None
        row = db.delete("voicemail", "ROWID = ?", (rowid,))[0]
        removed.append((row, values))
    live = [{"rowid": r["rowid"], "date": r["date"], "sender": r["sender"], "duration": r["duration"],
             "trashed_date": r["trashed_date"]} for r in db.rows("voicemail")]
    data = db.finish()
    deleted = [{"rowid": r["rowid"], "date": r["date"], "sender": r["sender"], "intact": survives(data, v)}
               for r, v in removed]
    entries = [e for e in entries if not any(e.path.endswith(f"/{r['rowid']}.amr") for r, _ in removed)]
    entries.insert(0, database_entry(*VOICEMAIL, data, context.base_time - 500))
    return entries, {"domain": VOICEMAIL[0], "path": VOICEMAIL[1], "live": live, "deleted": deleted}


@register("voice")
def voice(context):
    memos, memos_deleted, mails, mails_deleted = SIZES.get(context.profile, SIZES["small"])
    if version_key(context.props.product_version) >= version_key("13"):
        memo_entries, memo_truth = voice_cloud.cloud_recordings(context, memos, memos_deleted)
    else:
        memo_entries, memo_truth = _recordings(context, memos, memos_deleted)
    mail_entries, mail_truth = _voicemail(context, mails, mails_deleted)
    return Contribution(entries=memo_entries + mail_entries,
                        truth={"recordings": memo_truth, "voicemail": mail_truth})

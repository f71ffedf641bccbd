"""Voice memos of system 13 and later: "CloudRecordings.db", a Core Data store with one
ZCLOUDRECORDING row per memo, and the ".m4a" files beside it.

System 13 keeps it at Media/Recordings/CloudRecordings.db (MediaDomain) and names each
recording by its full device path; from 14 on it moved to the Voice Memos group container
(AppDomainGroup-group.com.apple.VoiceMemos.shared, Recordings/CloudRecordings.db) and ZPATH
holds the file name relative to that folder. The title the app shows is ZENCRYPTEDTITLE
(plain text despite its name); ZCUSTOMLABEL keeps the label of older systems. Memos the user
deletes first go to "Recently Deleted" (ZEVICTIONDATE set, the row and file stay); emptying
it removes the row with an ordinary DELETE, which leaves the cell in free space.

Columns stand in Core Data's order (Z_PK, Z_ENT, Z_OPT, integers, to-one keys, dates and
floats, strings, blobs). System 14 added folders (ZFOLDER and the ZFOLDER table), 17 and
18 the playback settings (ZPLAYBACKSPEED, ZSILENCEREMOVERENABLED, ZSKIPSILENCEENABLED) and
the enhancement flag; the exact order of those newer columns is our reconstruction from
column lists, not a copy of a device file.
"""

import time

from .cell_bytes import survives
from .sqlite_file import DatabaseFile, database_entry, text_survives, wal_companion
from .. import media
from ..entries import BackupEntry
from ..properties import version_key

MAC_EPOCH = 978307200
GROUP_DOMAIN = "AppDomainGroup-group.com.apple.VoiceMemos.shared"

CORE_DATA = """
CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);
CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);
CREATE TABLE Z_MODELCACHE (Z_CONTENT BLOB);
"""

RECORDING_13 = """
CREATE TABLE ZCLOUDRECORDING ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZFLAGS INTEGER, ZSHAREDFLAGS INTEGER, ZDATE TIMESTAMP, ZDURATION FLOAT, ZEVICTIONDATE TIMESTAMP, ZLOCALDURATION FLOAT, ZCUSTOMLABEL VARCHAR, ZCUSTOMLABELFORSORTING VARCHAR, ZENCRYPTEDTITLE VARCHAR, ZPATH VARCHAR, ZUNIQUEID VARCHAR, ZAUDIODIGEST BLOB, ZAUDIOFUTURE BLOB, ZAUDIOFUTUREUUID VARCHAR );
"""
RECORDING_16 = """
CREATE TABLE ZCLOUDRECORDING ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZFLAGS INTEGER, ZSHAREDFLAGS INTEGER, ZFOLDER INTEGER, ZDATE TIMESTAMP, ZDURATION FLOAT, ZEVICTIONDATE TIMESTAMP, ZLOCALDURATION FLOAT, ZCUSTOMLABEL VARCHAR, ZCUSTOMLABELFORSORTING VARCHAR, ZENCRYPTEDTITLE VARCHAR, ZPATH VARCHAR, ZUNIQUEID VARCHAR, ZAUDIODIGEST BLOB, ZAUDIOFUTURE BLOB, ZAUDIOFUTUREUUID VARCHAR );
CREATE TABLE ZFOLDER ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCOUNTOFRECORDINGS INTEGER, ZRANK INTEGER, ZENCRYPTEDNAME VARCHAR, ZUUID VARCHAR );
"""
RECORDING_18 = """
CREATE TABLE ZCLOUDRECORDING ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZFLAGS INTEGER, ZSHAREDFLAGS INTEGER, ZSILENCEREMOVERENABLED INTEGER, ZSKIPSILENCEENABLED INTEGER, ZFOLDER INTEGER, ZDATE TIMESTAMP, ZDURATION FLOAT, ZEVICTIONDATE TIMESTAMP, ZLOCALDURATION FLOAT, ZPLAYBACKSPEED FLOAT, ZCUSTOMLABEL VARCHAR, ZCUSTOMLABELFORSORTING VARCHAR, ZENCRYPTEDTITLE VARCHAR, ZPATH VARCHAR, ZUNIQUEID VARCHAR, ZAUDIODIGEST BLOB, ZAUDIOFUTURE BLOB, ZAUDIOFUTUREUUID VARCHAR );
CREATE TABLE ZFOLDER ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCOUNTOFRECORDINGS INTEGER, ZRANK INTEGER, ZENCRYPTEDNAME VARCHAR, ZUUID VARCHAR );
"""

TITLES = ["Vorlesung Mathe", "Zoë's song 🎵", 'Interview "take 2"', "会議メモ", "<script>", "Idea, rough",
          "Band: 12/3 rehearsal", None]


def layout_of(version):
    key = version_key(version)
    if key < version_key("14"):
        return "ios13"
    return "ios18" if key >= version_key("18") else "ios16"


def _place(layout, name):
    """(backup domain, backup path, ZPATH) of one recording."""
    if layout == "ios13":
        return "MediaDomain", f"Media/Recordings/{name}", f"/var/mobile/Media/Recordings/{name}"
    return GROUP_DOMAIN, f"Recordings/{name}", name


def _schema(layout):
    return {"ios13": RECORDING_13, "ios16": RECORDING_16, "ios18": RECORDING_18}[layout] + CORE_DATA


def _row(layout, rng, index, when, name):
    title = TITLES[index % len(TITLES)]
    stamp = time.strftime("%Y%m%d %H%M%S", time.gmtime(when))
    # The app's default name of a memo is where it was recorded, or "New Recording N".
    label = f"New Recording {index + 1}" if index % 3 else None
    row = {"Z_ENT": 1, "Z_OPT": rng.randint(1, 5), "ZFLAGS": 0, "ZSHAREDFLAGS": 0,
           "ZDATE": when - MAC_EPOCH + rng.randint(0, 999) / 1000.0, "ZDURATION": round(rng.uniform(1.0, 900.0), 3),
           "ZEVICTIONDATE": None, "ZCUSTOMLABEL": label, "ZCUSTOMLABELFORSORTING": label,
           "ZENCRYPTEDTITLE": None if layout == "ios13" else title, "ZPATH": _place(layout, name)[2],
           "ZUNIQUEID": rng.uuid_text(), "ZAUDIODIGEST": rng.bytes(20), "ZAUDIOFUTURE": None,
           "ZAUDIOFUTUREUUID": None}
    if layout == "ios13":
        row["ZCUSTOMLABEL"] = row["ZCUSTOMLABELFORSORTING"] = title if index % 4 else stamp
    row["ZLOCALDURATION"] = row["ZDURATION"]
    if layout != "ios13":
        row["ZFOLDER"] = None
    if layout == "ios18":
        row.update({"ZSILENCEREMOVERENABLED": index % 2, "ZSKIPSILENCEENABLED": 0, "ZPLAYBACKSPEED": 1.0})
    return row


def _truth(layout, row, has_file):
    label = row["ZENCRYPTEDTITLE"] or row["ZCUSTOMLABEL"] or ""
    name = row["ZPATH"].rsplit("/", 1)[-1]
    return {"date": row["ZDATE"], "duration": row["ZDURATION"], "label": label, "path": row["ZPATH"],
            "file": _place(layout, name)[1] if has_file else None,
            "recently_deleted": row["ZEVICTIONDATE"] is not None}


def _wal_history(db_rows, data, rng):
    """The last changes, not yet checkpointed: a memo recorded and deleted again (only in
    superseded frames of the log), one retitled, one older memo deleted."""
    kept = [r for r in db_rows if r["ZEVICTIONDATE"] is None]
    retitled, gone = kept[0], kept[1]
    added = dict(gone, ZPATH=gone["ZPATH"].replace(".m4a", "-again.m4a"), ZUNIQUEID=rng.uuid_text())
    added.pop("Z_PK")
    names = list(added)
    insert = (f"INSERT INTO ZCLOUDRECORDING ({','.join(names)}) VALUES ({','.join('?' * len(names))})",
              [added[n] for n in names])
    retitled_title = (retitled["ZENCRYPTEDTITLE"] or retitled["ZCUSTOMLABEL"] or "") + " (later)"
    column = "ZENCRYPTEDTITLE" if retitled["ZENCRYPTEDTITLE"] else "ZCUSTOMLABEL"
    retitle = (f"UPDATE ZCLOUDRECORDING SET {column} = ? WHERE Z_PK = ?", (retitled_title, retitled["Z_PK"]))
    delete = [("DELETE FROM ZCLOUDRECORDING WHERE ZPATH = ?", (added["ZPATH"],)),
              ("DELETE FROM ZCLOUDRECORDING WHERE Z_PK = ?", (gone["Z_PK"],))]
    wal = wal_companion(data, [[insert], [retitle], delete], rng, keep_deleted=True)
    retitled[column] = retitled_title
    return wal, [added, gone]


def cloud_recordings(context, count, deleted_count):
    """Entries and truth of the store, in the layout of the backup's system version."""
    layout = layout_of(context.props.product_version)
    rng = context.rng.derive("cloud-recordings")
    db = DatabaseFile(page_size=4096, auto_vacuum=2, journal_mode="wal")
    db.script(_schema(layout))
    if layout != "ios13":
        db.insert("ZFOLDER", {"Z_ENT": 2, "Z_OPT": 1, "ZCOUNTOFRECORDINGS": 0, "ZRANK": 0,
                              "ZENCRYPTEDNAME": "Uni", "ZUUID": rng.uuid_text()})
    rows, files = [], {}
    db.db.execute("BEGIN")
    for i in range(count + deleted_count + 2):
        when = context.base_time - rng.randint(3600, 300 * 86400)
        name = time.strftime("%Y%m%d %H%M%S", time.gmtime(when)) + f"-{rng.hex(8).upper()}.m4a"
        row = _row(layout, rng, i, when, name)
        if layout != "ios13" and i % 5 == 1:
            row["ZFOLDER"] = 1
        if i >= count + deleted_count:
            # In "Recently Deleted": still a row and a file, marked for eviction.
            row["ZEVICTIONDATE"] = row["ZDATE"] + 86400.0
        row["Z_PK"] = db.insert("ZCLOUDRECORDING", row)
        rows.append(row)
        seconds = max(1, int(row["ZDURATION"]) % 5)
        domain, path, _ = _place(layout, name)
        files[row["Z_PK"]] = BackupEntry(
            domain, path, content=(lambda r=rng.derive(name), s=seconds, w=when: media.iso_media(r, "m4a", 2048, w, s)),
            mtime=when)
    db.db.execute("COMMIT")
    doomed = rows[count:count + deleted_count]
    removed = []
    for row in doomed:
        values = list(db.db.execute("SELECT * FROM ZCLOUDRECORDING WHERE Z_PK = ?", (row["Z_PK"],)).fetchone())
        values[0] = None
        db.delete("ZCLOUDRECORDING", "Z_PK = ?", (row["Z_PK"],))
        removed.append((row, values))
    db.insert("Z_PRIMARYKEY", {"Z_ENT": 1, "Z_NAME": "CloudRecording", "Z_SUPER": 0, "Z_MAX": len(rows)})
    data = db.finish()
    wal, wal_removed = None, []
    if context.wal_history:
        wal, wal_removed = _wal_history([r for r in rows if r not in doomed], data, rng)
    # The device removes the file with the row; the first deleted memo's file was not yet gone.
    keep_file = {doomed[0]["Z_PK"]} if doomed else set()
    gone_pks = {r["Z_PK"] for r in doomed if r["Z_PK"] not in keep_file} | {r.get("Z_PK") for r in wal_removed}
    live = [_truth(layout, r, True) for r in rows if r not in doomed and r not in wal_removed]
    deleted = [dict(_truth(layout, r, r["Z_PK"] in keep_file), intact=survives(data, v)) for r, v in removed]
    others = [r["ZPATH"] for r in rows]
    for r in wal_removed:
        truth = _truth(layout, r, r.get("Z_PK") in keep_file)
        deleted.append(dict(truth, intact=text_survives(wal, r["ZPATH"], others) or text_survives(data, r["ZPATH"], others)))
    domain, path = ("MediaDomain", "Media/Recordings/CloudRecordings.db") if layout == "ios13" else \
        (GROUP_DOMAIN, "Recordings/CloudRecordings.db")
    entries = [database_entry(domain, path, data, context.base_time - 400)]
    if wal is not None:
        entries.append(database_entry(domain, path + "-wal", wal, context.base_time - 400))
    entries += [f for pk, f in files.items() if pk not in gone_pks]
    return entries, {"domain": domain, "path": path, "layout": layout, "live": live, "deleted": deleted}

"""Notes: the older store "Library/Notes/notes.sqlite" (HomeDomain) with HTML bodies, and from
system 9 on also the newer "NoteStore.sqlite" (AppDomainGroup-group.com.apple.notes), whose note
text is a gzip-compressed protocol-buffer message in ZICNOTEDATA.ZDATA.

The older store's ZNOTE gained ZCONTAINSCJK with system 7. Notes are deleted with an ordinary
DELETE of the note and its body; later notes reuse some of the freed space. The truth gives every
live note with the plain text its body stands for, and every deleted note with "intact": whether
its body's values still stand in the finished file.
"""

import gzip

from . import register, Contribution
from .cell_bytes import survives
from .sqlite_file import DatabaseFile, database_entry, wal_companion
from ..properties import version_key

MAC_EPOCH = 978307200

OLD_STORE = ("HomeDomain", "Library/Notes/notes.sqlite")
NEW_STORE = ("AppDomainGroup-group.com.apple.notes", "NoteStore.sqlite")

ZNOTE_IOS6 = ("CREATE TABLE ZNOTE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCONTENTTYPE INTEGER, "
              "ZDELETEDFLAG INTEGER, ZEXTERNALFLAGS INTEGER, ZEXTERNALSEQUENCENUMBER INTEGER, "
              "ZEXTERNALSERVERINTID INTEGER, ZINTEGERID INTEGER, ZISBOOKKEEPINGENTRY INTEGER, ZBODY INTEGER, "
              "ZSTORE INTEGER, ZCREATIONDATE TIMESTAMP, ZMODIFICATIONDATE TIMESTAMP, ZAUTHOR VARCHAR, "
              "ZGUID VARCHAR, ZSERVERID VARCHAR, ZSUMMARY VARCHAR, ZTITLE VARCHAR );")
ZNOTE_IOS7 = ZNOTE_IOS6.replace("Z_OPT INTEGER, ", "Z_OPT INTEGER, ZCONTAINSCJK INTEGER, ")
OLD_TABLES = """
CREATE TABLE ZACCOUNT ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZTYPE INTEGER, ZDEFAULTSTORE INTEGER, ZACCOUNTIDENTIFIER VARCHAR, ZCONSTRAINTSPATH VARCHAR, ZNAME VARCHAR );
CREATE TABLE ZNEXTID ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCOUNTER INTEGER );
%s
CREATE TABLE ZNOTEBODY ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZOWNER INTEGER, ZCONTENT VARCHAR, ZEXTERNALCONTENTREF VARCHAR, ZEXTERNALREPRESENTATION BLOB );
CREATE TABLE ZNOTECHANGE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCHANGETYPE INTEGER, ZSTORE INTEGER, ZNOTEINTEGERIDS BLOB, ZNOTESERVERIDS BLOB, ZNOTESERVERINTIDS BLOB );
CREATE TABLE ZPROPERTY ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZPROPERTYKEY VARCHAR, ZPROPERTYVALUE BLOB );
CREATE TABLE ZSTORE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZACCOUNT INTEGER, ZEXTERNALIDENTIFIER VARCHAR, ZNAME VARCHAR, ZSYNCANCHOR VARCHAR );
CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);
CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);
"""
NEW_TABLES = """
CREATE TABLE ZICCLOUDSTATE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCURRENTLOCALVERSION INTEGER, ZINCLOUD INTEGER, ZLATESTVERSIONSYNCEDTOCLOUD INTEGER, ZCLOUDSYNCINGOBJECT INTEGER, Z2_CLOUDSYNCINGOBJECT INTEGER, ZLOCALVERSIONDATE TIMESTAMP );
CREATE TABLE ZICCLOUDSYNCINGOBJECT ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCRYPTOITERATIONCOUNT INTEGER, ZISPASSWORDPROTECTED INTEGER, ZMARKEDFORDELETION INTEGER, ZMINIMUMSUPPORTEDNOTESVERSION INTEGER, ZNEEDSINITIALFETCHFROMCLOUD INTEGER, ZNEEDSTOBEFETCHEDFROMCLOUD INTEGER, ZNEEDSTOSAVEUSERSPECIFICRECORD INTEGER, ZCLOUDSTATE INTEGER, ZACCOUNT INTEGER, ZCHECKEDFORLOCATION INTEGER, ZFILESIZE INTEGER, ZHANDWRITINGSUMMARYVERSION INTEGER, ZHASMARKUPDATA INTEGER, ZIMAGECLASSIFICATIONSUMMARYVERSION INTEGER, ZIMAGEFILTERTYPE INTEGER, ZNEEDSINITIALRELATIONSHIPSETUP INTEGER, ZOCRSUMMARYVERSION INTEGER, ZORIENTATION INTEGER, ZSECTION INTEGER, ZURLEXPIRED INTEGER, ZLOCATION INTEGER, ZMEDIA INTEGER, ZNOTE INTEGER, ZNOTEUSINGTITLEFORNOTETITLE INTEGER, ZPARENTATTACHMENT INTEGER, ZAPPEARANCETYPE INTEGER, ZSCALEWHENDRAWING INTEGER, ZVERSION INTEGER, ZVERSIONOUTOFDATE INTEGER, ZATTACHMENT INTEGER, ZSTATE INTEGER, ZACCOUNT1 INTEGER, ZACCOUNT2 INTEGER, ZMENTIONNOTIFICATIONATTEMPTCOUNT INTEGER, ZMENTIONNOTIFICATIONSTATE INTEGER, ZNOTE1 INTEGER, ZPARENTATTACHMENT1 INTEGER, ZTYPE INTEGER, ZACCOUNT3 INTEGER, ZATTACHMENT1 INTEGER, ZATTACHMENTVIEWTYPE INTEGER, ZISPINNED INTEGER, ZISSYSTEMPAPER INTEGER, ZLEGACYNOTEWASPLAINTEXT INTEGER, ZNOTEHASCHANGES INTEGER, ZPAPERSTYLETYPE INTEGER, ZPREFERREDBACKGROUNDTYPE INTEGER, ZACCOUNT4 INTEGER, ZFOLDER INTEGER, ZNOTEDATA INTEGER, ZTITLESOURCEATTACHMENT INTEGER, ZISHIDDENNOTECONTAINER INTEGER, ZSORTORDER INTEGER, ZOWNER INTEGER, ZACCOUNTTYPE INTEGER, ZDIDCHOOSETOMIGRATE INTEGER, ZDIDFINISHMIGRATION INTEGER, ZDIDMIGRATEONMAC INTEGER, ZSERVERSIDEUPDATETASKFAILURECOUNT INTEGER, ZSTOREDATASEPARATELY INTEGER, ZACCOUNTDATA INTEGER, ZCUSTOMNOTESORTTYPEVALUE INTEGER, ZFOLDERTYPE INTEGER, ZIMPORTEDFROMLEGACY INTEGER, ZACCOUNT5 INTEGER, ZPARENT INTEGER, ZCREATIONDATE TIMESTAMP, ZCROPPINGQUADBOTTOMLEFTX FLOAT, ZCROPPINGQUADBOTTOMLEFTY FLOAT, ZCROPPINGQUADBOTTOMRIGHTX FLOAT, ZCROPPINGQUADBOTTOMRIGHTY FLOAT, ZCROPPINGQUADTOPLEFTX FLOAT, ZCROPPINGQUADTOPLEFTY FLOAT, ZCROPPINGQUADTOPRIGHTX FLOAT, ZCROPPINGQUADTOPRIGHTY FLOAT, ZDURATION FLOAT, ZMODIFICATIONDATE TIMESTAMP, ZORIGINX FLOAT, ZORIGINY FLOAT, ZPREVIEWUPDATEDATE TIMESTAMP, ZSIZEHEIGHT FLOAT, ZSIZEWIDTH FLOAT, ZHEIGHT FLOAT, ZMODIFIEDDATE TIMESTAMP, ZSCALE FLOAT, ZWIDTH FLOAT, ZSTATEMODIFICATIONDATE TIMESTAMP, ZCREATIONDATE1 TIMESTAMP, ZCREATIONDATE2 TIMESTAMP, ZMODIFICATIONDATEATIMPORT TIMESTAMP, ZCREATIONDATE3 TIMESTAMP, ZFOLDERMODIFICATIONDATE TIMESTAMP, ZLASTACTIVITYRECENTUPDATESVIEWEDDATE TIMESTAMP, ZLASTACTIVITYSUMMARYVIEWEDDATE TIMESTAMP, ZLASTATTRIBUTIONSVIEWEDDATE TIMESTAMP, ZLASTNOTIFIEDDATE TIMESTAMP, ZLASTOPENEDDATE TIMESTAMP, ZLASTVIEWEDMODIFICATIONDATE TIMESTAMP, ZLEGACYMODIFICATIONDATEATIMPORT TIMESTAMP, ZMODIFICATIONDATE1 TIMESTAMP, ZCUSTOMNOTESORTTYPEMODIFICATIONDATE TIMESTAMP, ZDATEFORLASTTITLEMODIFICATION TIMESTAMP, ZPARENTMODIFICATIONDATE TIMESTAMP, ZIDENTIFIER VARCHAR, ZPASSWORDHINT VARCHAR, ZZONEOWNERNAME VARCHAR, ZADDITIONALINDEXABLETEXT VARCHAR, ZFALLBACKSUBTITLEIOS VARCHAR, ZFALLBACKSUBTITLEMAC VARCHAR, ZFALLBACKTITLE VARCHAR, ZHANDWRITINGSUMMARY VARCHAR, ZIMAGECLASSIFICATIONSUMMARY VARCHAR, ZOCRSUMMARY VARCHAR, ZREMOTEFILEURLSTRING VARCHAR, ZSUMMARY VARCHAR, ZTITLE VARCHAR, ZTYPEUTI VARCHAR, ZURLSTRING VARCHAR, ZUSERTITLE VARCHAR, ZDEVICEIDENTIFIER VARCHAR, ZDISPLAYTEXT VARCHAR, ZSTANDARDIZEDCONTENT VARCHAR, ZALTTEXT VARCHAR, ZTOKENCONTENTIDENTIFIER VARCHAR, ZTYPEUTI1 VARCHAR, ZCONTENTHASHATIMPORT VARCHAR, ZFILENAME VARCHAR, ZLEGACYCONTENTHASHATIMPORT VARCHAR, ZLEGACYIMPORTDEVICEIDENTIFIER VARCHAR, ZLEGACYMANAGEDOBJECTIDURIREPRESENTATION VARCHAR, ZSELECTEDINKCOLORSTRING VARCHAR, ZSELECTEDINKIDENTIFIER VARCHAR, ZSNIPPET VARCHAR, ZTHUMBNAILATTACHMENTIDENTIFIER VARCHAR, ZTITLE1 VARCHAR, ZACCOUNTNAMEFORACCOUNTLISTSORTING VARCHAR, ZNESTEDTITLEFORSORTING VARCHAR, ZNAME VARCHAR, ZSERVERSIDEUPDATETASKLASTATTEMPTEDBUILD VARCHAR, ZSERVERSIDEUPDATETASKLASTATTEMPTEDVERSION VARCHAR, ZSERVERSIDEUPDATETASKLASTCOMPLETEDBUILD VARCHAR, ZSERVERSIDEUPDATETASKLASTCOMPLETEDVERSION VARCHAR, ZUSERRECORDNAME VARCHAR, ZSMARTFOLDERQUERYJSON VARCHAR, ZTITLE2 VARCHAR, ZPAPERASSETSURL VARCHAR, ZPAPERDATABASEURL VARCHAR, ZREPLICAIDTOBUNDLEIDENTIFIER BLOB, ZACTIVITYEVENTSDATA BLOB, ZASSETCRYPTOINITIALIZATIONVECTOR BLOB, ZASSETCRYPTOTAG BLOB, ZCRYPTOINITIALIZATIONVECTOR BLOB, ZCRYPTOSALT BLOB, ZCRYPTOTAG BLOB, ZCRYPTOWRAPPEDKEY BLOB, ZENCRYPTEDVALUESJSON BLOB, ZREPLICAIDTONOTESVERSIONDATA BLOB, ZSERVERRECORDDATA BLOB, ZSERVERSHAREDATA BLOB, ZUNAPPLIEDENCRYPTEDRECORD BLOB, ZUSERSPECIFICSERVERRECORDDATA BLOB, ZMERGEABLEDATA BLOB, ZFALLBACKIMAGECRYPTOINITIALIZATIONVECTOR BLOB, ZFALLBACKIMAGECRYPTOTAG BLOB, ZLINKPRESENTATIONARCHIVEDMETADATA BLOB, ZMARKUPMODELDATA BLOB, ZMERGEABLEDATA1 BLOB, ZMETADATADATA BLOB, ZSYNAPSEDATA BLOB, ZCRYPTOMETADATAINITIALIZATIONVECTOR BLOB, ZCRYPTOMETADATATAG BLOB, ZENCRYPTEDMETADATA BLOB, ZMETADATA BLOB, ZLASTNOTIFIEDTIMESTAMPDATA BLOB, ZLASTVIEWEDTIMESTAMPDATA BLOB, ZREPLICAIDTOUSERIDDICTDATA BLOB, ZCRYPTOVERIFIER BLOB, ZSERVERSIDEUPDATETASKCONTINUATIONTOKEN BLOB, ZMERGEABLEDATA2 BLOB );
CREATE TABLE ZICLOCATION ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZPLACEUPDATED INTEGER, ZATTACHMENT INTEGER, ZLATITUDE FLOAT, ZLONGITUDE FLOAT, ZPLACEMARKDATA BLOB );
CREATE TABLE ZICNOTEDATA ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZNOTE INTEGER, ZCRYPTOINITIALIZATIONVECTOR BLOB, ZCRYPTOTAG BLOB, ZDATA BLOB );
CREATE TABLE ZICSERVERCHANGETOKEN ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZDATABASESCOPE INTEGER, ZACCOUNT INTEGER, ZOWNERNAME VARCHAR, ZZONENAME VARCHAR, ZCKSERVERCHANGETOKENDATA BLOB );
CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);
CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);
CREATE TABLE Z_MODELCACHE (Z_CONTENT BLOB);
CREATE TABLE ACHANGE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCHANGETYPE INTEGER, ZENTITY INTEGER, ZENTITYPK INTEGER, ZTRANSACTIONID INTEGER, ZCOLUMNS BLOB );
CREATE TABLE ATRANSACTION ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZAUTHORTS INTEGER, ZBUNDLEIDTS INTEGER, ZCONTEXTNAMETS INTEGER, ZPROCESSIDTS INTEGER, ZTIMESTAMP FLOAT, ZAUTHOR VARCHAR, ZBUNDLEID VARCHAR, ZCONTEXTNAME VARCHAR, ZPROCESSID VARCHAR, ZQUERYGEN BLOB );
CREATE TABLE ATRANSACTIONSTRING ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZNAME VARCHAR );
"""

WORDS = ["Einkaufsliste", "Milch", "café", "naïve", "Zoë's", "日本語のメモ", "🎉", "Party", "<script>alert(1)</script>",
         'say "hi"', "Fish & Chips", "a < b > c", "What?", "50% off", "semi;colon", "tab\tstop", "Ünal", "Łódź",
         "100 €", "line", "and", "then", "meeting", "at", "noon", "&amp; literal"]
SIZES = {"sample": (12, 5, 3), "small": (10, 6, 3), "large": (400, 120, 60)}


def _layout(version):
    key = version_key(version)
    if key < (7,):
        return "notes.sqlite/ios6"
    if key < (9,):
        return "notes.sqlite/ios8"
    return "NoteStore.sqlite/ios15+notes.sqlite/ios8"


def _escape(rng, text):
    out = []
    for ch in text:
        if ch == "&":
            out.append("&amp;")
        elif ch == "<":
            out.append("&lt;")
        elif ch == ">":
            out.append("&gt;")
        elif ch == '"':
            out.append(rng.choice(['"', "&quot;"]))
        elif ch == "'":
            out.append(rng.choice(["'", "&apos;", "&#39;"]))
        elif ord(ch) > 127 and rng.randint(0, 3) == 0:
            out.append(rng.choice([f"&#{ord(ch)};", f"&#x{ord(ch):X};"]))
        else:
            out.append(ch)
    return "".join(out)


def _lines(rng, serial, long_text):
    lines = [f"Note {serial} " + " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 5)))]
    for _ in range(rng.randint(0, 4)):
        if rng.randint(0, 4) == 0:
            lines.append("")
        else:
            lines.append(" ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 8))))
    if long_text:
        lines.append(" ".join(f"{rng.choice(WORDS)}{i}" for i in range(900)))
    lines.append(f"end {serial}")
    return lines


def _html(rng, lines):
    """The body as the device writes it: one <div> per line, <div><br></div> for an empty
    line, and the last line after the last tag."""
    parts = []
    for line in lines[:-1]:
        parts.append("<div><br></div>" if line == "" else f"<div>{_escape(rng, line)}</div>")
    parts.append(_escape(rng, lines[-1]))
    return "".join(parts)


def _note(rng, serial, base_time, long_text=False):
    lines = _lines(rng, serial, long_text)
    title = lines[0].split("\t")[0][:60].strip()
    modified = base_time - rng.randint(3600, 400 * 86400) - MAC_EPOCH + rng.randint(0, 999) / 1000.0
    return {"title": title, "text": "\n".join(lines), "html": _html(rng, lines), "mac": modified,
            "created": modified - rng.randint(0, 86400)}


def _old_note_row(note, pk, layout):
    row = {"Z_PK": pk, "Z_ENT": 4, "Z_OPT": 3, "ZCONTENTTYPE": 0, "ZDELETEDFLAG": 0, "ZEXTERNALFLAGS": 0,
           "ZEXTERNALSEQUENCENUMBER": 0, "ZEXTERNALSERVERINTID": -1, "ZINTEGERID": 1000 + pk,
           "ZISBOOKKEEPINGENTRY": 0, "ZBODY": pk, "ZSTORE": 1, "ZCREATIONDATE": note["created"],
           "ZMODIFICATIONDATE": note["mac"], "ZAUTHOR": None, "ZGUID": f"GUID-{pk:08d}",
           "ZSERVERID": None, "ZSUMMARY": note["text"][:80], "ZTITLE": note["title"]}
    if layout.endswith("ios8"):
        row["ZCONTAINSCJK"] = 1 if any(ord(c) > 0x3000 for c in note["text"]) else 0
    return row


def _body_row(note, pk):
    return {"Z_PK": pk, "Z_ENT": 5, "Z_OPT": 1, "ZOWNER": pk, "ZCONTENT": note["html"],
            "ZEXTERNALCONTENTREF": None, "ZEXTERNALREPRESENTATION": None}


def _values(connection, table, pk):
    values = list(connection.execute(f'SELECT * FROM "{table}" WHERE Z_PK = ?', (pk,)).fetchone())
    values[0] = None
    return values


def _truth(note, deleted=False):
    return {"title": note["title"], "date": note["mac"], "html": note["html"], "text": note["text"],
            "deleted": 1 if deleted else 0}


def _older_store(rng, base_time, layout, sizes, wal_history=False):
    live_count, deleted_count, late_count = sizes
    old_layout = "ios6" if layout.startswith("notes.sqlite/ios6") else "ios8"
    db = DatabaseFile(page_size=4096, auto_vacuum=2, journal_mode="wal" if wal_history else "delete")
    db.script(OLD_TABLES % (ZNOTE_IOS6 if old_layout == "ios6" else ZNOTE_IOS7))
    serial = iter(range(1, 10 ** 6))
    planned = [(_note(rng, next(serial), base_time, long_text=(i == 2)), False) for i in range(live_count)]
    planned += [(_note(rng, next(serial), base_time, long_text=(i == 1)), True) for i in range(deleted_count)]
    order = sorted(range(len(planned)), key=lambda i: rng.randint(0, 10 ** 6))
    db.insert("ZSTORE", {"Z_PK": 1, "Z_ENT": 7, "Z_OPT": 1, "ZACCOUNT": 1, "ZNAME": "Notes"})
    pks, doomed, next_pk = {}, [], iter(range(1, 10 ** 6))
    db.db.execute("BEGIN")
    for i in order:
        note, is_doomed = planned[i]
        pk = next(next_pk)
        pks[i] = pk
        db.insert("ZNOTE", _old_note_row(note, pk, "ios8" if old_layout == "ios8" else "ios6"))
        db.insert("ZNOTEBODY", _body_row(note, pk))
        if is_doomed:
            doomed.append((pk, note))
    db.db.execute("COMMIT")

    removed = []

    def delete(items):
        for pk, note in items:
            body_values = _values(db.db, "ZNOTEBODY", pk)
            note_values = _values(db.db, "ZNOTE", pk)
            db.delete("ZNOTEBODY", "Z_PK = ?", (pk,))
            db.delete("ZNOTE", "Z_PK = ?", (pk,))
            removed.append((note, body_values, note_values))

    half = len(doomed) // 2
    delete(doomed[:half])
    late = []
    db.db.execute("BEGIN")
    for _ in range(late_count):
        note, pk = _note(rng, next(serial), base_time), next(next_pk)
        db.insert("ZNOTE", _old_note_row(note, pk, old_layout))
        db.insert("ZNOTEBODY", _body_row(note, pk))
        late.append(note)
    db.db.execute("COMMIT")
    delete(doomed[half:])
    top = db.db.execute("SELECT max(Z_PK) FROM ZNOTE").fetchone()[0] or 0
    db.insert_many("Z_PRIMARYKEY", [{"Z_ENT": 4, "Z_NAME": "Note", "Z_SUPER": 0, "Z_MAX": top},
                                    {"Z_ENT": 5, "Z_NAME": "NoteBody", "Z_SUPER": 0, "Z_MAX": top}])
    db.insert("Z_METADATA", {"Z_VERSION": 1, "Z_UUID": rng.uuid_text(), "Z_PLIST": b"bplist00" + rng.bytes(48)})
    live_by_pk = {pks[i]: planned[i][0] for i in order if not planned[i][1]}
    live = [live_by_pk[pk] for pk in sorted(live_by_pk)] + late
    data = db.finish()
    deleted = []
    for note, body_values, note_values in removed:
        entry = _truth(note, deleted=True)
        entry["intact"] = survives(data, body_values)
        entry["note_intact"] = survives(data, note_values)
        deleted.append(entry)
    wal = None
    if wal_history:
        wal, live, in_wal = _wal_history(rng, data, live, live_by_pk, serial, top, base_time, old_layout)
        deleted += in_wal
    truth = {"layout": "notes.sqlite/" + old_layout, "domain": OLD_STORE[0], "path": OLD_STORE[1],
             "live": [_truth(n) for n in live], "deleted": deleted}
    return data, wal, truth


def _wal_history(rng, data, live, live_by_pk, serial, top, base_time, layout):
    """The -wal of the notes written, edited and deleted since the last checkpoint: two new
    notes (one deleted again, so it stands only in superseded frames), one note retitled (its
    old row is no deleted note) and one older note deleted. Returns the log, the live notes
    after it, and the truth of the notes it deleted."""
    added = [(top + 1 + i, _note(rng, next(serial), base_time)) for i in range(2)]
    (edited_pk, edited), (doomed_pk, doomed) = sorted(live_by_pk.items())[:2]
    edited_title = f"{edited['title']} (edited)"
    removed = []

    def insert(connection):
        for pk, note in added:
            for table, row in (("ZNOTE", _old_note_row(note, pk, layout)), ("ZNOTEBODY", _body_row(note, pk))):
                names = ",".join(row)
                connection.execute(f"INSERT INTO {table} ({names}) VALUES ({','.join('?' * len(row))})",
                                   list(row.values()))

    def delete(connection):
        for pk, note in ((doomed_pk, doomed), added[0]):
            removed.append((note, _values(connection, "ZNOTEBODY", pk), _values(connection, "ZNOTE", pk)))
            connection.execute("DELETE FROM ZNOTEBODY WHERE Z_PK = ?", (pk,))
            connection.execute("DELETE FROM ZNOTE WHERE Z_PK = ?", (pk,))

    wal = wal_companion(data, [[insert], [("UPDATE ZNOTE SET ZTITLE = ? WHERE Z_PK = ?", (edited_title, edited_pk))],
                               [delete]], rng, keep_deleted=True)
    edited["title"] = edited_title
    in_wal = []
    for note, body_values, note_values in removed:
        entry = _truth(note, deleted=True)
        entry["intact"] = survives(data, body_values) or survives(wal, body_values)
        entry["note_intact"] = survives(data, note_values) or survives(wal, note_values)
        entry["wal"] = True
        in_wal.append(entry)
    return wal, [n for n in live if n is not doomed] + [added[1][1]], in_wal


# ---- the newer store: the note text inside a protocol-buffer message, gzip-compressed


def _varint(value):
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        if value:
            out.append(byte | 0x80)
        else:
            out.append(byte)
            return bytes(out)


def _field(number, payload):
    """A length-delimited field (bytes) or a varint field (int)."""
    if isinstance(payload, int):
        return _varint(number << 3) + _varint(payload)
    return _varint((number << 3) | 2) + _varint(len(payload)) + payload


def note_protobuf(text, rng):
    """Store message { 2: document { 2: version, 3: note { 2: text, 5: attribute runs } } }."""
    raw = text.encode("utf-8")
    runs = b"".join(_field(5, _field(1, rng.randint(1, 40)) + _field(2, _field(1, 0)))
                    for _ in range(rng.randint(1, 3)))
    note = _field(2, raw) + runs
    document = _field(2, 0) + _field(3, note)
    return _field(2, document)


def _new_store(rng, base_time, sizes):
    live_count = sizes[0]
    db = DatabaseFile(page_size=4096, auto_vacuum=2, journal_mode="wal")
    db.script(NEW_TABLES)
    pk = iter(range(1, 10 ** 6))
    # An account and a folder share the table with the notes; they have no ZTITLE1.
    db.insert("ZICCLOUDSYNCINGOBJECT", {"Z_PK": next(pk), "Z_ENT": 14, "Z_OPT": 1, "ZNAME": "iCloud",
                                        "ZIDENTIFIER": rng.uuid_text()})
    db.insert("ZICCLOUDSYNCINGOBJECT", {"Z_PK": next(pk), "Z_ENT": 15, "Z_OPT": 1, "ZTITLE2": "Notes",
                                        "ZIDENTIFIER": rng.uuid_text()})
    live = []
    data_pk = iter(range(1, 10 ** 6))
    for i in range(live_count + 3):
        note = _note(rng, 5000 + i, base_time, long_text=(i == 1))
        note_pk = next(pk)
        snippet = note["text"].split("\n")[1] if "\n" in note["text"] else ""
        marked = 1 if i % 7 == 3 else 0   # in "Recently Deleted"
        kind = "body"
        if i == live_count:
            kind = "truncated"
        elif i == live_count + 1:
            kind = "garbage"
        elif i == live_count + 2:
            kind = "none"
        db.insert("ZICCLOUDSYNCINGOBJECT", {
            "Z_PK": note_pk, "Z_ENT": 12, "Z_OPT": 2, "ZMARKEDFORDELETION": marked, "ZFOLDER": 2,
            "ZNOTEDATA": None, "ZCREATIONDATE3": note["created"], "ZMODIFICATIONDATE1": note["mac"],
            "ZTITLE1": note["title"], "ZSNIPPET": snippet, "ZIDENTIFIER": rng.uuid_text()})
        content = note["text"]
        if kind != "none":
            blob = gzip.compress(note_protobuf(note["text"], rng), mtime=0)
            if kind == "truncated":
                blob, content = blob[: len(blob) // 2], ""
            elif kind == "garbage":
                blob, content = gzip.compress(b"\x12\xff\xff\xff\xff\x0f" + rng.bytes(20), mtime=0), ""
            npk = next(data_pk)
            db.insert("ZICNOTEDATA", {"Z_PK": npk, "Z_ENT": 19, "Z_OPT": 1, "ZNOTE": note_pk, "ZDATA": blob})
            db.db.execute("UPDATE ZICCLOUDSYNCINGOBJECT SET ZNOTEDATA = ? WHERE Z_PK = ?", (npk, note_pk))
        else:
            content = snippet
        live.append({"title": note["title"], "date": note["created"], "text": content, "deleted": marked})
    data = db.finish()
    truth = {"layout": "NoteStore.sqlite/ios15", "domain": NEW_STORE[0], "path": NEW_STORE[1], "live": live,
             "deleted": []}
    return data, truth


@register("notes")
def notes(context):
    sizes = SIZES.get(context.profile, SIZES["small"])
    rng = context.rng
    layout = _layout(context.props.product_version)
    entries, truth = [], {"layout": layout}
    if layout.startswith("NoteStore"):
        data, truth["newer"] = _new_store(rng.derive("newer"), context.base_time, sizes)
        entries.append(database_entry(*NEW_STORE, data, context.base_time - 300))
    data, wal, truth["older"] = _older_store(rng.derive("older"), context.base_time, layout, sizes,
                                             context.wal_history)
    entries.append(database_entry(*OLD_STORE, data, context.base_time - 900))
    if wal is not None:
        entries.append(database_entry(OLD_STORE[0], OLD_STORE[1] + "-wal", wal, context.base_time - 900))
    return Contribution(entries=entries, truth=truth)

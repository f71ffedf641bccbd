"""Call history: "call_history.db" (WirelessDomain) up to system 7, the Core Data store
"CallHistory.storedata" (HomeDomain) from system 8 on, each in the table layout of its
system version.

Calls are incoming, outgoing, missed, FaceTime video and audio, and from system 10 on calls of
third-party apps through CallKit (ZSERVICE_PROVIDER names the app); some carry a name of their own. The
device deletes calls with an ordinary DELETE, marks calls read with an UPDATE (which
leaves a stale copy of the row in free space), and keeps logging new calls afterwards,
so some deleted rows are overwritten. The truth lists the live rows and every deleted
row with "intact": whether its values still stand in the finished file.
"""

from . import register, Contribution
from .cell_bytes import survives
from .sqlite_file import DatabaseFile, database_entry
from ..properties import version_key

MAC_EPOCH = 978307200   # 2001-01-01 in seconds since 1970

CALL_HISTORY_DB = ("WirelessDomain", "Library/CallHistory/call_history.db")
STOREDATA = ("HomeDomain", "Library/CallHistoryDB/CallHistory.storedata")

PROPERTIES_TABLE = "CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));"

CALL_IOS5 = ("CREATE TABLE call (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, "
             "duration INTEGER, flags INTEGER, id INTEGER, name TEXT, country_code TEXT);")
DATA_IOS5 = ("CREATE TABLE data (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, pdp_ip INTEGER, bytes_rcvd REAL, "
             "bytes_sent REAL, bytes_last_rcvd REAL, bytes_last_sent REAL, bytes_lifetime_rcvd REAL, "
             "bytes_lifetime_sent REAL);")
CALL_IOS7 = ("CREATE TABLE call (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, "
             "duration INTEGER, flags INTEGER, id INTEGER, name TEXT, country_code TEXT, network_code TEXT, "
             "read INTEGER, assisted INTEGER, face_time_data BLOB, originalAddress TEXT, answered INTEGER);")

# Core Data orders the columns by attribute type, then by name.
RECORD_IOS8 = ("CREATE TABLE ZCALLRECORD ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
               "ZANSWERED INTEGER, ZCALLTYPE INTEGER, ZDISCONNECTED_CAUSE INTEGER, ZFACE_TIME_DATA INTEGER, "
               "ZNUMBER_AVAILABILITY INTEGER, ZORIGINATED INTEGER, ZREAD INTEGER, ZDATE TIMESTAMP, "
               "ZDURATION FLOAT, ZADDRESS VARCHAR, ZDEVICE_ID VARCHAR, ZISO_COUNTRY_CODE VARCHAR, "
               "ZNAME VARCHAR, ZUNIQUE_ID VARCHAR );")
RECORD_IOS10 = ("CREATE TABLE ZCALLRECORD ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
                "ZANSWERED INTEGER, ZCALL_CATEGORY INTEGER, ZCALLTYPE INTEGER, ZDISCONNECTED_CAUSE INTEGER, "
                "ZFACE_TIME_DATA INTEGER, ZHANDLE_TYPE INTEGER, ZNUMBER_AVAILABILITY INTEGER, "
                "ZORIGINATED INTEGER, ZREAD INTEGER, ZDATE TIMESTAMP, ZDURATION FLOAT, ZDEVICE_ID VARCHAR, "
                "ZISO_COUNTRY_CODE VARCHAR, ZLOCATION VARCHAR, ZNAME VARCHAR, ZSERVICE_PROVIDER VARCHAR, "
                "ZUNIQUE_ID VARCHAR UNIQUE, ZADDRESS BLOB );")
# From system 13 the address is text again and group FaceTime brought the participant columns;
# 16 added junk filtering, verification and screen sharing; 17 and 18 appended columns by
# migration (after the blobs, where Core Data's lightweight migration puts them).
RECORD_IOS13 = ("CREATE TABLE ZCALLRECORD ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
                "ZANSWERED INTEGER, ZCALL_CATEGORY INTEGER, ZCALLTYPE INTEGER, ZDISCONNECTED_CAUSE INTEGER, "
                "ZFACE_TIME_DATA INTEGER, ZFILTERED_OUT_REASON INTEGER, ZHANDLE_TYPE INTEGER, "
                "ZNUMBER_AVAILABILITY INTEGER, ZORIGINATED INTEGER, ZREAD INTEGER, ZDATE TIMESTAMP, "
                "ZDURATION FLOAT, ZADDRESS VARCHAR, ZDEVICE_ID VARCHAR, ZISO_COUNTRY_CODE VARCHAR, "
                "ZLOCATION VARCHAR, ZNAME VARCHAR, ZSERVICE_PROVIDER VARCHAR, ZUNIQUE_ID VARCHAR, "
                "ZLOCALPARTICIPANTUUID BLOB, ZOUTGOINGLOCALPARTICIPANTUUID BLOB, ZPARTICIPANTGROUPUUID BLOB );")
RECORD_IOS16 = ("CREATE TABLE ZCALLRECORD ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
                "ZANSWERED INTEGER, ZAUTOANSWEREDREASON INTEGER, ZCALLDIRECTORYIDENTITYTYPE INTEGER, "
                "ZCALL_CATEGORY INTEGER, ZCALLTYPE INTEGER, ZDISCONNECTED_CAUSE INTEGER, ZFACE_TIME_DATA INTEGER, "
                "ZFILTERED_OUT_REASON INTEGER, ZHANDLE_TYPE INTEGER, ZHASMESSAGE INTEGER, ZJUNKCONFIDENCE INTEGER, "
                "ZNUMBER_AVAILABILITY INTEGER, ZORIGINATED INTEGER, ZREAD INTEGER, ZSCREENSHARINGTYPE INTEGER, "
                "ZUSEDEMERGENCYVIDEOSTREAMING INTEGER, ZVERIFICATIONSTATUS INTEGER, ZWASEMERGENCYCALL INTEGER, "
                "ZDATE TIMESTAMP, ZDURATION FLOAT, ZADDRESS VARCHAR, ZBLOCKEDBYEXTENSION VARCHAR, "
                "ZIDENTITYEXTENSION VARCHAR, ZISO_COUNTRY_CODE VARCHAR, ZJUNKIDENTIFICATIONCATEGORY VARCHAR, "
                "ZLOCATION VARCHAR, ZNAME VARCHAR, ZSERVICE_PROVIDER VARCHAR, ZUNIQUE_ID VARCHAR, "
                "ZCONVERSATIONID BLOB, ZIMAGEURL VARCHAR, ZLOCALPARTICIPANTUUID BLOB, "
                "ZOUTGOINGLOCALPARTICIPANTUUID BLOB, ZPARTICIPANTGROUPUUID BLOB );")
RECORD_IOS18 = RECORD_IOS16.replace(
    " );", " , ZINITIATOR INTEGER, ZBLOCKEDBYEXTENSIONNAME VARCHAR, ZREMINDERUUID BLOB, "
           "ZNEEDEDSCANNOUNCEMENT INTEGER, ZCOMMUNICATIONTRUSTSCORE INTEGER, ZORIGINATINGUITYPE INTEGER, "
           "ZORIGINATINGDEVICENAME VARCHAR);")
RECORDS = {"ios8": RECORD_IOS8, "ios10": RECORD_IOS10, "ios13": RECORD_IOS13, "ios16": RECORD_IOS16,
           "ios18": RECORD_IOS18}
STORE_TABLES = """
CREATE TABLE ZCALLDBPROPERTIES ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZTIMER_ALL FLOAT,
  ZTIMER_INCOMING FLOAT, ZTIMER_LAST FLOAT, ZTIMER_LIFETIME FLOAT, ZTIMER_OUTGOING FLOAT );
CREATE INDEX Z_CallRecord_date ON ZCALLRECORD (ZDATE COLLATE BINARY ASC);
CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);
CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);
"""

PHONES = ["+1 (571) 308-3236", "5713083236", "+15713083236", "+44 7700 900123", "+49 30 1234567",
          "+33 6 12 34 56 78", "+81 90-1234-5678", "*86", "911", "+7 912 345-67-89", "0171 2345678"]
FACETIME = ["anna.müller@example.de", "Zoe.OBrien@example.com", "+1 (415) 555-0199"]
NAMES = ["Zoë O'Brien", 'Łukasz "Luke" Nowak', "山田 太郎", "Smith, John", "<script>alert(1)</script>",
         "🎉 Party Line", "Ünal Çelik", "What? Me?", ""]
COUNTRIES = ["us", "gb", "de", "fr", "jp"]
# Apps that hand their calls to the phone's log through CallKit.
APPS = ["net.whatsapp.WhatsApp", "com.skype.skype", "ph.telegra.Telegraph"]
# ZCALLTYPE: 1 a call of the phone or of an app, 8 FaceTime video, 16 FaceTime audio.
CALL_TYPES = {"facetime": 8, "facetime_audio": 16}

SIZES = {"sample": (40, 10, 6), "small": (30, 12, 5), "large": (2000, 300, 150)}


def _layout(version):
    key = version_key(version)
    if key < (6,):
        return "call_history.db/ios5"
    if key < (8,):
        return "call_history.db/ios7"
    if key < (10,):
        return "storedata/ios8"
    if key < (13,):
        return "storedata/ios10"
    if key < (16,):
        return "storedata/ios13"
    if key < (17,):
        return "storedata/ios16"
    return "storedata/ios18"


class _Calls:
    """Draws the calls of one device: kind, party, time, length and name."""

    def __init__(self, rng, base_time):
        self.rng = rng
        self.base_time = base_time
        self.serial = 0

    def call(self, unique_party=False, apps=False):
        rng = self.rng
        self.serial += 1
        kinds = ["in", "in", "out", "out", "missed", "facetime"]
        if apps:
            kinds += ["facetime_audio", "app"]
        kind = rng.choice(kinds)
        if unique_party:
            # Deleted calls get parties of their own, so a recovered row names exactly one.
            party = f"+1 202 555 {1000 + self.serial:04d}"
        elif kind.startswith("facetime"):
            party = rng.choice(FACETIME)
        else:
            party = rng.choice(PHONES)
        outgoing = kind == "out" or (kind in ("facetime", "facetime_audio", "app") and rng.randint(0, 1) == 1)
        seconds = 0.0 if kind == "missed" else round(rng.uniform(1.0, 3600.0), 3)
        when = self.base_time - rng.randint(3600, 90 * 86400)
        name = rng.choice(NAMES) if rng.randint(0, 2) == 0 else None
        app = rng.choice(APPS) if kind == "app" else None
        return {"kind": kind, "app": app, "address": party, "outgoing": outgoing, "seconds": seconds,
                "unix": when, "mac": when - MAC_EPOCH + rng.randint(0, 999) / 1000.0, "name": name,
                "country": rng.choice(COUNTRIES)}


def _old_row(call, layout):
    flags = (1 if call["outgoing"] else 0) | 4 | (16 if call["kind"] == "facetime" else 0)
    row = {"address": call["address"], "date": call["unix"], "duration": int(call["seconds"]),
           "flags": flags, "id": -1, "name": None, "country_code": call["country"]}
    if layout.endswith("ios7"):
        row.update({"network_code": "410", "read": 0, "assisted": 0,
                    "face_time_data": b"\x00\x01" if call["kind"] == "facetime" else None,
                    "originalAddress": call["address"], "answered": 0 if call["kind"] == "missed" else 1})
    return row


def _service(call):
    if call["app"]:
        return call["app"]
    return "com.apple.FaceTime" if call["kind"].startswith("facetime") else "com.apple.Telephony"


def _store_row(call, layout, rng):
    facetime = call["kind"].startswith("facetime")
    video = call["kind"] == "facetime"
    row = {"Z_ENT": 2, "Z_OPT": 1, "ZANSWERED": 0 if call["kind"] == "missed" else 1,
           "ZCALLTYPE": CALL_TYPES.get(call["kind"], 1), "ZDISCONNECTED_CAUSE": 0,
           "ZFACE_TIME_DATA": None, "ZNUMBER_AVAILABILITY": 0,
           "ZORIGINATED": 1 if call["outgoing"] else 0, "ZREAD": 0, "ZDATE": call["mac"],
           "ZDURATION": call["seconds"], "ZDEVICE_ID": None, "ZISO_COUNTRY_CODE": call["country"],
           "ZNAME": call["name"], "ZUNIQUE_ID": rng.uuid_text().upper()}
    if layout.endswith("ios8"):
        row["ZADDRESS"] = call["address"]
        return row
    row.update({"ZCALL_CATEGORY": 2 if video else 1, "ZHANDLE_TYPE": 3 if "@" in call["address"] else 2,
                "ZLOCATION": rng.choice(["Virginia", "London", None]), "ZSERVICE_PROVIDER": _service(call)})
    # System 10 to 12 keep the address as a blob; later systems as text again.
    row["ZADDRESS"] = call["address"].encode("utf-8") if layout.endswith("ios10") else call["address"]
    if not layout.endswith(("ios10", "ios13")):
        row.update({"ZJUNKCONFIDENCE": 0, "ZVERIFICATIONSTATUS": rng.choice([0, 1]), "ZHASMESSAGE": 0,
                    "ZCONVERSATIONID": rng.bytes(16) if facetime else None})
        del row["ZDEVICE_ID"]
    if layout.endswith("ios18"):
        row["ZORIGINATINGDEVICENAME"] = rng.choice(["iPhone", None])
    return row


def _truth_row(row, store):
    if store:
        address = row["ZADDRESS"]
        if isinstance(address, bytes):
            address = address.decode("utf-8")
        return {"address": address, "date": row["ZDATE"], "duration": row["ZDURATION"],
                "flags": row["ZORIGINATED"], "name": row["ZNAME"], "answered": row["ZANSWERED"],
                "service": row.get("ZSERVICE_PROVIDER"), "call_type": row["ZCALLTYPE"]}
    # Only the system 7 layout says whether a call was answered: None for the older one.
    return {"address": row["address"], "date": row["date"], "duration": row["duration"],
            "flags": row["flags"], "name": None, "answered": row.get("answered")}


def _column_values(db, table, rowid):
    cursor = db.db.execute(f'SELECT * FROM "{table}" WHERE rowid = ?', (rowid,))
    values = list(cursor.fetchone())
    values[0] = None   # the rowid alias is stored as NULL
    return values


@register("calls")
def calls(context):
    live_count, deleted_count, late_count = SIZES.get(context.profile, SIZES["small"])
    rng = context.rng
    layout = _layout(context.props.product_version)
    store = layout.startswith("storedata")
    draw = _Calls(rng, context.base_time)

    if store:
        db = DatabaseFile(page_size=4096, auto_vacuum=2, journal_mode="wal")
        db.script(RECORDS[layout.split("/")[1]])
        db.script(STORE_TABLES)
        table, domain, path = "ZCALLRECORD", *STOREDATA
    else:
        db = DatabaseFile(page_size=4096, auto_vacuum=0, journal_mode="delete")
        db.script(PROPERTIES_TABLE)
        db.script(CALL_IOS7 if layout.endswith("ios7") else CALL_IOS5)
        if layout.endswith("ios5"):
            db.script(DATA_IOS5)
        table, domain, path = "call", *CALL_HISTORY_DB

    def make(call):
        return _store_row(call, layout, rng) if store else _old_row(call, layout)

    # Calls to be kept and calls to be deleted, in one time-ordered log as the phone writes it.
    apps = store and not layout.endswith("ios8")
    planned = [(draw.call(apps=apps), False) for _ in range(live_count)]
    planned += [(draw.call(unique_party=True, apps=apps), True) for _ in range(deleted_count)]
    planned.sort(key=lambda p: p[0]["unix"])
    if planned:
        # A withheld number and a very long name (overflowing the page) among the kept calls.
        for call, doomed in planned:
            if not doomed:
                call["address"] = None if not store else ""
                break
        if store:
            for call, doomed in reversed(planned):
                if not doomed:
                    call["name"] = "Long name " + "ünïcödé " * 700
                    break
    # One deleted call with a negative length, as a clock change can leave behind.
    for call, doomed in planned:
        if doomed:
            call["seconds"] = -5.0
            break
    doomed_ids = []
    next_pk = iter(range(1, 10 ** 9))

    def insert(call):
        row = make(call)
        if store:
            row = {"Z_PK": next(next_pk), **row}   # Core Data numbers rows itself and never reuses a key
        return db.insert(table, row)

    db.db.execute("BEGIN")
    for call, doomed in planned:
        rowid = insert(call)
        if doomed:
            doomed_ids.append(rowid)
    db.db.execute("COMMIT")

    # Marking calls read rewrites their rows; the old copies stay behind in free space.
    if table == "call" and layout.endswith("ios5"):
        db.db.execute("UPDATE call SET id = 7 WHERE ROWID % 4 = 1")
    elif table == "call":
        db.db.execute("UPDATE call SET read = 1 WHERE ROWID % 4 = 1")
    else:
        db.db.execute("UPDATE ZCALLRECORD SET ZREAD = 1, Z_OPT = 2 WHERE Z_PK % 4 = 1")

    def delete(ids):
        removed = []
        for rowid in ids:
            values = _column_values(db, table, rowid)
            row = db.delete(table, "rowid = ?", (rowid,))[0]
            removed.append((row, values))
        return removed

    half = len(doomed_ids) // 2
    removed = delete(doomed_ids[:half])
    # Later calls reuse some of the space the first deletions freed.
    db.db.execute("BEGIN")
    for _ in range(late_count):
        insert(draw.call(apps=apps))
    db.db.execute("COMMIT")
    removed += delete(doomed_ids[half:])
    if store:
        top = db.db.execute("SELECT max(Z_PK) FROM ZCALLRECORD").fetchone()[0] or 0
        db.insert_many("Z_PRIMARYKEY", [
            {"Z_ENT": 1, "Z_NAME": "CallDBProperties", "Z_SUPER": 0, "Z_MAX": 1},
            {"Z_ENT": 2, "Z_NAME": "CallRecord", "Z_SUPER": 0, "Z_MAX": top}])
        db.insert("Z_METADATA", {"Z_VERSION": 1, "Z_UUID": rng.uuid_text().upper(),
                                 "Z_PLIST": b"bplist00" + rng.bytes(64)})

    live = [_truth_row(r, store) for r in db.rows(table)]
    data = db.finish()
    deleted = []
    for row, values in removed:
        entry = _truth_row(row, store)
        entry["intact"] = survives(data, values)
        deleted.append(entry)

    truth = {"layout": layout, "domain": domain, "path": path, "table": table,
             "live": live, "deleted": deleted}
    return Contribution(entries=[database_entry(domain, path, data, context.base_time - 600)],
                        truth=truth)

"""AppDomainGroup-group.com.apple.reminders: the Reminders stores of iOS 13 and later.

Core Data stores under Container_v1/Stores/Data-<UUID>.sqlite, one per account
(here an iCloud-like store and a smaller local one). iOS 13 and 14 keep every
entity in one ZREMCDOBJECT table, told apart by Z_ENT (numbers from
Z_PRIMARYKEY); from iOS 15 reminders and lists have tables of their own,
ZREMCDREMINDER and ZREMCDBASELIST, which iOS 18 widens. Columns stand in Core
Data's order: Z_PK, Z_ENT, Z_OPT, integer attributes, to-one keys, dates,
strings, blobs. Some reminders are deleted with SQL DELETE, some only moved to
"recently deleted" (ZMARKEDFORDELETION), and one is retitled, which leaves its
old cell behind. With wal_history each store keeps its last changes in a -wal.
"""

from ..properties import version_key
from . import Contribution, register
from .sqlite_file import DatabaseFile, database_entry, text_survives, wal_companion

PAGE_SIZE = 4096
WAL_HEADER, FRAME_HEADER = 32, 24  # bytes before the first frame, and before each page in it

DOMAIN = "AppDomainGroup-group.com.apple.reminders"
MAC_EPOCH = 978307200

SHARED_OBJECT = """
CREATE TABLE ZREMCDOBJECT ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCKDIRTYFLAGS INTEGER, ZCKNEEDSINITIALFETCHFROMCLOUD INTEGER, ZCKNEEDSTOBEFETCHEDFROMCLOUD INTEGER, ZMARKEDFORDELETION INTEGER, ZMINIMUMSUPPORTEDAPPVERSION INTEGER, ZACCOUNT INTEGER, ZCKCLOUDSTATE INTEGER, ZDAALLOWSCALENDARADDDELETEMODIFY INTEGER, ZDASUPPORTSSHAREDCALENDARS INTEGER, ZDAWASMIGRATED INTEGER, ZDIDCHOOSETOMIGRATE INTEGER, ZDIDCHOOSETOMIGRATELOCALLY INTEGER, ZDIDFINISHMIGRATION INTEGER, ZINACTIVE INTEGER, ZTYPE INTEGER, ZREMINDER INTEGER, ZTRIGGER INTEGER, Z6_TRIGGER INTEGER, ZALARM INTEGER, ZPROXIMITY INTEGER, ZEVENT INTEGER, ZREMINDER1 INTEGER, ZFILESIZE INTEGER, ZHEIGHT INTEGER, ZWIDTH INTEGER, ZREMINDER2 INTEGER, ZOWNER INTEGER, ZDADISPLAYORDER INTEGER, ZDAISEVENTONLYCONTAINER INTEGER, ZDAISIMMUTABLE INTEGER, ZDAISNOTIFICATIONSCOLLECTION INTEGER, ZDAISREADONLY INTEGER, ZISGROUP INTEGER, ZSHARINGSTATUS INTEGER, ZSHOWINGLARGEATTACHMENTS INTEGER, ZPARENTACCOUNT INTEGER, ZPARENTLIST INTEGER, ZSHAREDOWNER INTEGER, ZFIRSTDAYOFTHEWEEK INTEGER, ZFREQUENCY INTEGER, ZINTERVAL INTEGER, ZOCCURRENCECOUNT INTEGER, ZREMINDER3 INTEGER, ZALLDAY INTEGER, ZCOMPLETED INTEGER, ZDISPLAYDATEISALLDAY INTEGER, ZDISPLAYDATEUPDATEDFORSECONDSFROMGMT INTEGER, ZFLAGGED INTEGER, ZICSDISPLAYORDER INTEGER, ZPRIORITY INTEGER, ZLIST INTEGER, ZPARENTREMINDER INTEGER, ZACCESSLEVEL INTEGER, ZSTATUS INTEGER, ZLIST1 INTEGER, Z4REMINDERS INTEGER, Z_FOK_REMINDER INTEGER, Z_FOK_REMINDER1 INTEGER, Z_FOK_PARENTLIST INTEGER, Z_FOK_PARENTACCOUNT INTEGER, Z_FOK_REMINDER2 INTEGER, Z_FOK_LIST INTEGER, ZACKNOWLEDGEDDATE TIMESTAMP, ZLATITUDE FLOAT, ZLONGITUDE FLOAT, ZRADIUS FLOAT, ZTIMEINTERVAL FLOAT, ZLENGTH FLOAT, ZLASTUSERACCESSDATE TIMESTAMP, ZENDDATE TIMESTAMP, ZCOMPLETIONDATE TIMESTAMP, ZCREATIONDATE TIMESTAMP, ZDISPLAYDATEDATE TIMESTAMP, ZDUEDATE TIMESTAMP, ZLASTBANNERPRESENTATIONDATE TIMESTAMP, ZLASTMODIFIEDDATE TIMESTAMP, ZSTARTDATE TIMESTAMP, ZCKIDENTIFIER VARCHAR, ZCKZONEOWNERNAME VARCHAR, ZDAPUSHKEY VARCHAR, ZDASYNCTOKEN VARCHAR, ZEXTERNALIDENTIFIER VARCHAR, ZEXTERNALMODIFICATIONTAG VARCHAR, ZCKUSERRECORDNAME VARCHAR, ZDACONSTRAINTSDESCRIPTIONPATH VARCHAR, ZNAME VARCHAR, ZALARMUID VARCHAR, ZORIGINALALARMUID VARCHAR, ZADDRESS VARCHAR, ZCONTACTLABEL VARCHAR, ZLOCATIONUID VARCHAR, ZREFERENCEFRAMESTRING VARCHAR, ZROUTING VARCHAR, ZTITLE VARCHAR, ZUTI VARCHAR, ZFILENAME VARCHAR, ZTRANSCRIBEDTEXT VARCHAR, ZREMINDERIDENTIFIER VARCHAR, ZOLDEXTERNALIDENTIFIER VARCHAR, ZOLDLISTIDENTIFIER VARCHAR, ZOLDEXTERNALIDENTIFIER1 VARCHAR, ZOLDLISTIDENTIFIER1 VARCHAR, ZUUIDSTRING VARCHAR, ZBADGEEMBLEM VARCHAR, ZDAEXTERNALIDENTIFICATIONTAG VARCHAR, ZNAME1 VARCHAR, ZSHAREDOWNERADDRESS VARCHAR, ZSHAREDOWNERNAME VARCHAR, ZCKPARENTREMINDERIDENTIFIER VARCHAR, ZDACALENDARITEMUNIQUEIDENTIFIER VARCHAR, ZDISPLAYDATETIMEZONE VARCHAR, ZNOTES VARCHAR, ZTIMEZONE VARCHAR, ZTITLE1 VARCHAR, ZADDRESS1 VARCHAR, ZDISPLAYNAME VARCHAR, ZFIRSTNAME VARCHAR, ZLASTNAME VARCHAR, ZMIDDLENAME VARCHAR, ZNAMEPREFIX VARCHAR, ZNAMESUFFIX VARCHAR, ZNICKNAME VARCHAR, ZIDENTIFIER BLOB, ZURL VARCHAR, ZHOSTURL VARCHAR, ZICSURL VARCHAR, ZOWNINGLISTIDENTIFIER BLOB, ZRESOLUTIONTOKENMAP BLOB, ZRESOLUTIONTOKENMAP_V2_JSON BLOB, ZCOLOR BLOB, ZCKSERVERRECORDDATA BLOB, ZCKSERVERSHAREDATA BLOB, ZLISTIDSMERGEABLEORDERING BLOB, ZLISTIDSMERGEABLEORDERING_V2 BLOB, ZDATECOMPONENTSDATA BLOB, ZMAPKITHANDLE BLOB, ZMETADATA BLOB, ZDABULKREQUESTS BLOB, ZREMINDERIDSMERGEABLEORDERING BLOB, ZREMINDERIDSMERGEABLEORDERING_V2_JSON BLOB, ZDAYSOFTHEMONTH BLOB, ZDAYSOFTHEWEEK BLOB, ZDAYSOFTHEYEAR BLOB, ZMONTHSOFTHEYEAR BLOB, ZSETPOSITIONS BLOB, ZWEEKSOFTHEYEAR BLOB, ZCONTACTHANDLES BLOB, ZIMPORTEDICSDATA BLOB, ZNOTESDOCUMENT BLOB, ZSIRIFOUNDINAPPSDATA BLOB, ZTITLEDOCUMENT BLOB, ZUSERACTIVITY BLOB );
"""

CORE_DATA = """
CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);
CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);
CREATE TABLE Z_MODELCACHE (Z_CONTENT BLOB);
"""

BASE_LIST = """
CREATE TABLE ZREMCDBASELIST ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCKDIRTYFLAGS INTEGER, ZCKNEEDSINITIALFETCHFROMCLOUD INTEGER, ZCKNEEDSTOBEFETCHEDFROMCLOUD INTEGER, ZMARKEDFORDELETION INTEGER, ZMINIMUMSUPPORTEDAPPVERSION INTEGER, ZDADISPLAYORDER INTEGER, ZDAISEVENTONLYCONTAINER INTEGER, ZDAISIMMUTABLE INTEGER, ZDAISNOTIFICATIONSCOLLECTION INTEGER, ZDAISREADONLY INTEGER, ZISGROUP INTEGER, ZSHARINGSTATUS INTEGER, ZSHOWINGLARGEATTACHMENTS INTEGER, ZACCOUNT INTEGER, ZCKCLOUDSTATE INTEGER, ZPARENTACCOUNT INTEGER, ZPARENTLIST INTEGER, ZSHAREDOWNER INTEGER, Z_FOK_PARENTACCOUNT INTEGER, Z_FOK_PARENTLIST INTEGER, ZLASTUSERACCESSDATE TIMESTAMP, ZBADGEEMBLEM VARCHAR, ZCKIDENTIFIER VARCHAR, ZCKZONEOWNERNAME VARCHAR, ZDAEXTERNALIDENTIFICATIONTAG VARCHAR, ZDAPUSHKEY VARCHAR, ZDASYNCTOKEN VARCHAR, ZEXTERNALIDENTIFIER VARCHAR, ZEXTERNALMODIFICATIONTAG VARCHAR, ZNAME VARCHAR, ZSHAREDOWNERADDRESS VARCHAR, ZSHAREDOWNERNAME VARCHAR, ZSMARTLISTTYPE VARCHAR, ZCOLOR BLOB, ZCKSERVERRECORDDATA BLOB, ZCKSERVERSHAREDATA BLOB, ZIDENTIFIER BLOB, ZREMINDERIDSMERGEABLEORDERING BLOB, ZREMINDERIDSMERGEABLEORDERING_V2_JSON BLOB );
"""

# Of the separate reminder table, iOS 15 to 17 and iOS 18 (which adds the urgent-alarm,
# Spotlight and due-date-alert columns among the others of their type).
REMINDER_16 = """
CREATE TABLE ZREMCDREMINDER ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZALLDAY INTEGER, ZCKDIRTYFLAGS INTEGER, ZCKNEEDSINITIALFETCHFROMCLOUD INTEGER, ZCKNEEDSTOBEFETCHEDFROMCLOUD INTEGER, ZCOMPLETED INTEGER, ZDISPLAYDATEISALLDAY INTEGER, ZDISPLAYDATEUPDATEDFORSECONDSFROMGMT INTEGER, ZFLAGGED INTEGER, ZICSDISPLAYORDER INTEGER, ZMARKEDFORDELETION INTEGER, ZMINIMUMSUPPORTEDAPPVERSION INTEGER, ZPRIORITY INTEGER, ZACCOUNT INTEGER, ZCKCLOUDSTATE INTEGER, ZLIST INTEGER, ZPARENTREMINDER INTEGER, Z_FOK_LIST INTEGER, Z_FOK_PARENTREMINDER INTEGER, ZACKNOWLEDGEDDATE TIMESTAMP, ZCOMPLETIONDATE TIMESTAMP, ZCREATIONDATE TIMESTAMP, ZDISPLAYDATEDATE TIMESTAMP, ZDUEDATE TIMESTAMP, ZLASTBANNERPRESENTATIONDATE TIMESTAMP, ZLASTMODIFIEDDATE TIMESTAMP, ZSTARTDATE TIMESTAMP, ZCKIDENTIFIER VARCHAR, ZCKPARENTREMINDERIDENTIFIER VARCHAR, ZCKZONEOWNERNAME VARCHAR, ZDACALENDARITEMUNIQUEIDENTIFIER VARCHAR, ZDISPLAYDATETIMEZONE VARCHAR, ZEXTERNALIDENTIFIER VARCHAR, ZEXTERNALMODIFICATIONTAG VARCHAR, ZNOTES VARCHAR, ZTIMEZONE VARCHAR, ZTITLE VARCHAR, ZCKSERVERRECORDDATA BLOB, ZIDENTIFIER BLOB, ZIMPORTEDICSDATA BLOB, ZNOTESDOCUMENT BLOB, ZRESOLUTIONTOKENMAP BLOB, ZRESOLUTIONTOKENMAP_V2_JSON BLOB, ZSIRIFOUNDINAPPSDATA BLOB, ZTITLEDOCUMENT BLOB, ZUSERACTIVITY BLOB );
"""
REMINDER_18 = """
CREATE TABLE ZREMCDREMINDER ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZALLDAY INTEGER, ZCKDIRTYFLAGS INTEGER, ZCKNEEDSINITIALFETCHFROMCLOUD INTEGER, ZCKNEEDSTOBEFETCHEDFROMCLOUD INTEGER, ZCOMPLETED INTEGER, ZDISPLAYDATEISALLDAY INTEGER, ZDISPLAYDATEUPDATEDFORSECONDSFROMGMT INTEGER, ZEFFECTIVEMINIMUMSUPPORTEDAPPVERSION INTEGER, ZFLAGGED INTEGER, ZICSDISPLAYORDER INTEGER, ZISURGENTSTATEENABLEDFORCURRENTUSER INTEGER, ZMARKEDFORDELETION INTEGER, ZMINIMUMSUPPORTEDAPPVERSION INTEGER, ZPRIORITY INTEGER, ZSPOTLIGHTINDEXCOUNT INTEGER, ZACCOUNT INTEGER, ZCKCLOUDSTATE INTEGER, ZLIST INTEGER, ZPARENTREMINDER INTEGER, ZSECTION INTEGER, Z_FOK_LIST INTEGER, Z_FOK_PARENTREMINDER INTEGER, ZACKNOWLEDGEDDATE TIMESTAMP, ZCOMPLETIONDATE TIMESTAMP, ZCREATIONDATE TIMESTAMP, ZDISPLAYDATEDATE TIMESTAMP, ZDUEDATE TIMESTAMP, ZLASTBANNERPRESENTATIONDATE TIMESTAMP, ZLASTMODIFIEDDATE TIMESTAMP, ZSTARTDATE TIMESTAMP, ZCKIDENTIFIER VARCHAR, ZCKPARENTREMINDERIDENTIFIER VARCHAR, ZCKZONEOWNERNAME VARCHAR, ZDACALENDARITEMUNIQUEIDENTIFIER VARCHAR, ZDISPLAYDATETIMEZONE VARCHAR, ZEXTERNALIDENTIFIER VARCHAR, ZEXTERNALMODIFICATIONTAG VARCHAR, ZNOTES VARCHAR, ZTIMEZONE VARCHAR, ZTITLE VARCHAR, ZCKSERVERRECORDDATA BLOB, ZDUEDATEDELTAALERTSDATA BLOB, ZIDENTIFIER BLOB, ZIMPORTEDICSDATA BLOB, ZNOTESDOCUMENT BLOB, ZRESOLUTIONTOKENMAP BLOB, ZRESOLUTIONTOKENMAP_V2_JSON BLOB, ZSIRIFOUNDINAPPSDATA BLOB, ZTITLEDOCUMENT BLOB, ZUSERACTIVITY BLOB );
"""

# Entity numbers as Z_PRIMARYKEY gives them; they differ between model versions, so the
# reader must look them up.
SHARED_ENTITIES = ["REMCDObject", "REMCDAccount", "REMCDAlarm", "REMCDAlarmTrigger", "REMCDBaseList",
                   "REMCDList", "REMCDSmartList", "REMCDReminder"]
SEPARATE_ENTITIES = ["REMCDAccount", "REMCDBaseList", "REMCDList", "REMCDSmartList", "REMCDObject",
                     "REMCDReminder", "REMCDBaseSection"]

TASKS = ["Buy milk", "Pay rent", "Call mom ☎", "Renew passport", "Backup laptop", "Book tickets, 2 adults",
         "Return \"library\" books", "Steuererklärung", "Water plants", "買い物", "Позвонить врачу", "Vet 🐕"]
WHO = ["Anna", "José", "Zoë", "李雷", "O'Brien", "Priya", "Łukasz", "Ngozi", ""]
LISTS = ["Reminders", "Einkauf/Errands", "Work: Q3", "家族"]


def _layout(version):
    key = version_key(version)
    if key < version_key("13"):
        return None
    if key < version_key("15"):
        return "ZREMCDOBJECT"
    return "ZREMCDREMINDER-18" if key >= version_key("18") else "ZREMCDREMINDER-16"


def _counts(profile):
    return {"sample": (24, 6), "small": (36, 8), "large": (1600, 200)}.get(profile, (24, 6))


class _Store:
    """One store file in the chosen layout, with its entity numbers."""

    def __init__(self, layout):
        self.shared = layout == "ZREMCDOBJECT"
        self.db = DatabaseFile(page_size=PAGE_SIZE, auto_vacuum=0, journal_mode="wal")
        self.db.script(CORE_DATA)
        self.db.script(SHARED_OBJECT if self.shared else
                       BASE_LIST + SHARED_OBJECT + (REMINDER_18 if layout.endswith("18") else REMINDER_16))
        names = SHARED_ENTITIES if self.shared else SEPARATE_ENTITIES
        self.entity = {}
        for number, name in enumerate(names, start=1):
            self.entity[name] = number
            self.db.insert("Z_PRIMARYKEY", {"Z_ENT": number, "Z_NAME": name, "Z_SUPER": 0, "Z_MAX": 0})
        self.table = "ZREMCDOBJECT" if self.shared else "ZREMCDREMINDER"
        self.title = "ZTITLE1" if self.shared else "ZTITLE"

    def add_list(self, name, rng):
        table, column = ("ZREMCDOBJECT", "ZNAME1") if self.shared else ("ZREMCDBASELIST", "ZNAME")
        return self.db.insert(table, {"Z_ENT": self.entity["REMCDList"], "Z_OPT": 1, column: name,
                                      "ZMARKEDFORDELETION": 0, "ZCKIDENTIFIER": rng.uuid_text()})

    def stored(self, row):
        """The reminder's columns as the store writes them."""
        return {"Z_ENT": self.entity["REMCDReminder"], "Z_OPT": 2, self.title: row["summary"],
                  "ZNOTES": row["description"], "ZSTARTDATE": row["start_date"], "ZDUEDATE": row["due_date"],
                  "ZCOMPLETED": row["completed"], "ZCOMPLETIONDATE": row["completion_date"],
                  "ZPRIORITY": row["priority"], "ZLIST": row["list_pk"], "ZMARKEDFORDELETION": row["marked"],
                  "ZCKIDENTIFIER": row["identity"], "ZFLAGGED": 0, "ZALLDAY": 0}

    def add_reminder(self, row):
        return self.db.insert(self.table, self.stored(row))


def _note(rng, index):
    if index % 11 == 5:
        return "Liste: " + "Äpfel, «Birnen» und \"Nüsse\"; " * rng.randint(150, 200)  # overflows a page
    return rng.choice([None, "", "Bring the receipt", "Line one\nline two", "Ключ?", "5 € cash"])


def _title_pages(blob, title, in_wal):
    """Numbers of the pages whose bytes in `blob` (the file, or its -wal) hold `title`."""
    needle, pages, at = title.encode("utf-8"), set(), blob.find(title.encode("utf-8"))
    while at >= 0:
        if not in_wal:
            pages.add(at // PAGE_SIZE + 1)
        elif at >= WAL_HEADER:
            frame = WAL_HEADER + (at - WAL_HEADER) // (FRAME_HEADER + PAGE_SIZE) * (FRAME_HEADER + PAGE_SIZE)
            pages.add(int.from_bytes(blob[frame:frame + 4], "big"))
        at = blob.find(needle, at + 1)
    return pages


def _spilled_title_linked(row, blobs):
    """A note longer than a page pushes the title (stored after it) onto an overflow page.
    Deleting the row frees that page with the title on it, but the cell that named the page
    sits in its b-tree page's free space, where later rows may overwrite its tail and with it
    the page number: the title then stands on a page nothing leads to. Linked while some
    note bytes still precede the number of a page holding the title."""
    notes = row["description"].encode("utf-8")
    pages = set()
    for blob, in_wal in blobs:
        pages |= _title_pages(blob, row["summary"], in_wal)
    for page in pages:
        pointer = page.to_bytes(4, "big")
        for blob, _ in blobs:
            at = blob.find(pointer, 6)
            while at >= 0:
                if blob[at - 6:at] in notes:
                    return True
                at = blob.find(pointer, at + 1)
    return False


def _truth(row, deleted, data, others, wal=None):
    entry = {k: row[k] for k in ("summary", "start_date", "due_date", "completed", "completion_date",
                                 "priority", "list", "marked")}
    entry["description"] = row["description"] or ""
    if deleted:
        entry["intact"] = text_survives(data, row["summary"], others) or (
            wal is not None and text_survives(wal, row["summary"], others))
        if entry["intact"] and len(entry["description"].encode("utf-8")) > PAGE_SIZE:
            blobs = [(data, False)] + ([(wal, True)] if wal is not None else [])
            entry["intact"] = _spilled_title_linked(row, blobs)
    return entry


def _wal_history(store, rng, data, rows, doomed):
    """The -wal of the reminders changed since the last checkpoint: one added and deleted
    again (it stands only in superseded frames), one retitled (its old row is no deleted
    reminder) and one older reminder deleted. Returns the log and the rows it deleted."""
    remaining = [row for row in rows if row not in doomed]
    edited, gone = remaining[1], remaining[2]
    added = dict(gone, summary=gone["summary"] + " (again)", identity=rng.uuid_text())
    stored = store.stored(added)
    names = ",".join(stored)
    insert = (f"INSERT INTO {store.table} ({names}) VALUES ({','.join('?' * len(stored))})", list(stored.values()))
    edited["summary"] += " (later)"
    retitle = (f"UPDATE {store.table} SET {store.title} = ? WHERE Z_PK = ?", (edited["summary"], edited["pk"]))
    delete = [(f"DELETE FROM {store.table} WHERE {store.title} = ?", (added["summary"],)),
              (f"DELETE FROM {store.table} WHERE Z_PK = ?", (gone["pk"],))]
    wal = wal_companion(data, [[insert], [retitle], delete], rng, keep_deleted=True)
    rows.append(added)
    return wal, [added, gone]


def _store(context, layout, rng, count, name_prefix):
    store = _Store(layout)
    if store.shared:
        # Rows of other entities share the table: an account (ZNAME) and an alarm location
        # (ZTITLE) must not read as lists or reminders.
        store.db.insert("ZREMCDOBJECT", {"Z_ENT": store.entity["REMCDAccount"], "ZNAME": "iCloud"})
        store.db.insert("ZREMCDOBJECT", {"Z_ENT": store.entity["REMCDAlarmTrigger"], "ZTITLE": "Home (alarm)"})
    lists = [(store.add_list(name, rng), name) for name in LISTS]
    used = set()
    rows = []
    for index in range(count):
        start = float(context.base_time - MAC_EPOCH + rng.randint(-120 * 86400, 60 * 86400)) + rng.randint(1, 999) / 1000
        completed = index % 3 == 1
        list_pk, list_name = rng.choice(lists)
        summary = f"{name_prefix}{rng.choice(TASKS)} {rng.choice(WHO)}".strip()
        while summary in used:
            summary = f"{summary} {rng.randint(2, 999)}"
        used.add(summary)
        rows.append({"summary": summary, "description": _note(rng, index),
                     "start_date": start if index % 4 else None,
                     "due_date": None if index % 5 == 2 else start + rng.randint(1, 72) * 3600,
                     "completed": int(completed), "completion_date": start + 7200.25 if completed else None,
                     "priority": rng.choice([0, 1, 5, 9]), "list_pk": list_pk, "list": list_name,
                     "marked": int(index % 10 == 7), "identity": rng.uuid_text()})
    store.db.db.execute("BEGIN")
    for row in rows:
        row["pk"] = store.add_reminder(row)
    store.db.db.execute("COMMIT")
    doomed = [row for i, row in enumerate(rows) if i % 3 == 0]
    for row in doomed:
        store.db.delete(store.table, "Z_PK = ?", (row["pk"],))
    edited = next(row for row in rows if row not in doomed)
    edited["summary"] += " (edited)"
    store.db.db.execute(f"UPDATE {store.table} SET {store.title} = ? WHERE Z_PK = ?", (edited["summary"], edited["pk"]))
    data = store.db.finish()
    wal = None
    if context.wal_history:
        wal, in_wal = _wal_history(store, rng, data, rows, doomed)
        doomed += in_wal
    others = [r["summary"] for r in rows]
    live = [_truth(r, False, data, others) for r in rows if r not in doomed]
    deleted = [_truth(r, True, data, others, wal) for r in doomed]
    return data, wal, live, deleted


@register("reminders")
def reminders(context):
    layout = _layout(context.props.product_version)
    if layout is None:
        return Contribution()
    rng = context.rng
    main_count, local_count = _counts(context.profile)
    entries, live, deleted, stores = [], [], [], []
    for count, prefix, name in ((main_count, "", f"Data-{rng.uuid_text()}.sqlite"),
                                (local_count, "Local: ", "Data-local.sqlite")):
        data, wal, store_live, store_deleted = _store(context, layout, rng.derive(name), count, prefix)
        path = f"Container_v1/Stores/{name}"
        mtime = context.base_time - rng.randint(60, 86400)
        entries.append(database_entry(DOMAIN, path, data, mtime))
        if wal is not None:
            entries.append(database_entry(DOMAIN, path + "-wal", wal, mtime))
        stores.append(path)
        live += store_live
        deleted += store_deleted
    truth = {"layout": layout.split("-")[0], "stores": stores, "reminders": live, "deleted_reminders": deleted}
    return Contribution(entries=entries, truth=truth)

"""The address book: AddressBook.sqlitedb with people, their phone numbers, e-mails, web
pages and street addresses, and AddressBookImages.sqlitedb with their pictures.

Systems before 6 get the iOS 5 layout (no guid columns, rollback journal), 6 to 12 the
iOS 8/9 layout (guid columns, WAL). From iOS 13 ABPerson grows at its end, past PhonemeData:
pronunciations, the previous family name, the preferred picture and channel, the downtime
list and the picture's type and hash (iOS 13); the crop rectangle, wallpaper and display
flags (iOS 16); the sensitive-content setting and the watch wallpaper (iOS 18). The
multi-value tables and the images database keep their iOS 8 columns. The label column of a multi-value is a row id into
ABMultiValueLabel, whose rows each database numbers in its own order, so the labels are
inserted in a seeded order here. Some people are deleted with their multi-values, some
single multi-values of live people too, the way the device deletes them; a few people are
added afterwards, so some of the deleted cells are overwritten.
"""

import datetime
import hashlib
import io
import os
import sqlite3
import tempfile

from PIL import Image, ImageDraw

from . import Contribution, register
from .cell_bytes import survives
from .sqlite_file import DatabaseFile, database_entry
from ..properties import version_key

DOMAIN = "HomeDomain"
BOOK_PATH = "Library/AddressBook/AddressBook.sqlitedb"
IMAGES_PATH = "Library/AddressBook/AddressBookImages.sqlitedb"
SECONDS_1970_TO_2001 = 978307200

PHONE, EMAIL, ADDRESS, WEB_PAGE = 3, 4, 5, 22

IOS5_BOOK = """
CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));
CREATE TABLE ABStore (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT, ExternalIdentifier TEXT, Type INTEGER, ConstraintsPath TEXT, ExternalModificationTag TEXT, StoreInternalIdentifier TEXT, AccountIdentifier TEXT, Enabled INTEGER DEFAULT 1, UNIQUE(StoreInternalIdentifier));
CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT, Middle TEXT, FirstPhonetic TEXT, MiddlePhonetic TEXT, LastPhonetic TEXT, Organization TEXT, Department TEXT, Note TEXT, Kind INTEGER, Birthday TEXT, JobTitle TEXT, Nickname TEXT, Prefix TEXT, Suffix TEXT, FirstSort TEXT, LastSort TEXT, CreationDate INTEGER, ModificationDate INTEGER, CompositeNameFallback TEXT, ExternalIdentifier TEXT, ExternalModificationTag TEXT, ExternalUUID TEXT, StoreID INTEGER, DisplayName TEXT, ExternalRepresentation BLOB, FirstSortSection TEXT, LastSortSection TEXT, FirstSortLanguageIndex INTEGER DEFAULT 2147483647, LastSortLanguageIndex INTEGER DEFAULT 2147483647, PersonLink INTEGER DEFAULT -1, ImageURI TEXT, IsPreferredName INTEGER DEFAULT 1);
CREATE TABLE ABPersonChanges (record INTEGER, type INTEGER, Image INTEGER, ExternalIdentifier TEXT, StoreID INTEGER);
CREATE TABLE ABPersonLink (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, PreferredImagePersonID INTEGER DEFAULT -1, PreferredNamePersonID INTEGER DEFAULT -1);
CREATE TABLE ABGroup (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT, ExternalIdentifier TEXT, StoreID INTEGER, ExternalModificationTag TEXT, ExternalRepresentation BLOB, ExternalUUID TEXT);
CREATE TABLE ABGroupChanges (record INTEGER, type INTEGER, ExternalIdentifier TEXT, StoreID INTEGER);
CREATE TABLE ABGroupMembers (UID INTEGER PRIMARY KEY, group_id INTEGER, member_type INTEGER, member_id INTEGER, UNIQUE(group_id, member_type, member_id));
CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property INTEGER, identifier INTEGER, label INTEGER, value TEXT);
CREATE TABLE ABMultiValueLabel (value TEXT, UNIQUE(value));
CREATE TABLE ABMultiValueEntry (parent_id INTEGER, key INTEGER, value TEXT, UNIQUE(parent_id, key));
CREATE TABLE ABMultiValueEntryKey (value TEXT, UNIQUE(value));
CREATE TABLE ABPhoneLastFour (multivalue_id INTEGER PRIMARY KEY, value TEXT);
CREATE TABLE ABPersonMultiValueDeletes (record_id INTEGER, property_id INTEGER, identifier INTEGER);
CREATE TABLE FirstSortSectionCount(LanguageIndex, Section TEXT, StoreID, number, UNIQUE(LanguageIndex, Section, StoreID));
CREATE TABLE LastSortSectionCount(LanguageIndex, Section TEXT, StoreID, number, UNIQUE(LanguageIndex, Section, StoreID));
CREATE TABLE FirstSortSectionCountTotal(LanguageIndex, Section TEXT, Type INT, number, UNIQUE(LanguageIndex, Section, Type));
CREATE TABLE LastSortSectionCountTotal(LanguageIndex, Section TEXT, Type INT, number, UNIQUE(LanguageIndex, Section, Type));
CREATE TABLE ABRecent(date INTEGER, name, property INTEGER, value);
CREATE TABLE ABPersonSearchKey (person_id INTEGER, value BLOB, UNIQUE(person_id));
"""

IOS8_BOOK = """
CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));
CREATE TABLE ABStore (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT, ExternalIdentifier TEXT, Type INTEGER, ConstraintsPath TEXT, ExternalModificationTag TEXT, ExternalSyncTag TEXT, StoreInternalIdentifier TEXT, AccountID INTEGER DEFAULT -1, Enabled INTEGER DEFAULT 1, SyncData BLOB, MeIdentifier INTEGER DEFAULT -1, Capabilities INTEGER DEFAULT 0, UNIQUE(StoreInternalIdentifier));
CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT, Middle TEXT, FirstPhonetic TEXT, MiddlePhonetic TEXT, LastPhonetic TEXT, Organization TEXT, Department TEXT, Note TEXT, Kind INTEGER, Birthday TEXT, JobTitle TEXT, Nickname TEXT, Prefix TEXT, Suffix TEXT, FirstSort TEXT, LastSort TEXT, CreationDate INTEGER, ModificationDate INTEGER, CompositeNameFallback TEXT, ExternalIdentifier TEXT, ExternalModificationTag TEXT, ExternalUUID TEXT, StoreID INTEGER, DisplayName TEXT, ExternalRepresentation BLOB, FirstSortSection TEXT, LastSortSection TEXT, FirstSortLanguageIndex INTEGER DEFAULT 2147483647, LastSortLanguageIndex INTEGER DEFAULT 2147483647, PersonLink INTEGER DEFAULT -1, ImageURI TEXT, IsPreferredName INTEGER DEFAULT 1, guid TEXT DEFAULT (ab_generate_guid()), PhonemeData TEXT, UNIQUE(guid));
CREATE TABLE ABPersonChanges (record INTEGER, type INTEGER, Image INTEGER, ExternalIdentifier TEXT, StoreID INTEGER);
CREATE TABLE ABPersonLink (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, PreferredImagePersonID INTEGER DEFAULT -1, PreferredNamePersonID INTEGER DEFAULT -1);
CREATE TABLE ABPersonSearchKey (person_id INTEGER, SearchKey BLOB, NameOnlySearchKey BLOB, UNIQUE(person_id));
CREATE TABLE ABPersonBasicChanges (record INTEGER PRIMARY KEY, type INTEGER, sequenceNumber INTEGER);
CREATE TABLE ABGroup (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT, ExternalIdentifier TEXT, StoreID INTEGER, ExternalModificationTag TEXT, ExternalRepresentation BLOB, ExternalUUID TEXT);
CREATE TABLE ABGroupChanges (record INTEGER, type INTEGER, ExternalIdentifier TEXT, StoreID INTEGER);
CREATE TABLE ABAccount (ROWID INTEGER PRIMARY KEY, AccountIdentifier TEXT, Flags INTEGER, DefaultSourceID INTEGER);
CREATE TABLE ABGroupMembers (UID INTEGER PRIMARY KEY, group_id INTEGER, member_type INTEGER, member_id INTEGER, UNIQUE(group_id, member_type, member_id));
CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property INTEGER, identifier INTEGER, label INTEGER, value TEXT, guid TEXT DEFAULT (ab_generate_guid()), UNIQUE(guid));
CREATE TABLE ABMultiValueLabel (value TEXT, UNIQUE(value));
CREATE TABLE ABMultiValueEntry (parent_id INTEGER, key INTEGER, value TEXT, UNIQUE(parent_id, key));
CREATE TABLE ABMultiValueEntryKey (value TEXT, UNIQUE(value));
CREATE TABLE ABPhoneLastFour (multivalue_id INTEGER PRIMARY KEY, value TEXT);
CREATE TABLE ABPersonMultiValueDeletes (record_id INTEGER, property_id INTEGER, identifier INTEGER);
CREATE TABLE FirstSortSectionCount(LanguageIndex, Section TEXT, StoreID, number, UNIQUE(LanguageIndex, Section, StoreID));
CREATE TABLE LastSortSectionCount(LanguageIndex, Section TEXT, StoreID, number, UNIQUE(LanguageIndex, Section, StoreID));
CREATE TABLE FirstSortSectionCountTotal(LanguageIndex, Section TEXT, Type INT, number, UNIQUE(LanguageIndex, Section, Type));
CREATE TABLE LastSortSectionCountTotal(LanguageIndex, Section TEXT, Type INT, number, UNIQUE(LanguageIndex, Section, Type));
CREATE TABLE ABRecent(date INTEGER, name, property INTEGER, value);
"""

# The columns each newer system appends to ABPerson, in the order it appends them.
IOS13_PERSON_TAIL = ("AlternateBirthday TEXT, MapsData TEXT, FirstPronunciation TEXT, MiddlePronunciation TEXT, "
                     "LastPronunciation TEXT, OrganizationPhonetic TEXT, OrganizationPronunciation TEXT, "
                     "PreviousFamilyName TEXT, PreferredLikenessSource TEXT, PreferredPersonaIdentifier TEXT, "
                     "PreferredChannel TEXT, DowntimeWhitelist TEXT, ImageType TEXT, ImageHash BLOB, MemojiMetadata BLOB")
IOS16_PERSON_TAIL = (IOS13_PERSON_TAIL + ", CropRectID TEXT, CropRectHash BLOB, Wallpaper BLOB, WallpaperMetadata BLOB, "
                     "DisplayFlags INTEGER DEFAULT 0, WallpaperURI TEXT, ImageBackgroundColorsData BLOB")
IOS18_PERSON_TAIL = (IOS16_PERSON_TAIL + ", SensitiveContentConfiguration BLOB, WatchWallpaperImageData BLOB, "
                     "SharedPhotoDisplayPreference INTEGER DEFAULT 0")


def _widened(tail):
    return IOS8_BOOK.replace("PhonemeData TEXT, UNIQUE(guid));", f"PhonemeData TEXT, {tail}, UNIQUE(guid));")


BOOKS = {"ios5": IOS5_BOOK, "ios8": IOS8_BOOK, "ios13": _widened(IOS13_PERSON_TAIL),
         "ios16": _widened(IOS16_PERSON_TAIL), "ios18": _widened(IOS18_PERSON_TAIL)}


def layout_of(version):
    key = version_key(version)
    return ("ios5" if key < (6,) else "ios8" if key < (13,) else "ios13" if key < (14,)
            else "ios16" if key < (18,) else "ios18")


IMAGES = """
CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));
CREATE TABLE ABThumbnailImage (ROWID INTEGER PRIMARY KEY, record_id INTEGER, format INTEGER, derived_from_format INTEGER, data BLOB);
CREATE TABLE ABFullSizeImage (ROWID INTEGER PRIMARY KEY, record_id INTEGER, crop_x INTEGER, crop_y INTEGER, crop_width INTEGER, data BLOB);
"""

# Label texts as devices write them; every database numbers them in its own order.
LABELS = ["_$!<Mobile>!$_", "iPhone", "_$!<Home>!$_", "_$!<Work>!$_", "_$!<Main>!$_", "_$!<HomeFAX>!$_",
          "_$!<WorkFAX>!$_", "_$!<Pager>!$_", "_$!<Other>!$_", "_$!<HomePage>!$_", "Ferienhaus", "Büro 2"]
PHONE_LABELS = ["_$!<Mobile>!$_", "iPhone", "_$!<Home>!$_", "_$!<Work>!$_", "_$!<Main>!$_", "_$!<HomeFAX>!$_",
                "_$!<Pager>!$_", "Ferienhaus", None]
EMAIL_LABELS = ["_$!<Home>!$_", "_$!<Work>!$_", "_$!<Other>!$_", "Büro 2"]
WEB_LABELS = ["_$!<HomePage>!$_", "_$!<Work>!$_"]
ENTRY_KEYS = ["Street", "City", "State", "ZIP", "Country", "CountryCode"]

FIRST = ["Anna", "Zoë", "José", "Małgorzata", "Søren", "Ngozi", "Kenji", "李", "Ana \"Nena\"", "Émile", "Olu",
         "Priya", "Hannah", "Björn", "Chloé", "Dmitri", "Fatima", "Giulia", "Hiroshi", "Inés"]
LAST = ["Smith", "O'Brien", "García", "Nowak", "Jørgensen", "Okafor", "Tanaka", "王", "Müller", "Dubois",
        "Adeyemi", "Sharma", "Schmidt, Jr.", "Lindqvist", "Martin", "Ivanov", "Haddad", "Rossi", "Sato", "Núñez"]
MIDDLE = [None, None, None, "Q.", "Marie", "Løkke"]
ORGANIZATIONS = [None, None, "Acme & Sons", "Café \"Zum Löwen\"", "<script>alert(1)</script> Ltd", "🎸 Band"]
DEPARTMENTS = [None, None, "R&D", "Sales, EMEA"]
JOB_TITLES = [None, "Engineer", "Head of 🍕", "CEO"]
PREFIXES = [None, None, "Dr.", "Prof."]
SUFFIXES = [None, None, "PhD", "Jr."]
NOTES = [None, None, "met at the conference, 2014", "likes \"quotes\", commas; and <b>tags</b>",
         "Geburtstag nicht vergessen 🎂", "?? keeps its question marks ??"]
STREETS = ["1 Infinite Loop", "Hauptstraße 5", "12 rue de la Paix", "221B Baker Street"]
CITIES = ["Cupertino", "Berlin", "Paris", "London", "Zürich"]


def _shuffled(rng, items):
    items = list(items)
    for i in range(len(items) - 1, 0, -1):
        j = rng.randint(0, i)
        items[i], items[j] = items[j], items[i]
    return items


def _picture(rng, fmt, size):
    image = Image.new("RGB", (size, size), tuple(rng.bytes(3)))
    draw = ImageDraw.Draw(image)
    draw.ellipse((size // 4, size // 4, 3 * size // 4, 3 * size // 4), fill=tuple(rng.bytes(3)))
    out = io.BytesIO()
    image.save(out, fmt)
    return out.getvalue()


def birthday_text(stored):
    """What the reader shows for a stored birthday: the date on the UTC+8 wall clock the
    program uses, or the text itself when it is not a number."""
    if stored is None:
        return ""
    try:
        seconds = float(stored)
    except ValueError:
        return stored
    whole = int(seconds)  # truncated toward zero, as the reader does
    # Only a count too large for seconds since 2001 is taken as seconds since 1970; birthdays
    # before 1970 are large negative counts since 2001.
    unix = whole if seconds >= 1e9 else whole + SECONDS_1970_TO_2001
    moment = datetime.datetime(1970, 1, 1) + datetime.timedelta(seconds=unix + 8 * 3600)
    return f"{moment.year}-{moment.month:02d}-{moment.day:02d}"


def place(record, prop, label, value):
    """Where a multi-value shows in the reader's record (independent of the reader's code)."""
    kind = {"_$!<Home>!$_": "home", "_$!<Work>!$_": "work", "_$!<Mobile>!$_": "mobile",
            "iPhone": "mobile", "_$!<HomePage>!$_": "homepage"}.get(label, "other")
    others = record["Others"]
    if prop == PHONE:
        field = {"home": "HomePhone", "work": "WorkPhone"}.get(kind)
        if field:
            if record[field]:
                others.append(value)
            else:
                record[field] = value
        else:
            if kind == "mobile":
                record["Phone"] = value
            others.append(value)
    elif prop == EMAIL:
        if not record["HomeEmail"]:
            record["HomeEmail"] = value
            if kind == "work" and not record["WorkEmail"]:
                record["WorkEmail"] = value
        elif kind == "work" and not record["WorkEmail"]:
            record["WorkEmail"] = value
        else:
            others.append(value)
    elif prop == WEB_PAGE:
        if record["HomePage"]:
            others.append(value)
        else:
            record["HomePage"] = value
    else:
        others.append(value)


class _Numbers:
    """Phone numbers whose last seven digits differ, written the many ways people do."""

    def __init__(self, rng):
        self.rng = rng
        self.used = set()

    def next(self):
        while True:
            area, exchange, line = self.rng.randint(201, 989), self.rng.randint(200, 999), self.rng.randint(0, 9999)
            tail = f"{exchange}{line:04d}"
            if tail not in self.used:
                self.used.add(tail)
                break
        style = self.rng.randint(0, 4)
        return [f"+1 ({area}) {exchange}-{line:04d}", f"{area}{exchange}{line:04d}",
                f"+1{area}{exchange}{line:04d}", f"{area}-{exchange}-{line:04d}",
                f"+49 {area} {exchange}{line:04d}"][style]


def _person(rng, index, now2001, long_note):
    first = rng.choice(FIRST)
    row = {
        "First": f"{first}{index}" if rng.randint(0, 5) else None,
        "Last": rng.choice(LAST) + f"-{index}",
        "Middle": rng.choice(MIDDLE), "Organization": rng.choice(ORGANIZATIONS),
        "Department": rng.choice(DEPARTMENTS), "JobTitle": rng.choice(JOB_TITLES),
        "Prefix": rng.choice(PREFIXES), "Suffix": rng.choice(SUFFIXES),
        "Note": ("Long note " + "étude ✓ " * 700) if long_note else rng.choice(NOTES),
        "Nickname": rng.choice([None, None, "Bud", "ミキ"]), "Kind": 0, "StoreID": 0,
        "CreationDate": now2001 - rng.randint(86400, 900 * 86400), "ModificationDate": now2001 - rng.randint(0, 86400),
    }
    pick = rng.randint(0, 9)
    if pick < 4:
        born = datetime.datetime(rng.randint(1950, 2005), rng.randint(1, 12), rng.randint(1, 28), 12)
        row["Birthday"] = f"{(born - datetime.datetime(2001, 1, 1)).total_seconds():.6f}"
    elif pick == 4:
        row["Birthday"] = "1984-02-29 (from sync)"
    else:
        row["Birthday"] = None
    row["FirstSort"] = (row["First"] or "").lower()
    row["LastSort"] = row["Last"].lower()
    return row


def _multi_values(rng, numbers, index):
    values = []
    for _ in range(rng.randint(1, 3)):
        values.append((PHONE, rng.choice(PHONE_LABELS), numbers.next(), None))
    for n in range(rng.randint(0, 2)):
        values.append((EMAIL, rng.choice(EMAIL_LABELS), f"Person{index}.{n}@Example{rng.randint(1, 99)}.com", None))
    if rng.randint(0, 2) == 0:
        values.append((WEB_PAGE, rng.choice(WEB_LABELS), f"https://example.org/~p{index}?a=1&b=\"2\"", None))
    if rng.randint(0, 3) == 0:
        parts = {"Street": rng.choice(STREETS) + f" #{index}", "City": rng.choice(CITIES), "ZIP": f"{rng.randint(10000, 99999)}"}
        values.append((ADDRESS, "_$!<Home>!$_", None, parts))
    return values


class _Book:
    def __init__(self, context, layout):
        self.rng = context.rng
        self.layout = layout
        self.modern = modern = layout != "ios5"
        self.book = DatabaseFile(page_size=4096, auto_vacuum=0, journal_mode="wal" if modern else "delete")
        self.book.db.create_function("ab_generate_guid", 0, lambda: self.rng.uuid_text())
        self.book.script(BOOKS[layout])
        self.images = DatabaseFile(page_size=8192 if modern else 4096, auto_vacuum=1 if modern else 0,
                                   journal_mode="wal" if modern else "delete")
        self.images.script(IMAGES)
        self.labels = _shuffled(self.rng, LABELS)
        self.label_ids = {text: self.book.insert("ABMultiValueLabel", {"value": text}) for text in self.labels}
        self.key_ids = {key: self.book.insert("ABMultiValueEntryKey", {"value": key})
                        for key in _shuffled(self.rng, ENTRY_KEYS)}
        self.numbers = _Numbers(self.rng.derive("numbers"))
        self.pictures = {}   # person rowid -> sha256 of the full-size picture
        self.values = {}     # person rowid -> [(uid, property, label text, value)]

    def add_person(self, index, now2001, long_note=False):
        row = _person(self.rng, index, now2001, long_note)
        if self.modern:
            row["guid"] = self.rng.uuid_text()
        # The newer columns a device fills for an ordinary card.
        if self.layout in ("ios13", "ios16", "ios18"):
            row["PreviousFamilyName"] = self.rng.choice([None, None, "Meier"])
            row["ImageType"] = "THUMBNAIL" if self.rng.randint(0, 1) else None
        if self.layout in ("ios16", "ios18"):
            row["DisplayFlags"] = self.rng.randint(0, 1)
        rowid = self.book.insert("ABPerson", row)
        self.values[rowid] = []
        for identifier, (prop, label, value, parts) in enumerate(_multi_values(self.rng, self.numbers, index)):
            mv = {"record_id": rowid, "property": prop, "identifier": identifier,
                  "label": self.label_ids.get(label) if label else None, "value": value}
            if self.modern:
                mv["guid"] = self.rng.uuid_text()
            uid = self.book.insert("ABMultiValue", mv)
            if parts:
                for key, text in parts.items():
                    self.book.insert("ABMultiValueEntry", {"parent_id": uid, "key": self.key_ids[key], "value": text})
                value = ", ".join(parts[k] for k in sorted(parts, key=lambda k: self.key_ids[k]))
            if prop == PHONE:
                digits = "".join(c for c in value if c.isdigit())
                self.book.insert("ABPhoneLastFour", {"multivalue_id": uid, "value": digits[-4:]})
            self.values[rowid].append((uid, prop, label, value))
        if self.rng.randint(0, 2) == 0:
            fmt = self.rng.choice(["PNG", "JPEG"])
            full = _picture(self.rng, fmt, 48)
            self.images.insert("ABFullSizeImage", {"record_id": rowid, "crop_x": 0, "crop_y": 0,
                                                   "crop_width": 48, "data": full})
            self.images.insert("ABThumbnailImage", {"record_id": rowid, "format": 0, "derived_from_format": 0,
                                                    "data": _picture(self.rng, "PNG", 16)})
            self.pictures[rowid] = hashlib.sha256(full).hexdigest()
        return rowid


COUNTS = {"small": (16, 5, 3, 2), "sample": (30, 6, 3, 2), "large": (300, 60, 20, 10)}


@register("contacts")
def contacts(context):
    layout = layout_of(context.props.product_version)
    people, deleted_people, deleted_values, added_later = COUNTS.get(context.profile, COUNTS["sample"])
    now2001 = context.base_time - SECONDS_1970_TO_2001
    b = _Book(context, layout)
    b.book.db.execute("BEGIN")
    rowids = [b.add_person(i, now2001, long_note=(i % 11 == 5)) for i in range(people)]
    b.book.db.execute("COMMIT")

    # The device deletes a person together with their multi-values and pictures.
    victims = []
    for rowid in _shuffled(context.rng, rowids)[:deleted_people]:
        person = b.book.delete("ABPerson", "ROWID = ?", (rowid,))[0]
        b.book.delete("ABMultiValue", "record_id = ?", (rowid,))
        for uid, *_ in b.values[rowid]:
            b.book.delete("ABPhoneLastFour", "multivalue_id = ?", (uid,))
        b.images.delete("ABFullSizeImage", "record_id = ?", (rowid,))
        b.images.delete("ABThumbnailImage", "record_id = ?", (rowid,))
        victims.append((person, b.values.pop(rowid)))
    lone = []
    survivors = [r for r in rowids if r in b.values]
    for rowid in _shuffled(context.rng, survivors)[:deleted_values]:
        phones = [v for v in b.values[rowid] if v[1] in (PHONE, EMAIL)]
        if len(phones) < 2:
            continue
        uid = phones[-1][0]
        b.book.delete("ABMultiValue", "UID = ?", (uid,))
        # Its last-four row goes with it: a later value may be given the same UID.
        b.book.delete("ABPhoneLastFour", "multivalue_id = ?", (uid,))
        b.values[rowid] = [v for v in b.values[rowid] if v[0] != uid]
        lone.append((rowid, phones[-1]))
    for i in range(added_later):
        b.add_person(people + i, now2001)

    book_bytes = b.book.finish()
    images_bytes = b.images.finish()
    truth = _truth(b, book_bytes, victims, lone, layout)
    mtime = context.base_time - 3600
    return Contribution(entries=[database_entry(DOMAIN, BOOK_PATH, book_bytes, mtime),
                                 database_entry(DOMAIN, IMAGES_PATH, images_bytes, mtime)],
                        truth=truth)


def _row_survives(data, row):
    """Whether a deleted row's record body still stands in the file. The row comes from a
    delete (rowid first, then the columns); the rowid alias column is stored as NULL."""
    values = list(row.values())[1:]
    return survives(data, [None] + values[1:])


TEXTS = ["First", "Last", "Middle", "Organization", "Department", "Note", "Birthday", "JobTitle", "Prefix", "Suffix"]


def _truth(b, book_bytes, victims, lone, layout):
    with tempfile.TemporaryDirectory(prefix="mkbackup-ab-") as folder:
        path = os.path.join(folder, "book.sqlite")
        with open(path, "wb") as f:
            f.write(book_bytes)
        db = sqlite3.connect(path)
        people_rows = db.execute("SELECT ROWID, " + ", ".join(TEXTS) + " FROM ABPerson ORDER BY ROWID").fetchall()
        db.close()
    live = []
    for row in people_rows:
        rowid = row[0]
        texts = dict(zip(TEXTS, row[1:]))
        record = {"RowID": rowid, **{k: (v or "") for k, v in texts.items()},
                  "Birthday": birthday_text(texts["Birthday"]), "BirthdayStored": texts["Birthday"],
                  "HomePhone": "", "WorkPhone": "", "Phone": "", "HomeEmail": "", "WorkEmail": "", "HomePage": "",
                  "Others": [], "ImageSha256": b.pictures.get(rowid), "Phones": [], "Emails": []}
        for _, prop, label, value in b.values[rowid]:
            place(record, prop, label, value)
            if prop == PHONE:
                record["Phones"].append(value)
            elif prop == EMAIL:
                record["Emails"].append(value)
        live.append(record)

    gone_rows = {row["UID"]: row for row in b.book.deleted.get("ABMultiValue", [])}

    def value_truth(uid, prop, label, value):
        row = gone_rows.get(uid)
        return {"UID": uid, "property": prop, "label": label, "value": value,
                "intact": row is not None and row["value"] is not None and _row_survives(book_bytes, row)}

    deleted_people = []
    for person, values in victims:
        deleted_people.append({
            "rowid": person["rowid"], **{k: person.get(k) or "" for k in TEXTS},
            "intact": _row_survives(book_bytes, person),
            "values": [value_truth(uid, prop, label, value) for uid, prop, label, value in values
                       if prop != ADDRESS],
        })
    deleted_values = [dict(value_truth(uid, prop, label, value), record_id=rowid)
                      for rowid, (uid, prop, label, value) in lone]
    return {"layout": layout, "path": BOOK_PATH, "images_path": IMAGES_PATH,
            "labels": b.labels, "people": live, "deleted_people": deleted_people,
            "deleted_multivalues": deleted_values}

"""WhatsApp's ChatStorage.sqlite with its media and thumbnail files.

The database sits in WhatsApp's app-group domain with the device's page size,
incremental auto-vacuum and write-ahead log. Chats are one-to-one sessions and a
group; messages are texts, photos (a full picture under Library/Media plus its
".thumb") and shared contacts (a vCard in the media item). The user deletes a few
messages and one whole chat the way the app does: ordinary DELETEs of the message
rows and their media items. Delivery-status updates leave stale copies of live
rows behind, as they do on a phone.

The group has named members (one known only by the name it chose, ZPUSHNAME),
group events (ZMESSAGETYPE 6 with ZGROUPEVENTTYPE: 11 created, 2 joined,
1 subject changed with the new subject as text, 3 left) and shared locations
(ZMESSAGETYPE 5, coordinates in the media item's ZLATITUDE/ZLONGITUDE).

The layout follows the system version: the iOS 15 text below is a real file's;
the 13, 16 and 18 variants are our reconstruction of how the app's model grew
(13 without the child-message counters and verification columns, 16 with the
disappearing-message columns, 18 with the edit columns), each new column in
Core Data's order (integers, keys, dates, strings, blobs).
"""

import datetime

from . import register, Contribution
from .sqlite_file import DatabaseFile, database_entry, text_survives, wal_companion
from ..properties import version_key
from .. import media
from ..entries import BackupEntry

DOMAIN = "AppDomainGroup-group.net.whatsapp.WhatsApp.shared"
DATABASE_PATH = "ChatStorage.sqlite"
SECONDS_1970_TO_2001 = 978307200

SCHEMA = """
CREATE TABLE ZWABLACKLISTITEM ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZJID VARCHAR );
CREATE TABLE ZWACHATPROPERTIES ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZALERTS INTEGER, ZENABLED INTEGER, ZCHATSESSION INTEGER, ZMUTEDATE TIMESTAMP, ZSOUNDNAME VARCHAR );
CREATE TABLE ZWACHATPUSHCONFIG ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZALERTS INTEGER, ZMUTEDUNTIL TIMESTAMP, ZJID VARCHAR, ZRINGTONE VARCHAR, ZSOUND VARCHAR );
CREATE TABLE ZWACHATSESSION ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZARCHIVED INTEGER, ZCONTACTABID INTEGER, ZFLAGS INTEGER, ZHIDDEN INTEGER, ZIDENTITYVERIFICATIONEPOCH INTEGER, ZIDENTITYVERIFICATIONSTATE INTEGER, ZMESSAGECOUNTER INTEGER, ZREMOVED INTEGER, ZSESSIONTYPE INTEGER, ZSPOTLIGHTSTATUS INTEGER, ZUNREADCOUNT INTEGER, ZGROUPINFO INTEGER, ZLASTMESSAGE INTEGER, ZPROPERTIES INTEGER, ZLASTMESSAGEDATE TIMESTAMP, ZLOCATIONSHARINGENDDATE TIMESTAMP, ZCONTACTIDENTIFIER VARCHAR, ZCONTACTJID VARCHAR, ZETAG VARCHAR, ZLASTMESSAGETEXT VARCHAR, ZPARTNERNAME VARCHAR, ZSAVEDINPUT VARCHAR );
CREATE TABLE ZWAGROUPINFO ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZSTATE INTEGER, ZCHATSESSION INTEGER, ZLASTMESSAGEOWNER INTEGER, ZCREATIONDATE TIMESTAMP, ZSUBJECTTIMESTAMP TIMESTAMP, ZCREATORJID VARCHAR, ZOWNERJID VARCHAR, ZPICTUREID VARCHAR, ZPICTUREPATH VARCHAR, ZSOURCEJID VARCHAR, ZSUBJECTOWNERJID VARCHAR );
CREATE TABLE ZWAGROUPMEMBER ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCONTACTABID INTEGER, ZISACTIVE INTEGER, ZISADMIN INTEGER, ZSENDERKEYSENT INTEGER, ZCHATSESSION INTEGER, ZRECENTGROUPCHAT INTEGER, ZCONTACTIDENTIFIER VARCHAR, ZCONTACTNAME VARCHAR, ZFIRSTNAME VARCHAR, ZMEMBERJID VARCHAR );
CREATE TABLE ZWAGROUPMEMBERSCHANGE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCHANGETYPE INTEGER, ZCHANGEDATE TIMESTAMP, ZGROUPJID VARCHAR, ZMEMBERJIDS VARCHAR, ZPHASHBEFORECHANGE VARCHAR );
CREATE TABLE ZWAMEDIAITEM ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCLOUDSTATUS INTEGER, ZFILESIZE INTEGER, ZMEDIAORIGIN INTEGER, ZMOVIEDURATION INTEGER, ZMESSAGE INTEGER, ZASPECTRATIO FLOAT, ZHACCURACY FLOAT, ZLATITUDE FLOAT, ZLONGITUDE FLOAT, ZMEDIAURLDATE TIMESTAMP, ZAUTHORNAME VARCHAR, ZCOLLECTIONNAME VARCHAR, ZMEDIALOCALPATH VARCHAR, ZMEDIAURL VARCHAR, ZTHUMBNAILLOCALPATH VARCHAR, ZTITLE VARCHAR, ZVCARDNAME VARCHAR, ZVCARDSTRING VARCHAR, ZXMPPTHUMBPATH VARCHAR, ZMEDIAKEY BLOB, ZMETADATA BLOB );
CREATE TABLE ZWAMESSAGE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCHILDMESSAGESDELIVEREDCOUNT INTEGER, ZCHILDMESSAGESPLAYEDCOUNT INTEGER, ZCHILDMESSAGESREADCOUNT INTEGER, ZDATAITEMVERSION INTEGER, ZDOCID INTEGER, ZENCRETRYCOUNT INTEGER, ZFILTEREDRECIPIENTCOUNT INTEGER, ZFLAGS INTEGER, ZGROUPEVENTTYPE INTEGER, ZISFROMME INTEGER, ZMESSAGEERRORSTATUS INTEGER, ZMESSAGESTATUS INTEGER, ZMESSAGETYPE INTEGER, ZSORT INTEGER, ZSPOTLIGHTSTATUS INTEGER, ZSTARRED INTEGER, ZCHATSESSION INTEGER, ZGROUPMEMBER INTEGER, ZLASTSESSION INTEGER, ZMEDIAITEM INTEGER, ZMESSAGEINFO INTEGER, ZPARENTMESSAGE INTEGER, ZMESSAGEDATE TIMESTAMP, ZSENTDATE TIMESTAMP, ZFROMJID VARCHAR, ZMEDIASECTIONID VARCHAR, ZPHASH VARCHAR, ZPUSHNAME VARCHAR, ZSTANZAID VARCHAR, ZTEXT VARCHAR, ZTOJID VARCHAR );
CREATE TABLE ZWAMESSAGEDATAITEM ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZINDEX INTEGER, ZOWNSTHUMBNAIL INTEGER, ZTYPE INTEGER, ZMESSAGE INTEGER, ZDATE TIMESTAMP, ZCHATJID VARCHAR, ZCONTENT1 VARCHAR, ZCONTENT2 VARCHAR, ZMATCHEDTEXT VARCHAR, ZSECTIONID VARCHAR, ZSENDERJID VARCHAR, ZSUMMARY VARCHAR, ZTHUMBNAILPATH VARCHAR, ZTITLE VARCHAR );
CREATE TABLE ZWAMESSAGEINFO ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZMESSAGE INTEGER, ZRECEIPTINFO BLOB );
CREATE TABLE ZWAPROFILEPICTUREITEM ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZREQUESTDATE TIMESTAMP, ZJID VARCHAR, ZPATH VARCHAR, ZPICTUREID VARCHAR );
CREATE TABLE ZWAPROFILEPUSHNAME ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZJID VARCHAR, ZPUSHNAME VARCHAR );
CREATE TABLE ZWAVCARDMENTION ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZISFROMME INTEGER, ZTRUSTEDWHENINDEXED INTEGER, ZMEDIAITEM INTEGER, ZDATE TIMESTAMP, ZSENDERJID VARCHAR, ZWHATSAPPID VARCHAR );
CREATE TABLE ZWAZ1PAYMENTTRANSACTION ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZAMOUNT_1000 INTEGER, ZSTATUS INTEGER, ZTYPE INTEGER, ZTIMESTAMP TIMESTAMP, ZBANKTRANSACTIONID VARCHAR, ZCREDENTIALID VARCHAR, ZCURRENCY VARCHAR, ZERRORCODE VARCHAR, ZGROUPJID VARCHAR, ZMESSAGESTANZAID VARCHAR, ZRECEIVERJID VARCHAR, ZSENDERJID VARCHAR, ZTRANSACTIONID VARCHAR, ZMETADATA BLOB );
CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);
CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);
CREATE TABLE Z_MODELCACHE (Z_CONTENT BLOB);
"""

ENTITIES = {"WAChatSession": 4, "WAGroupInfo": 6, "WAGroupMember": 7, "WAMediaItem": 8,
            "WAMessage": 9}
TEXT, IMAGE, CONTACT, LOCATION, GROUP_EVENT = 0, 1, 4, 5, 6
# ZGROUPEVENTTYPE of the group events written, with the name the reader gives each.
EVENTS = {11: "created", 2: "joined", 1: "subject-changed", 3: "left"}


def _without(sql, table, columns):
    head, _, rest = sql.partition(f"CREATE TABLE {table} ( ")
    body, _, tail = rest.partition(" );")
    kept = [c for c in body.split(", ") if c.split(" ")[0] not in columns]
    return f"{head}CREATE TABLE {table} ( {', '.join(kept)} );{tail}"


def _with_after(sql, table, after, added):
    head, _, rest = sql.partition(f"CREATE TABLE {table} ( ")
    body, _, tail = rest.partition(" );")
    columns = body.split(", ")
    at = next(i for i, c in enumerate(columns) if c.split(" ")[0] == after) + 1
    columns[at:at] = added
    return f"{head}CREATE TABLE {table} ( {', '.join(columns)} );{tail}"


def schema_of(layout):
    sql = SCHEMA
    if layout == "ios13":
        sql = _without(sql, "ZWAMESSAGE", {"ZCHILDMESSAGESDELIVEREDCOUNT", "ZCHILDMESSAGESPLAYEDCOUNT",
                                           "ZCHILDMESSAGESREADCOUNT", "ZFILTEREDRECIPIENTCOUNT"})
        sql = _without(sql, "ZWACHATSESSION", {"ZIDENTITYVERIFICATIONEPOCH", "ZIDENTITYVERIFICATIONSTATE",
                                               "ZLOCATIONSHARINGENDDATE"})
    if layout in ("ios16", "ios18"):
        sql = _with_after(sql, "ZWAMESSAGE", "ZENCRETRYCOUNT", ["ZEPHEMERALDURATION INTEGER",
                                                                 "ZEPHEMERALSETTINGTIMESTAMP INTEGER"])
        sql = _with_after(sql, "ZWACHATSESSION", "ZARCHIVED", ["ZEPHEMERALDURATION INTEGER"])
    if layout == "ios18":
        sql = _with_after(sql, "ZWAMESSAGE", "ZDOCID", ["ZEDITVERSION INTEGER"])
        sql = _with_after(sql, "ZWAMESSAGE", "ZMESSAGEDATE", ["ZLASTEDITDATE TIMESTAMP"])
        sql = _with_after(sql, "ZWAMEDIAITEM", "ZMOVIEDURATION", ["ZMEDIAORIGINV2 INTEGER"])
    return sql


def layout_of(version):
    key = version_key(version)
    if key >= version_key("18"):
        return "ios18"
    if key >= version_key("16"):
        return "ios16"
    return "ios13" if version_key("13") <= key < version_key("14") else "ios15"


# (partner name, JID) of one-to-one chats; the last is the chat the user deletes.
PARTNERS = [
    ("Jürgen Müller", "4915112345678@s.whatsapp.net"),
    ("Zoë \"Z\" O'Brien", "447700900123@s.whatsapp.net"),
    ("李小龍 🐉", "8613800138000@s.whatsapp.net"),
    ("", "5511987654321@s.whatsapp.net"),
    ("Old Flame", "33612345678@s.whatsapp.net"),
]
GROUP = ("Familie, Friends & <script>", "120363025246125488@g.us")

PHRASES = [
    "Hi! Are we still on for tonight?", "Ja, klar 😊", "Running late, sorry…",
    "Can you bring the \"good\" corkscrew?", "ok", "¿Dónde estás?", "👍👍👍",
    "Let me check, one moment", "<script>alert('x')</script>", "Price is 12,50 €, fine?",
    "Call me when you land ✈️", "晚上好", "What? Really?", "Happy birthday!!! 🎂🎉",
    "Line one\nLine two\nLine three", "   leading blanks", "Tschüss",
]

# Shared locations: latitude, longitude and the place's name (none for a dropped pin).
PLACES = [(52.516275, 13.377704, "Brandenburger Tor"), (-33.856784, 151.215297, None),
          (35.658581, 139.745433, "東京タワー")]
PUSH_NAME = "Marcos 🇧🇷"

# Contact cards shared in chats; the second name is hostile as a file name.
CARDS = [
    ("Anna Schmidt", "+49 170 1234567"),
    ("../../Boss: \"Big\" <Mike>|*?", "+1 202 555 0143"),
    ("Émile Zola", "+33 6 98 76 54 32"),
]


def vcard(name, phone):
    return ("BEGIN:VCARD\nVERSION:3.0\n"
            f"N:{name};;;;\nFN:{name}\n"
            f"TEL;type=CELL;type=VOICE;waid={''.join(c for c in phone if c.isdigit())}:{phone}\n"
            "END:VCARD")


def message_counts(profile):
    return {"small": 8, "sample": 14, "large": 120}.get(profile, 8)


class ChatBuilder:
    """Rows of the database and the media files they refer to."""

    def __init__(self, context):
        self.ctx = context
        self.rng = context.rng
        self.layout = layout_of(context.props.product_version)
        self.db = DatabaseFile(page_size=4096, auto_vacuum=2, journal_mode="wal")
        self.db.script(schema_of(self.layout))
        self.columns = {t: [r[1] for r in self.db.db.execute(f"PRAGMA table_info({t})")]
                        for t in ("ZWACHATSESSION", "ZWAMESSAGE", "ZWAMEDIAITEM", "ZWAGROUPMEMBER")}
        self.media_entries = []
        self.messages = []        # truth of every message row, live or not
        self.attachments = []     # truth of every media item
        self.clock = context.base_time - SECONDS_1970_TO_2001 - 40 * 86400
        self.card_index = 0
        self.photo_index = 0

    def next_date(self):
        self.clock += self.rng.randint(20, 7200) + self.rng.randint(0, 999) / 1000.0
        return self.clock

    def insert(self, table, row):
        """Inserts the row's columns the layout has; integers it adds are 0, as the app writes them."""
        fitted = {k: v for k, v in row.items() if k in self.columns[table]}
        for column in self.columns[table]:
            if column.startswith(("ZEPHEMERAL", "ZEDITVERSION", "ZMEDIAORIGINV2")):
                fitted.setdefault(column, 0)
        return self.db.insert(table, fitted)

    def session(self, name, jid, group=False):
        return self.insert("ZWACHATSESSION", {
            "Z_ENT": ENTITIES["WAChatSession"], "Z_OPT": self.rng.randint(1, 40), "ZARCHIVED": 0,
            "ZCONTACTABID": self.rng.randint(1, 400), "ZFLAGS": 0, "ZHIDDEN": 0,
            "ZMESSAGECOUNTER": 0, "ZREMOVED": 0, "ZSESSIONTYPE": 1 if group else 0,
            "ZSPOTLIGHTSTATUS": 1, "ZUNREADCOUNT": self.rng.randint(0, 3),
            "ZLASTMESSAGEDATE": float(self.clock), "ZCONTACTIDENTIFIER": self.rng.uuid_text(),
            "ZCONTACTJID": jid, "ZETAG": self.rng.hex(16), "ZPARTNERNAME": name or None,
            "ZLASTMESSAGETEXT": None, "ZSAVEDINPUT": None})

    def photo_files(self, folder_jid, link):
        """Media paths of one photo; link says which of its files the backup keeps."""
        digest = self.rng.hex(32)
        base = f"Media/{folder_jid}/{digest[0]}/{digest[1]}/{self.rng.uuid_text()}"
        full, thumb = "Library/" + base + ".jpg", "Library/" + base + ".thumb"
        taken = datetime.datetime.fromtimestamp(self.clock + SECONDS_1970_TO_2001,
                                                datetime.timezone.utc).replace(tzinfo=None)
        label = f"wa/{self.photo_index}"
        self.photo_index += 1
        if link in ("full", "thumb", "both"):
            if link != "thumb":
                self.media_entries.append(self.file_entry(full, label, 160, 120, taken))
            self.media_entries.append(self.file_entry(thumb, label + "/thumb", 48, 36, taken))
        return base + ".jpg", base + ".thumb", full, thumb

    def file_entry(self, path, label, width, height, taken):
        rng = self.rng.derive(label)
        return BackupEntry(DOMAIN, path, content=lambda: media.jpeg_picture(rng, width, height, taken),
                           mtime=self.ctx.base_time - 86400)

    def message(self, session_pk, jid, incoming, kind, member=None, text=None, link="both", event=0, sender=None,
                push=None, place=None):
        date = self.next_date()
        row = {
            "Z_ENT": ENTITIES["WAMessage"], "Z_OPT": self.rng.randint(1, 6),
            "ZCHILDMESSAGESDELIVEREDCOUNT": 0, "ZCHILDMESSAGESPLAYEDCOUNT": 0,
            "ZCHILDMESSAGESREADCOUNT": 0, "ZDATAITEMVERSION": 3, "ZDOCID": 0, "ZENCRETRYCOUNT": 0,
            "ZFILTEREDRECIPIENTCOUNT": 0, "ZFLAGS": 0, "ZGROUPEVENTTYPE": event,
            "ZISFROMME": 0 if incoming else 1, "ZMESSAGEERRORSTATUS": 0,
            "ZMESSAGESTATUS": 8 if incoming else 6, "ZMESSAGETYPE": kind, "ZSORT": 0,
            "ZSPOTLIGHTSTATUS": 1, "ZSTARRED": 0, "ZCHATSESSION": session_pk,
            "ZGROUPMEMBER": member, "ZLASTSESSION": None, "ZMEDIAITEM": None,
            "ZMESSAGEINFO": None, "ZPARENTMESSAGE": None, "ZMESSAGEDATE": date,
            "ZSENTDATE": date - self.rng.randint(0, 5), "ZFROMJID": jid if incoming else None,
            "ZMEDIASECTIONID": None, "ZPHASH": None, "ZPUSHNAME": push,
            "ZSTANZAID": self.rng.hex(20).upper(), "ZTEXT": text, "ZTOJID": None if incoming else jid}
        truth = {"jid": jid, "incoming": 1 if incoming else 0, "type": kind, "text": text,
                 "date": date, "stanza": row["ZSTANZAID"], "media_file": None,
                 "vcard_name": None, "session": session_pk, "sender": sender,
                 "event": EVENTS.get(event, "other") if kind == GROUP_EVENT else ""}
        media_row = None
        if kind == IMAGE:
            local, xmpp, full, thumb = self.photo_files(jid, link)
            row["ZTEXT"] = truth["text"] = None
            media_row = {"ZMEDIALOCALPATH": local, "ZXMPPTHUMBPATH": xmpp,
                         "ZTHUMBNAILLOCALPATH": None, "ZVCARDNAME": self.rng.bytes(24).hex(),
                         "ZVCARDSTRING": "image/jpeg", "ZFILESIZE": self.rng.randint(20000, 90000),
                         "ZASPECTRATIO": 1.3333}
            # Which file the message should be linked to in the backup.
            if link in ("full", "both") and "whatsapp" in full.lower():
                truth["media_file"] = full
            elif link in ("full", "thumb", "both"):
                truth["media_file"] = thumb
        elif kind == LOCATION:
            latitude, longitude, title = place
            row["ZTEXT"] = None
            truth["text"] = title
            truth["latitude"], truth["longitude"] = latitude, longitude
            media_row = {"ZLATITUDE": latitude, "ZLONGITUDE": longitude, "ZHACCURACY": 12.0, "ZTITLE": title}
        elif kind == CONTACT:
            name, phone = CARDS[self.card_index % len(CARDS)]
            self.card_index += 1
            row["ZTEXT"] = truth["text"] = name
            media_row = {"ZVCARDNAME": name, "ZVCARDSTRING": vcard(name, phone)}
            truth["vcard_name"] = name
            truth["vcard"] = media_row["ZVCARDSTRING"]
        pk = self.insert("ZWAMESSAGE", row)
        truth["pk"] = pk
        if media_row is not None and kind == LOCATION:
            media_row.update({"Z_ENT": ENTITIES["WAMediaItem"], "Z_OPT": 1, "ZMESSAGE": pk})
            item = self.insert("ZWAMEDIAITEM", media_row)
            self.db.db.execute("UPDATE ZWAMESSAGE SET ZMEDIAITEM=? WHERE Z_PK=?", (item, pk))
        elif media_row is not None:
            media_row.update({"Z_ENT": ENTITIES["WAMediaItem"], "Z_OPT": 2, "ZCLOUDSTATUS": 0,
                              "ZMEDIAORIGIN": 0, "ZMESSAGE": pk})
            item = self.insert("ZWAMEDIAITEM", media_row)
            self.db.db.execute("UPDATE ZWAMESSAGE SET ZMEDIAITEM=? WHERE Z_PK=?", (item, pk))
            self.attachments.append({"item": item, "message": pk, "date": date,
                                     "file": truth["media_file"], "vcard_name": truth["vcard_name"],
                                     "vcard": truth.get("vcard")})
        self.messages.append(truth)
        return pk

    def text(self, index):
        if index % 11 == 7:
            # Long enough to spill onto overflow pages.
            return ("Long story: " + " ".join(self.rng.choice(PHRASES) for _ in range(40))) * 3
        return self.rng.choice(PHRASES) + f" #{index}"


def build(context):
    b = ChatBuilder(context)
    count = message_counts(context.profile)
    # The group is the most recent chat, at the top of the app's list.
    group_pk = b.session(GROUP[0], GROUP[1], group=True)
    sessions = []
    for name, jid in PARTNERS:
        sessions.append((b.session(name, jid), name, jid))
    members, names = [], {}
    for i, (name, jid) in enumerate(PARTNERS[:4]):
        # The fourth member is in no address book: lines name it by the name it chose.
        known = i < 3
        pk = b.insert("ZWAGROUPMEMBER", {
            "Z_ENT": ENTITIES["WAGroupMember"], "Z_OPT": 1, "ZISACTIVE": 1, "ZISADMIN": int(i == 0),
            "ZCHATSESSION": group_pk, "ZCONTACTNAME": name if known else None,
            "ZFIRSTNAME": name.split(" ")[0] if known else None, "ZMEMBERJID": jid})
        members.append(pk)
        names[pk] = name if known else PUSH_NAME
    b.db.insert("ZWAGROUPINFO", {"Z_ENT": ENTITIES["WAGroupInfo"], "Z_OPT": 1, "ZSTATE": 0,
                                 "ZCHATSESSION": group_pk, "ZCREATIONDATE": float(b.clock),
                                 "ZCREATORJID": PARTNERS[0][1], "ZOWNERJID": PARTNERS[0][1]})

    sql = b.db.db.execute
    sql("BEGIN")
    for s, (pk, _, jid) in enumerate(sessions):
        for i in range(count):
            incoming = b.rng.randint(0, 1) == 1
            if i == 2:
                b.message(pk, jid, incoming, IMAGE, link=["both", "thumb", "none", "full", "both"][s])
            elif i == 4 and s < 3:
                b.message(pk, jid, incoming, CONTACT)
            elif i == 5 and s < 2:
                b.message(pk, jid, incoming, LOCATION, place=PLACES[s])
            else:
                b.message(pk, jid, incoming, TEXT, text=b.text(i + s * count))

    def group_line(i, incoming, kind, **more):
        member = members[i % len(members)] if incoming else None
        push = PUSH_NAME if member == members[3] else None
        return b.message(group_pk, GROUP[1], incoming, kind, member=member, push=push,
                         sender=names.get(member), **more)

    b.message(group_pk, GROUP[1], True, GROUP_EVENT, member=members[0], event=11, sender=names[members[0]])
    for i in range(count):
        incoming = i % 3 != 0
        if i == 1:
            # Group media lives under the group's JID: the full picture is not one of
            # WhatsApp's media files by its path, only its thumbnail is.
            group_line(i, incoming, IMAGE, link="both")
        elif i == 3:
            b.message(group_pk, GROUP[1], True, GROUP_EVENT, member=members[3], event=2, sender=PUSH_NAME,
                      push=PUSH_NAME)
        elif i == 5:
            b.message(group_pk, GROUP[1], True, GROUP_EVENT, member=members[1], event=1, sender=names[members[1]],
                      text="Familie 2.0 🎉")
        elif i == 6:
            group_line(i, True, LOCATION, place=PLACES[2])
        else:
            group_line(i, incoming, TEXT, text=b.text(100 + i))
    b.message(group_pk, GROUP[1], True, GROUP_EVENT, member=members[2], event=3, sender=names[members[2]])
    # An old client sent a card as plain text: it still is a shared contact.
    b.message(sessions[0][0], sessions[0][2], True, TEXT, text=vcard("Karl Kaiser", "+49 30 1234567"))
    b.messages[-1]["vcard_name"] = "Karl Kaiser"
    sql("COMMIT")

    for entity, number in ENTITIES.items():
        b.db.insert("Z_PRIMARYKEY", {"Z_ENT": number, "Z_NAME": entity, "Z_SUPER": 0, "Z_MAX": 0})

    # Read receipts rewrite a few live rows; their old versions stay in free space.
    sql("UPDATE ZWAMESSAGE SET ZMESSAGESTATUS=13, Z_OPT=Z_OPT+1 WHERE Z_PK % 5 = 0")

    # "Delete for me" on single text messages and one group event, then the whole last chat.
    live_texts = [m for m in b.messages if m["type"] == TEXT and m["text"] and len(m["text"]) < 200
                  and m["session"] != sessions[-1][0] and not m["text"].startswith("BEGIN:VCARD")]
    doomed = [live_texts[i] for i in range(1, len(live_texts), 4)]
    for m in doomed:
        b.db.delete("ZWAMESSAGE", "Z_PK = ?", (m["pk"],))
    last_pk = sessions[-1][0]
    b.db.delete("ZWAMEDIAITEM", "ZMESSAGE IN (SELECT Z_PK FROM ZWAMESSAGE WHERE ZCHATSESSION = ?)",
                (last_pk,))
    b.db.delete("ZWAMESSAGE", "ZCHATSESSION = ?", (last_pk,))
    b.db.delete("ZWACHATSESSION", "Z_PK = ?", (last_pk,))
    # Removing the chat merged pages, which rewrote the group's; what is deleted after stays.
    for m in [m for m in b.messages if m["event"] == "joined"] + [live_texts[-2]]:
        b.db.delete("ZWAMESSAGE", "Z_PK = ?", (m["pk"],))
    data = b.db.finish()
    deleted_pks = {row["Z_PK"] for row in b.db.deleted.get("ZWAMESSAGE", [])}
    wal = None
    if context.wal_history:
        wal, wal_gone = _wal_history(b, data, [m for m in live_texts if m["pk"] not in deleted_pks])
        deleted_pks |= wal_gone

    live, deleted = [], []
    for m in b.messages:
        if m["pk"] in deleted_pks:
            stanza_kept = m["stanza"].encode("utf-8") in data
            text_kept = m["text"] is None or m["text"].encode("utf-8") in data
            in_wal = wal is not None and text_survives(wal, m["stanza"], []) and (
                m["text"] is None or text_survives(wal, m["text"], []))
            deleted.append({"jid": m["jid"], "incoming": m["incoming"], "type": m["type"],
                            "text": m["text"], "date": m["date"], "sender": m["sender"], "event": m["event"],
                            "intact": bool(stanza_kept and text_kept) or bool(in_wal)})
        else:
            live.append({k: m.get(k) for k in ("pk", "jid", "incoming", "type", "text", "date",
                                                "media_file", "vcard_name", "sender", "event",
                                                "latitude", "longitude")})
    live_items = {m["pk"] for m in b.messages} - deleted_pks
    attachments = [a for a in b.attachments if a["message"] in live_items]
    chats = [{"jid": jid, "partner": name} for _, name, jid in sessions[:-1]]
    chats.append({"jid": GROUP[1], "partner": GROUP[0]})
    truth = {"domain": DOMAIN, "path": DATABASE_PATH, "layout": b.layout, "chats": chats, "messages": live,
             "attachments": attachments, "deleted": deleted}
    entries = [database_entry(DOMAIN, DATABASE_PATH, data, context.base_time - 600)]
    if wal is not None:
        entries.append(database_entry(DOMAIN, DATABASE_PATH + "-wal", wal, context.base_time - 600))
    entries.extend(b.media_entries)
    return entries, truth


def _wal_history(b, data, texts):
    """The last changes, not yet checkpointed: a message sent and deleted for me again (it
    stands only in superseded frames), and an older text deleted. Returns the log and the
    deleted messages' keys."""
    gone = texts[0]
    session, jid = gone["session"], gone["jid"]
    date = b.next_date()
    stanza = b.rng.hex(20).upper()
    text = "Sorry, wrong chat 🙈"
    row = {"Z_ENT": ENTITIES["WAMessage"], "Z_OPT": 1, "ZISFROMME": 1, "ZMESSAGESTATUS": 6,
           "ZMESSAGETYPE": TEXT, "ZCHATSESSION": session, "ZMESSAGEDATE": date, "ZSENTDATE": date,
           "ZTOJID": jid, "ZSTANZAID": stanza, "ZTEXT": text, "ZGROUPEVENTTYPE": 0}
    row = {k: v for k, v in row.items() if k in b.columns["ZWAMESSAGE"]}
    names = ",".join(row)
    pk = max(m["pk"] for m in b.messages) + 1
    insert = (f"INSERT INTO ZWAMESSAGE (Z_PK,{names}) VALUES (?,{','.join('?' * len(row))})", [pk, *row.values()])
    delete = [("DELETE FROM ZWAMESSAGE WHERE Z_PK = ?", (pk,)), ("DELETE FROM ZWAMESSAGE WHERE Z_PK = ?", (gone["pk"],))]
    wal = wal_companion(data, [[insert], delete], b.rng, keep_deleted=True)
    b.messages.append({"pk": pk, "jid": jid, "incoming": 0, "type": TEXT, "text": text, "date": date,
                       "stanza": stanza, "media_file": None, "vcard_name": None, "session": session,
                       "sender": None, "event": ""})
    return wal, {pk, gone["pk"]}


@register("whatsapp")
def whatsapp(context):
    entries, truth = build(context)
    return Contribution(entries=entries, truth=truth)

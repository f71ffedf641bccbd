"""Library/SMS/sms.db in the layout of the backup's system version, with the
attachment files the device keeps beside it, and messages deleted the way the
Messages app deletes them.

Layouts: iOS 5 (one message table: SMS columns plus the iMessage "madrid_"
columns, MMS parts in msg_pieces, files under Library/SMS/Parts), iOS 6 to 10
(handle / chat / message / attachment with join tables, dates in seconds since
2001), iOS 11 and 12 (the same tables with more columns, dates in
nanoseconds since 2001) and iOS 13 and later (messages_recent).
"""

import datetime
import re

from . import Contribution, register
from .cell_bytes import body_bytes, survives
from .sqlite_file import DatabaseFile, database_entry, select_rows, wal_companion
from ..entries import BackupEntry
from ..properties import version_key
from . import messages_recent

HOME = "HomeDomain"
MEDIA = "MediaDomain"
DB_PATH = "Library/SMS/sms.db"
MAC_EPOCH = 978307200

IOS5_SCHEMA = """
CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));
CREATE TABLE msg_group (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, type INTEGER, newest_message INTEGER, unread_count INTEGER, hash INTEGER);
CREATE TABLE group_member (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, group_id INTEGER, address TEXT, country TEXT);
CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, text TEXT, flags INTEGER, replace INTEGER, svc_center TEXT, group_id INTEGER, association_id INTEGER, height INTEGER, UIFlags INTEGER, version INTEGER, subject TEXT, country TEXT, headers BLOB, recipients BLOB, read INTEGER, madrid_attributedBody BLOB, madrid_handle TEXT, madrid_version INTEGER, madrid_guid TEXT, madrid_type INTEGER, madrid_roomname TEXT, madrid_service TEXT, madrid_account TEXT, madrid_account_guid TEXT, madrid_flags INTEGER, madrid_attachmentInfo BLOB, madrid_url TEXT, madrid_error INTEGER, is_madrid INTEGER, madrid_date_read INTEGER, madrid_date_delivered INTEGER);
CREATE TABLE msg_pieces (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, message_id INTEGER, data BLOB, part_id INTEGER, preview_part INTEGER, content_type TEXT, height INTEGER, version INTEGER, flags INTEGER, content_id TEXT, content_loc TEXT, headers BLOB);
CREATE TABLE madrid_attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, attachment_guid TEXT, created_date INTEGER, start_date INTEGER, filename TEXT, uti_type TEXT, mime_type TEXT, transfer_state INTEGER, is_incoming INTEGER, message_id INTEGER);
CREATE TABLE madrid_chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, style INTEGER, state INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, guid TEXT, room_name TEXT, account_login TEXT, participants BLOB, last_addressed_handle TEXT, display_name TEXT);
CREATE INDEX message_group_index ON message(group_id, ROWID);
CREATE INDEX message_flags_index ON message(flags);
CREATE INDEX pieces_message_index ON msg_pieces(message_id);
"""

IOS8_SCHEMA = """
CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));
CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, text TEXT, replace INTEGER DEFAULT 0, service_center TEXT, handle_id INTEGER DEFAULT 0, subject TEXT, country TEXT, attributedBody BLOB, version INTEGER DEFAULT 0, type INTEGER DEFAULT 0, service TEXT, account TEXT, account_guid TEXT, error INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, date_delivered INTEGER, is_delivered INTEGER DEFAULT 0, is_finished INTEGER DEFAULT 0, is_emote INTEGER DEFAULT 0, is_from_me INTEGER DEFAULT 0, is_empty INTEGER DEFAULT 0, is_delayed INTEGER DEFAULT 0, is_auto_reply INTEGER DEFAULT 0, is_prepared INTEGER DEFAULT 0, is_read INTEGER DEFAULT 0, is_system_message INTEGER DEFAULT 0, is_sent INTEGER DEFAULT 0, has_dd_results INTEGER DEFAULT 0, is_service_message INTEGER DEFAULT 0, is_forward INTEGER DEFAULT 0, was_downgraded INTEGER DEFAULT 0, is_archive INTEGER DEFAULT 0, cache_has_attachments INTEGER DEFAULT 0, cache_roomnames TEXT, was_data_detected INTEGER DEFAULT 0, was_deduplicated INTEGER DEFAULT 0);
CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, style INTEGER, state INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, room_name TEXT, account_login TEXT, is_archived INTEGER DEFAULT 0, last_addressed_handle TEXT, display_name TEXT);
CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, created_date INTEGER DEFAULT 0, start_date INTEGER DEFAULT 0, filename TEXT, uti TEXT, mime_type TEXT, transfer_state INTEGER DEFAULT 0, is_outgoing INTEGER DEFAULT 0, user_info BLOB, transfer_name TEXT, total_bytes INTEGER DEFAULT 0);
CREATE TABLE handle ( ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, country TEXT, service TEXT NOT NULL, uncanonicalized_id TEXT, UNIQUE (id, service) );
CREATE TABLE message_attachment_join ( message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, attachment_id INTEGER REFERENCES attachment (ROWID) ON DELETE CASCADE, UNIQUE(message_id, attachment_id));
CREATE TABLE chat_handle_join ( chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, handle_id INTEGER REFERENCES handle (ROWID) ON DELETE CASCADE, UNIQUE(chat_id, handle_id));
CREATE TABLE chat_message_join ( chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, PRIMARY KEY (chat_id, message_id));
"""

IOS12_SCHEMA = """
CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));
CREATE TABLE deleted_messages (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL);
CREATE TABLE chat_handle_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, handle_id INTEGER REFERENCES handle (ROWID) ON DELETE CASCADE, UNIQUE(chat_id, handle_id));
CREATE TABLE sync_deleted_messages (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL, recordID TEXT );
CREATE TABLE message_processing_task (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL, task_flags INTEGER NOT NULL );
CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, country TEXT, service TEXT NOT NULL, uncanonicalized_id TEXT, person_centric_id TEXT, UNIQUE (id, service) );
CREATE TABLE sync_deleted_chats (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL, recordID TEXT,timestamp INTEGER);
CREATE TABLE message_attachment_join (message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, attachment_id INTEGER REFERENCES attachment (ROWID) ON DELETE CASCADE, UNIQUE(message_id, attachment_id));
CREATE TABLE sync_deleted_attachments (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL, recordID TEXT );
CREATE TABLE kvtable (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, key TEXT UNIQUE NOT NULL, value BLOB NOT NULL);
CREATE TABLE chat_message_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, message_date INTEGER DEFAULT 0, PRIMARY KEY (chat_id, message_id));
CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, text TEXT, replace INTEGER DEFAULT 0, service_center TEXT, handle_id INTEGER DEFAULT 0, subject TEXT, country TEXT, attributedBody BLOB, version INTEGER DEFAULT 0, type INTEGER DEFAULT 0, service TEXT, account TEXT, account_guid TEXT, error INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, date_delivered INTEGER, is_delivered INTEGER DEFAULT 0, is_finished INTEGER DEFAULT 0, is_emote INTEGER DEFAULT 0, is_from_me INTEGER DEFAULT 0, is_empty INTEGER DEFAULT 0, is_delayed INTEGER DEFAULT 0, is_auto_reply INTEGER DEFAULT 0, is_prepared INTEGER DEFAULT 0, is_read INTEGER DEFAULT 0, is_system_message INTEGER DEFAULT 0, is_sent INTEGER DEFAULT 0, has_dd_results INTEGER DEFAULT 0, is_service_message INTEGER DEFAULT 0, is_forward INTEGER DEFAULT 0, was_downgraded INTEGER DEFAULT 0, is_archive INTEGER DEFAULT 0, cache_has_attachments INTEGER DEFAULT 0, cache_roomnames TEXT, was_data_detected INTEGER DEFAULT 0, was_deduplicated INTEGER DEFAULT 0, is_audio_message INTEGER DEFAULT 0, is_played INTEGER DEFAULT 0, date_played INTEGER, item_type INTEGER DEFAULT 0, other_handle INTEGER DEFAULT 0, group_title TEXT, group_action_type INTEGER DEFAULT 0, share_status INTEGER DEFAULT 0, share_direction INTEGER DEFAULT 0, is_expirable INTEGER DEFAULT 0, expire_state INTEGER DEFAULT 0, message_action_type INTEGER DEFAULT 0, message_source INTEGER DEFAULT 0, associated_message_guid TEXT, associated_message_type INTEGER DEFAULT 0, balloon_bundle_id TEXT, payload_data BLOB, expressive_send_style_id TEXT, associated_message_range_location INTEGER DEFAULT 0, associated_message_range_length INTEGER DEFAULT 0, time_expressive_send_played INTEGER, message_summary_info BLOB, ck_sync_state INTEGER DEFAULT 0, ck_record_id TEXT, ck_record_change_tag TEXT, destination_caller_id TEXT, sr_ck_sync_state INTEGER DEFAULT 0, sr_ck_record_id TEXT, sr_ck_record_change_tag TEXT, is_corrupt INTEGER DEFAULT 0);
CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, style INTEGER, state INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, room_name TEXT, account_login TEXT, is_archived INTEGER DEFAULT 0, last_addressed_handle TEXT, display_name TEXT, group_id TEXT, is_filtered INTEGER, successful_query INTEGER, engram_id TEXT, server_change_token TEXT, ck_sync_state INTEGER DEFAULT 0, original_group_id TEXT, last_read_message_timestamp INTEGER DEFAULT 0, sr_server_change_token TEXT, sr_ck_sync_state INTEGER DEFAULT 0, cloudkit_record_id TEXT, sr_cloudkit_record_id TEXT, last_addressed_sim_id TEXT);
CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, created_date INTEGER DEFAULT 0, start_date INTEGER DEFAULT 0, filename TEXT, uti TEXT, mime_type TEXT, transfer_state INTEGER DEFAULT 0, is_outgoing INTEGER DEFAULT 0, user_info BLOB, transfer_name TEXT, total_bytes INTEGER DEFAULT 0, is_sticker INTEGER DEFAULT 0, sticker_user_info BLOB, attribution_info BLOB, hide_attachment INTEGER DEFAULT 0, ck_sync_state INTEGER DEFAULT 0, ck_server_change_token_blob BLOB, ck_record_id TEXT, original_guid TEXT UNIQUE NOT NULL, sr_ck_sync_state INTEGER DEFAULT 0, sr_ck_server_change_token_blob BLOB, sr_ck_record_id TEXT);
"""

PHRASES = [
    "On my way", "Running 10 min late, sorry!", "Did you see the game last night?",
    "Can you pick up milk, eggs, and bread?", "Happy birthday!! \U0001F382\U0001F389",
    "Ok", "Call me when you can", "<script>alert(1)</script> lol", "She said \"maybe\"",
    "Treffen wir uns um 19 Uhr?", "\u00c7a va? On se voit demain", "\u4f60\u597d\uff0c\u660e\u5929\u89c1",
    "\u041f\u0440\u0438\u0432\u0435\u0442, \u043a\u0430\u043a \u0434\u0435\u043b\u0430?",
    "Is it 50% off or 30%?", "Where are the keys? Under the mat?", "\U0001F44D",
    "Flight lands 6:40pm, terminal B", "Thanks, you're the best", "What's the wifi password?",
    "Meeting moved to Thursday, 3pm", "\u00a1Feliz a\u00f1o nuevo!",
]
NAMES = ["Anna", "Jos\u00e9", "Bj\u00f6rk", "Zo\u00eb", "Mei", "Omar", "Liam", "Sofia"]


def layout_for(version):
    key = version_key(version)
    recent = messages_recent.layout_for(key)
    if recent:
        return recent
    if key < (6,):
        return "ios5"
    if key < (11,):
        return "ios8"
    return "ios12"


def date_text(unix_seconds):
    """The record date text: the UTC+8 wall clock the program shows."""
    moment = datetime.datetime(1970, 1, 1) + datetime.timedelta(seconds=unix_seconds + 8 * 3600)
    return moment.strftime("%Y-%m-%d %H:%M:%S")


class TextMaker:
    """Varied message texts, each unique so its bytes can be found in the file."""

    def __init__(self, rng):
        self.rng = rng
        self.count = 0

    def next(self):
        self.count += 1
        base = self.rng.choice(PHRASES)
        if self.count % 17 == 0:
            # Long enough to spill onto an overflow page.
            base = (base + " ") * (5000 // len(base) + 1)
        return f"{base} ~{self.count}"


def handle_ids(rng, count):
    ids = []
    for i in range(count):
        if i % 3 == 2:
            local = NAMES[i % len(NAMES)].encode("ascii", "ignore").decode().lower()
            ids.append(f"{local}{rng.randint(1, 99)}@example.com")
        else:
            ids.append(f"+1571{rng.randint(2000000, 9999999)}")
    return ids


def attachment_file(rng, name):
    if name.endswith(".jpg") or name.endswith(".JPG"):
        return b"\xff\xd8\xff\xe0" + rng.bytes(200) + b"\xff\xd9"
    return rng.bytes(120)


def sizes(context):
    """(handles, messages). A number of messages asked for gets a conversation
    for about every four hundred, as on a phone used for years."""
    if context.messages is not None:
        return max(8, min(300, context.messages // 400)), context.messages
    if context.profile == "large":
        return 24, 600
    if context.profile == "sample":
        return 6, 40
    return 8, 70


def first_date(context, message_count):
    """Messages come every hour on average: enough time before the backup for all of them."""
    return context.base_time - max(90 * 86400, message_count * 3700)


def counts(context, live, deleted):
    """The totals a scan of a big sms.db is checked against (only when a number was asked for)."""
    if context.messages is None:
        return {}
    return {"counts": {"live": len(live), "deleted": len(deleted),
                       "conversations": len({m["chat"] for m in live})}}


GUID = re.compile(rb"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")


def guid_positions(data):
    """Where each upper-case guid stands in the file: one pass over a big file
    instead of a search of all of it for every deleted row."""
    positions = {}
    for match in GUID.finditer(data):
        positions.setdefault(match.group(), []).append(match.start())
    return positions


@register("messages")
def messages(context):
    layout = layout_for(context.props.product_version)
    if layout == "ios5":
        return build_ios5(context)
    if layout in messages_recent.SCHEMAS:
        return messages_recent.build_recent(context, layout)
    return build_modern(context, layout)


def build_modern(context, layout):
    rng = context.rng
    ns = layout == "ios12"
    handle_count, message_count = sizes(context)
    texts = TextMaker(rng)
    db = DatabaseFile(page_size=4096, auto_vacuum=2 if layout == "ios8" else 0, journal_mode="wal")
    db.script(IOS8_SCHEMA if layout == "ios8" else IOS12_SCHEMA)
    entries = []
    mtime = context.base_time - 3600

    def stored_date(unix):
        mac = unix - MAC_EPOCH
        return mac * 1_000_000_000 if ns else mac

    addresses = handle_ids(rng, handle_count)
    handles = {}
    chats = {}
    db.db.execute("BEGIN")
    for address in addresses:
        service = "iMessage" if "@" in address or rng.randint(0, 1) else "SMS"
        row = {"id": address, "country": "us", "service": service, "uncanonicalized_id": None}
        if ns:
            row["person_centric_id"] = None
        rowid = db.insert("handle", row)
        handles[rowid] = address
        chat = db.insert("chat", {"guid": f"{service};-;{address}", "style": 45, "state": 3,
                                  "account_id": rng.uuid_text(), "chat_identifier": address,
                                  "service_name": service, "account_login": "E:me@example.com",
                                  "last_addressed_handle": "+15550001111", "display_name": ""})
        db.insert("chat_handle_join", {"chat_id": chat, "handle_id": rowid})
        chats[rowid] = chat
    # A group chat: messages sent to it carry handle_id 0, received ones the sender.
    group_members = list(handles)[:3]
    group_identifier = f"chat{rng.randint(100000000, 999999999)}"
    group_chat = db.insert("chat", {"guid": f"iMessage;+;{group_identifier}", "style": 43, "state": 3,
                                    "account_id": rng.uuid_text(), "chat_identifier": group_identifier,
                                    "service_name": "iMessage", "room_name": group_identifier,
                                    "account_login": "E:me@example.com", "display_name": "Weekend \U0001F3D5"})
    for member in group_members:
        db.insert("chat_handle_join", {"chat_id": group_chat, "handle_id": member})
    # One handle that never got a message: it makes no conversation.
    silent = db.insert("handle", dict({"id": "+15550009999", "country": "us", "service": "SMS",
                                       "uncanonicalized_id": None}, **({"person_centric_id": None} if ns else {})))
    handles[silent] = "+15550009999"

    unix = first_date(context, message_count)
    messages = []   # dicts describing each message
    attachment_number = 0
    for n in range(message_count):
        unix += rng.randint(30, 7200)
        in_group = n % 7 == 3
        from_me = rng.randint(0, 1)
        if in_group:
            handle = 0 if from_me else rng.choice(group_members)
            chat = group_chat
            address = group_identifier if handle == 0 else handles[handle]
        else:
            handle = rng.choice([h for h in chats])
            chat = chats[handle]
            address = handles[handle]
        text = texts.next()
        attachments = []
        if n % 9 == 4:
            attachments = 2 if n % 18 == 4 else 1
            text = "\ufffc" if n % 4 else text
        row = {"guid": rng.uuid_text().upper(), "text": text, "handle_id": handle,
               "service": "iMessage" if in_group else "SMS", "account": "e:me@example.com",
               "date": stored_date(unix), "date_read": stored_date(unix + 60) if not from_me else 0,
               "date_delivered": stored_date(unix + 2) if from_me else 0, "is_delivered": 1,
               "is_finished": 1, "is_from_me": from_me, "is_read": 0 if from_me else 1,
               "is_sent": from_me, "cache_has_attachments": 1 if attachments else 0,
               "cache_roomnames": group_identifier if in_group else None}
        rowid = db.insert("message", row)
        join = {"chat_id": chat, "message_id": rowid}
        if ns:
            join["message_date"] = row["date"]
        db.insert("chat_message_join", join)
        files = []
        for k in range(attachments or 0):
            attachment_number += 1
            guid = rng.uuid_text().upper()
            ext, mime = ("jpg", "image/jpeg") if k == 0 else ("mov", "video/quicktime")
            name = f"IMG_{attachment_number:04d}.{ext}"
            relative = f"Library/SMS/Attachments/{rng.hex(2)}/{attachment_number:02d}/{guid}/{name}"
            arow = {"guid": guid, "created_date": row["date"], "start_date": 0,
                    "filename": "~/" + relative, "uti": "public.jpeg" if k == 0 else "com.apple.quicktime-movie",
                    "mime_type": mime, "transfer_state": 5, "is_outgoing": from_me,
                    "transfer_name": name, "total_bytes": 200}
            if ns:
                arow["original_guid"] = guid
            attachment = db.insert("attachment", arow)
            db.insert("message_attachment_join", {"message_id": rowid, "attachment_id": attachment})
            entries.append(BackupEntry(domain=MEDIA, path=relative, content=attachment_file(rng, name),
                                       mtime=mtime))
            files.append({"relative": relative, "name": name, "mime": mime})
        messages.append({"rowid": rowid, "address": address, "text": text, "unix": unix,
                         "is_from_me": from_me, "handle": handle, "chat": chat, "files": files})
    # An attachment row whose file path tries to leave the backup: it must match nothing.
    hostile = {"guid": rng.uuid_text().upper(), "filename": "~/../../etc/passwd", "mime_type": "text/plain",
               "transfer_name": "passwd"}
    if ns:
        hostile["original_guid"] = hostile["guid"]
    db.insert("attachment", hostile)
    db.db.execute("COMMIT")

    # Deletions: single messages of live handles, and one whole conversation with its handle.
    doomed_handle = list(chats)[-1]
    deleted = []
    db.db.execute("BEGIN")     # one commit, not one per row: a big sms.db deletes thousands
    for m in messages:
        gone = (m["handle"] == doomed_handle) or (m["rowid"] % 6 == 1 and m["handle"] != 0 and not m["files"])
        if gone:
            # By the whole key: message_id alone has no index of its own.
            db.delete("chat_message_join", "chat_id = ? AND message_id = ?", (m["chat"], m["rowid"]))
            db.delete("message", "ROWID = ?", (m["rowid"],))
            deleted.append(m)
    db.delete("chat_handle_join", "handle_id = ?", (doomed_handle,))
    db.delete("chat", "ROWID = ?", (chats[doomed_handle],))
    db.delete("handle", "ROWID = ?", (doomed_handle,))
    db.db.execute("COMMIT")
    data = db.finish()
    entries.append(database_entry(HOME, DB_PATH, data, mtime))

    gone_ids = {m["rowid"] for m in deleted}
    gone_rows = {row["rowid"]: row for row in db.deleted.get("message", [])}
    live = [m for m in messages if m["rowid"] not in gone_ids]
    names = {handles[h]: NAMES[i % len(NAMES)] for i, h in enumerate(handles)}
    # Each record body starts with its guid (the rowid alias is stored as NULL).
    positions = guid_positions(data)
    deleted_rows = [deleted_truth(m, data, gone_rows, positions) for m in deleted]
    if context.wal_history:
        wal, live, in_wal = wal_history(rng, data, live, texts, chats, unix, plain_insert(stored_date))
        entries.append(BackupEntry(domain=HOME, path=DB_PATH + "-wal", content=wal, mtime=mtime))
        deleted_rows += in_wal
    return Contribution(entries=entries, truth={
        "layout": layout,
        "group": {"identifier": group_identifier, "members": [handles[h] for h in group_members]},
        "live": [live_truth(m) for m in live],
        "deleted": deleted_rows,
        "names": names,
    } | counts(context, live, deleted))


def plain_insert(stored_date):
    """Writes a new message m as the iOS 6 to 12 layouts hold one; returns its rowid."""
    def insert_row(db, m):
        return db.execute("INSERT INTO message (guid, text, handle_id, service, account, date, is_from_me, is_sent, "
                          "is_finished, is_delivered) VALUES (?, ?, ?, 'SMS', 'e:me@example.com', ?, ?, ?, 1, 1)",
                          (m["guid"], m["text"], m["handle"], stored_date(m["unix"]), m["is_from_me"],
                           m["is_from_me"])).lastrowid
    return insert_row


def text_edit(m, text):
    """The statements that give message m a new text."""
    return [("UPDATE message SET text = ? WHERE ROWID = ?", (text, m["rowid"]))]


def wal_history(rng, data, live, texts, chats, unix, insert_row, edit=text_edit):
    """The -wal of the messages written, edited and deleted since the last checkpoint: new
    messages (some deleted again, so they stand only in superseded frames), one live message
    edited (its old text is no deleted message) and a few older messages deleted.
    insert_row(db, m) writes a new message and returns its rowid; edit(m, text) gives the
    statements of the edit. Returns the log, the live messages after it, and the truth of
    the rows it deleted."""
    # Messages that stand alone: no attachment, tapback, edit or unsend of their own.
    plain = [m for m in live if m["handle"] in chats and not m["files"] and not m.get("reaction_rows")
             and not m.get("edited") and not m.get("unsent")]
    edited, doomed_old = plain[0], plain[1:4]
    # Only parties whose conversation is still there.
    address_of = {m["handle"]: m["address"] for m in live if m["handle"] in chats}
    added = []
    for n in range(4):
        unix += rng.randint(30, 600)
        handle = rng.choice(sorted(address_of))
        added.append({"address": address_of[handle], "text": texts.next(), "unix": unix, "is_from_me": n % 2,
                      "handle": handle, "chat": chats[handle], "files": [], "guid": rng.uuid_text().upper()})
    edited_text = texts.next()
    doomed = doomed_old + added[:2]
    removed = []

    def insert(db):
        for m in added:
            m["rowid"] = insert_row(db, m)
            db.execute("INSERT INTO chat_message_join (chat_id, message_id) VALUES (?, ?)", (m["chat"], m["rowid"]))

    def delete(db):
        for m in doomed:
            removed.extend(select_rows(db, "message", "ROWID = ?", (m["rowid"],)))
            db.execute("DELETE FROM chat_message_join WHERE chat_id = ? AND message_id = ?", (m["chat"], m["rowid"]))
            db.execute("DELETE FROM message WHERE ROWID = ?", (m["rowid"],))

    wal = wal_companion(data, [[insert], edit(edited, edited_text), [delete]], rng, keep_deleted=True)
    edited["text"] = edited_text
    gone = {m["rowid"] for m in doomed}
    rows = {row["rowid"]: row for row in removed}
    in_wal = []
    for m in doomed:
        values = [None] + list(rows[m["rowid"]].values())[2:]
        in_wal.append({"address": m["address"], "text": m["text"], "date": date_text(m["unix"]),
                       "is_from_me": m["is_from_me"], "intact": survives(data, values) or survives(wal, values),
                       "wal": True})
    return wal, [m for m in live + added if m["rowid"] not in gone], in_wal


def live_truth(m):
    first = m["files"][0] if m["files"] else None
    return {"rowid": m["rowid"], "address": m["address"], "text": m["text"], "date": date_text(m["unix"]),
            "is_from_me": m["is_from_me"], "attachment": first["relative"] if first else None,
            "attachment_name": first["name"] if first else None, "mime": first["mime"] if first else None}


def deleted_truth(m, data, rows, guid_at=None):
    # The row's record body still in the file means its cell survived (guids and texts are
    # unique). The rowid alias column is stored as NULL. `guid_at` (guid -> offsets) looks
    # only where a body starting with its guid can stand.
    row = rows[m["rowid"]]
    values = [None] + list(row.values())[2:]
    if guid_at is None:
        intact = survives(data, values)
    else:
        body = body_bytes(values)
        intact = any(data.startswith(body, at) for at in guid_at.get(values[1].encode("ascii"), ()))
    return {"address": m["address"], "text": m["text"], "date": date_text(m["unix"]),
            "is_from_me": m["is_from_me"], "intact": intact}


def build_ios5(context):
    rng = context.rng
    handle_count, message_count = sizes(context)
    texts = TextMaker(rng)
    db = DatabaseFile(page_size=4096, auto_vacuum=0, journal_mode="wal")
    db.script(IOS5_SCHEMA)
    entries = []
    mtime = context.base_time - 3600
    addresses = handle_ids(rng, handle_count)
    groups = {}
    db.db.execute("BEGIN")
    for address in addresses:
        groups[address] = db.insert("msg_group", {"type": 0, "newest_message": 0, "unread_count": 0,
                                                  "hash": rng.randint(1, 1 << 30)})
        db.insert("group_member", {"group_id": groups[address], "address": address, "country": "us"})
    unix = first_date(context, message_count)
    messages = []
    for n in range(message_count):
        unix += rng.randint(30, 7200)
        address = rng.choice(addresses)
        from_me = rng.randint(0, 1)
        madrid = "@" in address or n % 3 == 0
        text = texts.next()
        if madrid:
            row = {"address": None, "date": unix - MAC_EPOCH, "text": text, "flags": 0, "replace": 0,
                   "group_id": 0, "association_id": 0, "height": 0, "UIFlags": 0, "version": 0,
                   "read": 1, "madrid_handle": address, "madrid_version": 1,
                   "madrid_guid": rng.uuid_text().upper(), "madrid_type": 0, "madrid_service": "iMessage",
                   "madrid_account": "me@example.com", "madrid_flags": 36869 if from_me else 12289,
                   "madrid_error": 0, "is_madrid": 1, "madrid_date_read": unix - MAC_EPOCH + 30,
                   "madrid_date_delivered": unix - MAC_EPOCH + 2}
        else:
            row = {"address": address, "date": unix, "text": text, "flags": 3 if from_me else 2, "replace": 0,
                   "svc_center": None, "group_id": groups[address], "association_id": 0, "height": 0,
                   "UIFlags": 4, "version": 0, "country": "us", "read": 1, "madrid_flags": 0,
                   "madrid_error": 0, "is_madrid": 0, "madrid_date_read": 0, "madrid_date_delivered": 0}
        rowid = db.insert("message", row)
        files = []
        if not madrid and n % 8 == 5:
            # An MMS: text part plus picture parts, kept as Parts/<xx>/<yy>/<ROWID>-<part>.jpg.
            db.insert("msg_pieces", {"message_id": rowid, "data": text.encode(), "part_id": 0,
                                     "preview_part": 0, "content_type": "text/plain", "version": 0,
                                     "flags": 0, "content_loc": "text_0001.txt"})
            for part in (1, 2) if n % 16 == 5 else (1,):
                db.insert("msg_pieces", {"message_id": rowid, "data": None, "part_id": part,
                                         "preview_part": 0, "content_type": "image/jpeg", "version": 0,
                                         "flags": 0, "content_loc": f"IMG_{part:04d}.jpg"})
                name = f"{rowid}-{part}.jpg"
                relative = f"Library/SMS/Parts/{rowid % 256:02x}/{rowid % 13:02d}/{name}"
                entries.append(BackupEntry(domain=MEDIA, path=relative, content=attachment_file(rng, name),
                                           mtime=mtime))
                # The preview the device keeps beside the part is no attachment of its own.
                entries.append(BackupEntry(domain=MEDIA,
                                           path=relative.replace(".jpg", "-preview-left.jpg"),
                                           content=attachment_file(rng, name), mtime=mtime))
                files.append({"relative": relative, "name": name, "mime": "image/jpeg"})
        messages.append({"rowid": rowid, "address": address, "text": text, "unix": unix,
                         "is_from_me": from_me, "handle": address, "chat": address, "files": files})
    db.db.execute("COMMIT")
    doomed = addresses[-1]
    deleted = []
    db.db.execute("BEGIN")
    for m in messages:
        if m["address"] == doomed or (m["rowid"] % 6 == 1 and not m["files"]):
            db.delete("message", "ROWID = ?", (m["rowid"],))
            deleted.append(m)
    db.delete("group_member", "address = ?", (doomed,))
    db.delete("msg_group", "ROWID = ?", (groups[doomed],))
    db.db.execute("COMMIT")
    data = db.finish()
    entries.append(database_entry(HOME, DB_PATH, data, mtime))
    gone_ids = {m["rowid"] for m in deleted}
    gone_rows = {row["rowid"]: row for row in db.deleted.get("message", [])}
    live = [m for m in messages if m["rowid"] not in gone_ids]
    return Contribution(entries=entries, truth={
        "layout": "ios5",
        "group": None,
        "live": [live_truth(m) for m in live],
        "deleted": [deleted_truth(m, data, gone_rows) for m in deleted],
        "names": {a: NAMES[i % len(NAMES)] for i, a in enumerate(addresses)},
    } | counts(context, live, deleted))

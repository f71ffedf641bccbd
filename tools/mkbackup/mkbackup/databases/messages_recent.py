"""sms.db of iOS 13 and later: the iOS 11 tables with the columns later systems
appended, written the way newer phones write a conversation: the body only in
attributedBody for many messages, edited and unsent messages (iOS 16+),
tapbacks as rows of their own that name the message they answer, audio
messages and attachments of several kinds. Deletions go by SQL DELETE and the
truth says which deleted rows still stand in the file; with --wal-history the
last changes stay in a -wal beside it, as for the older layouts.

Column orders: the iOS 12 tables of a real device file, then the columns each
later system appended at the end of its table, in the order published
schema dumps of those systems' Messages databases list them.
"""

import plistlib

from .cell_bytes import body_bytes
from .sqlite_file import DatabaseFile, database_entry
from ..entries import BackupEntry
from ..typedstream import attributed_string
from . import Contribution
from . import messages as base

_COMMON = """
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
"""

_MESSAGE_IOS12 = "ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, text TEXT, replace INTEGER DEFAULT 0, service_center TEXT, handle_id INTEGER DEFAULT 0, subject TEXT, country TEXT, attributedBody BLOB, version INTEGER DEFAULT 0, type INTEGER DEFAULT 0, service TEXT, account TEXT, account_guid TEXT, error INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, date_delivered INTEGER, is_delivered INTEGER DEFAULT 0, is_finished INTEGER DEFAULT 0, is_emote INTEGER DEFAULT 0, is_from_me INTEGER DEFAULT 0, is_empty INTEGER DEFAULT 0, is_delayed INTEGER DEFAULT 0, is_auto_reply INTEGER DEFAULT 0, is_prepared INTEGER DEFAULT 0, is_read INTEGER DEFAULT 0, is_system_message INTEGER DEFAULT 0, is_sent INTEGER DEFAULT 0, has_dd_results INTEGER DEFAULT 0, is_service_message INTEGER DEFAULT 0, is_forward INTEGER DEFAULT 0, was_downgraded INTEGER DEFAULT 0, is_archive INTEGER DEFAULT 0, cache_has_attachments INTEGER DEFAULT 0, cache_roomnames TEXT, was_data_detected INTEGER DEFAULT 0, was_deduplicated INTEGER DEFAULT 0, is_audio_message INTEGER DEFAULT 0, is_played INTEGER DEFAULT 0, date_played INTEGER, item_type INTEGER DEFAULT 0, other_handle INTEGER DEFAULT 0, group_title TEXT, group_action_type INTEGER DEFAULT 0, share_status INTEGER DEFAULT 0, share_direction INTEGER DEFAULT 0, is_expirable INTEGER DEFAULT 0, expire_state INTEGER DEFAULT 0, message_action_type INTEGER DEFAULT 0, message_source INTEGER DEFAULT 0, associated_message_guid TEXT, associated_message_type INTEGER DEFAULT 0, balloon_bundle_id TEXT, payload_data BLOB, expressive_send_style_id TEXT, associated_message_range_location INTEGER DEFAULT 0, associated_message_range_length INTEGER DEFAULT 0, time_expressive_send_played INTEGER, message_summary_info BLOB, ck_sync_state INTEGER DEFAULT 0, ck_record_id TEXT, ck_record_change_tag TEXT, destination_caller_id TEXT, sr_ck_sync_state INTEGER DEFAULT 0, sr_ck_record_id TEXT, sr_ck_record_change_tag TEXT, is_corrupt INTEGER DEFAULT 0"
_CHAT_IOS12 = "ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, style INTEGER, state INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, room_name TEXT, account_login TEXT, is_archived INTEGER DEFAULT 0, last_addressed_handle TEXT, display_name TEXT, group_id TEXT, is_filtered INTEGER, successful_query INTEGER, engram_id TEXT, server_change_token TEXT, ck_sync_state INTEGER DEFAULT 0, original_group_id TEXT, last_read_message_timestamp INTEGER DEFAULT 0, sr_server_change_token TEXT, sr_ck_sync_state INTEGER DEFAULT 0, cloudkit_record_id TEXT, sr_cloudkit_record_id TEXT, last_addressed_sim_id TEXT"
_ATTACHMENT_IOS12 = "ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, created_date INTEGER DEFAULT 0, start_date INTEGER DEFAULT 0, filename TEXT, uti TEXT, mime_type TEXT, transfer_state INTEGER DEFAULT 0, is_outgoing INTEGER DEFAULT 0, user_info BLOB, transfer_name TEXT, total_bytes INTEGER DEFAULT 0, is_sticker INTEGER DEFAULT 0, sticker_user_info BLOB, attribution_info BLOB, hide_attachment INTEGER DEFAULT 0, ck_sync_state INTEGER DEFAULT 0, ck_server_change_token_blob BLOB, ck_record_id TEXT, original_guid TEXT UNIQUE NOT NULL, sr_ck_sync_state INTEGER DEFAULT 0, sr_ck_server_change_token_blob BLOB, sr_ck_record_id TEXT"

# iOS 13: replies by guid, a sort key and the spam flag at the end of message.
_MESSAGE_IOS13 = _MESSAGE_IOS12 + ", reply_to_guid TEXT, sort_id INTEGER, is_spam INTEGER DEFAULT 0"
# iOS 14 to 16: mentions and inline replies (14), shared-with-you ranges and quiet delivery (15),
# unsend, edit and the part count (16).
_MESSAGE_IOS16 = _MESSAGE_IOS13 + ", has_unseen_mention INTEGER DEFAULT 0, thread_originator_guid TEXT, thread_originator_part TEXT, syndication_ranges TEXT, synced_syndication_ranges TEXT, was_delivered_quietly INTEGER DEFAULT 0, did_notify_recipient INTEGER DEFAULT 0, date_retracted INTEGER, date_edited INTEGER, was_detonated INTEGER DEFAULT 0, part_count INTEGER"
# iOS 17 and 18: satellite and key-transparency flags (17), emoji tapbacks, scheduled sends (18).
_MESSAGE_IOS18 = _MESSAGE_IOS16 + ", is_stewie INTEGER DEFAULT 0, is_sos INTEGER DEFAULT 0, is_critical INTEGER DEFAULT 0, bia_reference_id TEXT, is_kt_verified INTEGER DEFAULT 0, fallback_hash TEXT, associated_message_emoji TEXT, is_pending_satellite_send INTEGER DEFAULT 0, needs_relay INTEGER DEFAULT 0, schedule_type INTEGER DEFAULT 0, schedule_state INTEGER DEFAULT 0, sent_or_received_off_grid INTEGER DEFAULT 0"
_CHAT_IOS13 = _CHAT_IOS12 + ", is_blackholed INTEGER DEFAULT 0"
_CHAT_IOS16 = _CHAT_IOS13 + ", syndication_date INTEGER DEFAULT 0, syndication_type INTEGER DEFAULT 0, is_recovered INTEGER DEFAULT 0"
_CHAT_IOS18 = _CHAT_IOS16 + ", is_deleting_incoming_messages INTEGER DEFAULT 0"
_ATTACHMENT_IOS16 = _ATTACHMENT_IOS12 + ", is_commsafety_sensitive INTEGER DEFAULT 0"
_ATTACHMENT_IOS18 = _ATTACHMENT_IOS16 + ", emoji_image_content_identifier TEXT, emoji_image_short_description TEXT, preview_generation_state INTEGER DEFAULT 0"
# iOS 16 keeps messages the owner deleted for 30 days ("Recently Deleted").
_RECOVERABLE = """
CREATE TABLE chat_recoverable_message_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, delete_date INTEGER, ck_sync_state INTEGER DEFAULT 0, PRIMARY KEY (chat_id, message_id));
CREATE TABLE recoverable_message_part (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, part_index INTEGER, delete_date INTEGER, part_text BLOB NOT NULL, ck_sync_state INTEGER DEFAULT 0, PRIMARY KEY (chat_id, message_id, part_index));
"""


def _tables(message, chat, attachment):
    return (f"CREATE TABLE message ({message});\nCREATE TABLE chat ({chat});\n"
            f"CREATE TABLE attachment ({attachment});\n")


SCHEMAS = {
    # iOS 13 (2019)
    "ios13": _COMMON + _tables(_MESSAGE_IOS13, _CHAT_IOS13, _ATTACHMENT_IOS12),
    # iOS 16 (2022)
    "ios16": _COMMON + _RECOVERABLE + _tables(_MESSAGE_IOS16, _CHAT_IOS16, _ATTACHMENT_IOS16),
    # iOS 18 (2024)
    "ios18": _COMMON + _RECOVERABLE + _tables(_MESSAGE_IOS18, _CHAT_IOS18, _ATTACHMENT_IOS18),
}

# associated_message_type: 2000 + kind adds a tapback, 3000 + kind takes it back.
TAPBACKS = ["love", "like", "dislike", "laugh", "emphasize", "question"]
TAPBACK_VERBS = ["Loved", "Liked", "Disliked", "Laughed at", "Emphasized", "Questioned"]

# (extension, mime type, uti) of the attachments phones send.
KINDS = [("jpg", "image/jpeg", "public.jpeg"), ("heic", "image/heic", "public.heic"),
         ("mov", "video/quicktime", "com.apple.quicktime-movie"), ("pdf", "application/pdf", "com.adobe.pdf"),
         ("vcf", "text/vcard", "public.vcard"), ("png", "image/png", "public.png")]
AUDIO = ("caf", "audio/x-caf", "com.apple.coreaudio-format")


def layout_for(key):
    """The layout of a system version key (tuple), or None below iOS 13."""
    if key >= (18,):
        return "ios18"
    if key >= (16,):
        return "ios16"
    if key >= (13,):
        return "ios13"
    return None


def _summary_info(edited_from=None, unsent=False, date=0):
    """message_summary_info: a binary plist; "ec" keeps an edited part's earlier bodies,
    "rp" the parts that were unsent."""
    info = {"amc": 1, "ust": True}
    if edited_from is not None:
        info["ec"] = {"0": [{"t": attributed_string(edited_from), "d": date}]}
    if unsent:
        info["rp"] = [0]
    return plistlib.dumps(info, fmt=plistlib.FMT_BINARY)


class _Writer:
    """Rows of one sms.db in a newer layout, with what the truth needs about each."""

    def __init__(self, context, layout):
        self.context = context
        self.rng = context.rng
        self.layout = layout
        self.newer = layout != "ios13"   # edit and unsend came with iOS 16
        self.db = DatabaseFile(page_size=4096, auto_vacuum=0, journal_mode="wal")
        self.db.script(SCHEMAS[layout])
        self.entries = []
        self.mtime = context.base_time - 3600
        self.messages = []
        self.attachment_number = 0

    def stored_date(self, unix):
        return (unix - base.MAC_EPOCH) * 1_000_000_000

    def handle(self, address, service):
        return self.db.insert("handle", {"id": address, "country": "us", "service": service,
                                         "uncanonicalized_id": None, "person_centric_id": None})

    def chat(self, identifier, service, group_name=None):
        row = {"guid": f"{service};{'+' if group_name else '-'};{identifier}", "style": 43 if group_name else 45,
               "state": 3, "account_id": self.rng.uuid_text(), "chat_identifier": identifier,
               "service_name": service, "account_login": "E:me@example.com", "display_name": group_name or ""}
        if group_name:
            row["room_name"] = identifier
        return self.db.insert("chat", row)

    def body_only_in_archive(self):
        # iOS 16 and later leave text empty for most messages; iOS 13 for some.
        return self.rng.randint(0, 99) < (70 if self.newer else 20)

    def message_row(self, handle, unix, from_me, text, **extra):
        archive_only = extra.pop("archive_only", False)
        row = {"guid": self.rng.uuid_text().upper(), "text": None if archive_only or not text else text,
               "handle_id": handle, "attributedBody": attributed_string(text) if text else None,
               "service": "iMessage", "account": "e:me@example.com", "date": self.stored_date(unix),
               "date_read": self.stored_date(unix + 60) if not from_me else 0,
               "date_delivered": self.stored_date(unix + 2) if from_me else 0, "is_delivered": 1,
               "is_finished": 1, "is_from_me": from_me, "is_read": 0 if from_me else 1, "is_sent": from_me,
               "sort_id": 0} | extra
        if self.newer:
            row.setdefault("part_count", 1)
        return row

    def message(self, chat, handle, unix, from_me, text, **extra):
        row = self.message_row(handle, unix, from_me, text, **extra)
        rowid = self.db.insert("message", row)
        self.db.insert("chat_message_join", {"chat_id": chat, "message_id": rowid, "message_date": row["date"]})
        return rowid, row["guid"]

    def insert_into(self, connection, m):
        """Writes new message m (a plain one) through an open connection, the -wal's; returns its rowid."""
        row = self.message_row(m["handle"], m["unix"], m["is_from_me"], m["text"],
                               archive_only=self.body_only_in_archive()) | {"guid": m["guid"]}
        m |= {"edited": False, "unsent": False, "audio": False, "reactions": []}
        cursor = connection.execute(f"INSERT INTO message ({', '.join(row)}) VALUES ({', '.join('?' * len(row))})",
                                    list(row.values()))
        return cursor.lastrowid

    def edit(self, m, text):
        """The statements that give message m a new body: iOS 16 on marks it edited and keeps
        the earlier body in the summary; before, only the body is rewritten."""
        changes = {"text": text, "attributedBody": attributed_string(text)}
        if self.newer:
            changes |= {"date_edited": self.stored_date(m["unix"] + 40), "message_summary_info":
                        _summary_info(edited_from=m["text"], date=self.stored_date(m["unix"]))}
            m["edited"] = True
        assignments = ", ".join(f"{name} = ?" for name in changes)
        return [(f"UPDATE message SET {assignments} WHERE ROWID = ?", [*changes.values(), m["rowid"]])]

    def attachment(self, message_rowid, unix, from_me, kind, name=None):
        self.attachment_number += 1
        ext, mime, uti = kind
        guid = self.rng.uuid_text().upper()
        name = name or f"IMG_{self.attachment_number:04d}.{ext}"
        relative = f"Library/SMS/Attachments/{self.rng.hex(2)}/{self.attachment_number:02d}/{guid}/{name}"
        row = {"guid": guid, "created_date": self.stored_date(unix), "start_date": 0, "filename": "~/" + relative,
               "uti": uti, "mime_type": mime, "transfer_state": 5, "is_outgoing": from_me, "transfer_name": name,
               "total_bytes": 200, "original_guid": guid}
        rowid = self.db.insert("attachment", row)
        self.db.insert("message_attachment_join", {"message_id": message_rowid, "attachment_id": rowid})
        self.entries.append(BackupEntry(domain=base.MEDIA, path=relative,
                                        content=base.attachment_file(self.rng, name), mtime=self.mtime))
        return {"rowid": rowid, "relative": relative, "name": name, "mime": mime}


def build_recent(context, layout):
    w = _Writer(context, layout)
    rng, db = w.rng, w.db
    handle_count, message_count = base.sizes(context)
    texts = base.TextMaker(rng)
    addresses = base.handle_ids(rng, handle_count)
    handles, chats = {}, {}
    db.db.execute("BEGIN")
    for address in addresses:
        rowid = w.handle(address, "iMessage")
        handles[rowid] = address
        chats[rowid] = w.chat(address, "iMessage")
        db.insert("chat_handle_join", {"chat_id": chats[rowid], "handle_id": rowid})
    group_members = list(handles)[:3]
    group_identifier = f"chat{rng.randint(100000000, 999999999)}"
    group_chat = w.chat(group_identifier, "iMessage", "Weekend \U0001F3D5")
    for member in group_members:
        db.insert("chat_handle_join", {"chat_id": group_chat, "handle_id": member})

    unix = base.first_date(context, message_count)
    messages = []
    for n in range(message_count):
        unix += rng.randint(30, 7200)
        in_group = n % 7 == 3
        from_me = rng.randint(0, 1)
        if in_group:
            handle = 0 if from_me else rng.choice(group_members)
            chat, address = group_chat, group_identifier if from_me else handles[handle]
        else:
            handle = rng.choice(list(chats))
            chat, address = chats[handle], handles[handle]
        m = {"address": address, "unix": unix, "is_from_me": from_me, "handle": handle, "chat": chat,
             "files": [], "edited": False, "unsent": False, "audio": False, "reactions": []}
        text = texts.next()
        extra = {"archive_only": w.body_only_in_archive(), "cache_roomnames": group_identifier if in_group else None}
        if w.newer and n % 11 == 5:
            # Edited: the latest body only; the earlier one stays in the summary.
            earlier, text = text, texts.next()
            extra |= {"date_edited": w.stored_date(unix + 40), "message_summary_info":
                      _summary_info(edited_from=earlier, date=w.stored_date(unix))}
            m["edited"] = True
        elif w.newer and n % 13 == 6:
            # Unsent: no body at all, only the date it was taken back.
            text = ""
            extra |= {"date_retracted": w.stored_date(unix + 30), "part_count": 0,
                      "message_summary_info": _summary_info(unsent=True)}
            m["unsent"] = True
        elif n % 10 == 7:
            text = "\ufffc"
            extra |= {"is_audio_message": 1, "cache_has_attachments": 1, "archive_only": False}
            m["audio"] = True
        elif n % 9 == 4:
            text = "\ufffc" if n % 4 else text
            extra |= {"cache_has_attachments": 1}
        rowid, guid = w.message(chat, handle, unix, from_me, text, **extra)
        m |= {"rowid": rowid, "guid": guid, "text": text}
        if m["audio"]:
            m["files"].append(w.attachment(rowid, unix, from_me, AUDIO, name="Audio Message.caf"))
        elif extra.get("cache_has_attachments"):
            for k in range(2 if n % 18 == 4 else 1):
                m["files"].append(w.attachment(rowid, unix, from_me, KINDS[(n // 9 + k) % len(KINDS)]))
        messages.append(m)
        if n % 5 == 2 and not m["unsent"]:
            unix = _react(w, m, group_chat, group_members, handles, unix)

    hostile = {"guid": rng.uuid_text().upper(), "filename": "~/../../etc/passwd", "mime_type": "text/plain",
               "transfer_name": "passwd"}
    hostile["original_guid"] = hostile["guid"]
    db.insert("attachment", hostile)
    db.db.execute("COMMIT")

    # Deletions: single messages of live handles (an attachment's row and join with its
    # message; the file lingers until the device clears it), and one whole conversation.
    doomed_handle = list(chats)[-1]
    deleted, deleted_files = [], []
    db.db.execute("BEGIN")
    for m in messages:
        gone = m["handle"] == doomed_handle or (m["rowid"] % 6 == 1 and m["handle"] != 0 and not m["unsent"])
        if not gone:
            continue
        db.delete("chat_message_join", "chat_id = ? AND message_id = ?", (m["chat"], m["rowid"]))
        for f in m["files"]:
            db.delete("message_attachment_join", "message_id = ? AND attachment_id = ?", (m["rowid"], f["rowid"]))
            db.delete("attachment", "ROWID = ?", (f["rowid"],))
            deleted_files.append(f)
        for r in m.get("reaction_rows", ()):
            db.delete("chat_message_join", "chat_id = ? AND message_id = ?", (m["chat"], r))
            db.delete("message", "ROWID = ?", (r,))
        db.delete("message", "ROWID = ?", (m["rowid"],))
        deleted.append(m)
    db.delete("chat_handle_join", "handle_id = ?", (doomed_handle,))
    db.delete("chat", "ROWID = ?", (chats[doomed_handle],))
    db.delete("handle", "ROWID = ?", (doomed_handle,))
    db.db.execute("COMMIT")
    data = db.finish()
    w.entries.append(database_entry(base.HOME, base.DB_PATH, data, w.mtime))

    gone_ids = {m["rowid"] for m in deleted}
    gone_rows = {row["rowid"]: row for row in db.deleted.get("message", [])}
    gone_attachments = {row["rowid"]: row for row in db.deleted.get("attachment", [])}
    live = [m for m in messages if m["rowid"] not in gone_ids]
    positions = base.guid_positions(data)
    deleted_rows = [base.deleted_truth(m, data, gone_rows, positions) for m in deleted]
    if context.wal_history:
        wal, live, in_wal = base.wal_history(rng, data, live, texts, chats, unix, w.insert_into, w.edit)
        w.entries.append(BackupEntry(domain=base.HOME, path=base.DB_PATH + "-wal", content=wal, mtime=w.mtime))
        deleted_rows += in_wal
    return Contribution(entries=w.entries, truth={
        "layout": layout,
        "group": {"identifier": group_identifier, "members": [handles[h] for h in group_members]},
        "live": [_live_truth(m) for m in live],
        "deleted": deleted_rows,
        "deleted_attachments": [{"path": f["relative"], "intact": _attachment_survives(
            data, gone_attachments[f["rowid"]], positions)} for f in deleted_files],
        "names": {handles[h]: base.NAMES[i % len(base.NAMES)] for i, h in enumerate(handles)},
    } | base.counts(context, live, deleted))


def _react(w, m, group_chat, group_members, handles, unix):
    """Tapbacks on message m: one from the party that did not write it, sometimes one
    from the other side that is later taken back."""
    rng = w.rng
    # The row's handle: the other party of a one-to-one chat whoever reacts; in a group
    # the member who reacts, 0 for the owner.
    in_group = m["chat"] == group_chat
    member = m["handle"] or group_members[0]

    def party(from_me):
        return (0 if from_me else member) if in_group else m["handle"]

    kind = rng.randint(0, len(TAPBACKS) - 1)
    first_from_me = 0 if m["is_from_me"] else 1
    steps = [(kind, False, first_from_me)]
    if rng.randint(0, 2) == 0:
        other = (kind + 1) % len(TAPBACKS)
        steps += [(other, False, 1 - first_from_me), (other, True, 1 - first_from_me)]
    reactions, rows = [], []
    for kind_now, removal, from_me in steps:
        unix += rng.randint(5, 300)
        prefix = "p:0/" if rng.randint(0, 1) else "bp:"
        text = f"{'Removed a' if removal else TAPBACK_VERBS[kind_now]} \u201c{m['text'][:20]}\u201d"
        rowid, _ = w.message(m["chat"], party(from_me), unix, from_me, text,
                             associated_message_guid=prefix + m["guid"],
                             associated_message_type=(3000 if removal else 2000) + kind_now,
                             associated_message_range_length=len(m["text"]))
        rows.append(rowid)
        sender = "" if from_me else handles[party(from_me)]
        if removal:
            reactions = [r for r in reactions if (r["kind"], r["from"]) != (TAPBACKS[kind_now], sender)]
        else:
            reactions.append({"kind": TAPBACKS[kind_now], "from_me": from_me, "from": sender})
    m["reactions"] = reactions
    m["reaction_rows"] = rows
    return unix


def _live_truth(m):
    return base.live_truth(m) | {"edited": m["edited"], "unsent": m["unsent"], "audio": m["audio"],
                                 "reactions": m["reactions"],
                                 "attachments": [f["relative"] for f in m["files"]]}


def _attachment_survives(data, row, guid_at):
    values = [None] + list(row.values())[2:]
    body = body_bytes(values)
    return any(data.startswith(body, at) for at in guid_at.get(values[1].encode("ascii"), ()))

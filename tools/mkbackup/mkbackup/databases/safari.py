"""Library/Safari/Bookmarks.db and History.db.

Bookmarks sit in folders (folders have no url; one folder is deleted, its
bookmarks then belong nowhere); some bookmarks are deleted the way Safari does
it. The history has several visits of some pages, with their times in
seconds since 2001, and a visit whose page row is missing. Some pages are
cleared from the history (their visits, then the page row) and some single
visits deleted, by ordinary DELETEs; later visits reuse some of the space. The
truth says of each deleted visit whether its row and its page's address still
stand in the file (the page row whole, with its id). With wal_history the last visits, one of them deleted again,
and one more deleted visit stand only in a -wal.
"""

from . import Contribution, register
from .cell_bytes import cell_survives, survives
from .sqlite_file import DatabaseFile, database_entry, wal_companion

HOME = "HomeDomain"
BOOKMARKS_PATH = "Library/Safari/Bookmarks.db"
HISTORY_PATH = "Library/Safari/History.db"
MAC_EPOCH = 978307200
LATE_VISITS = 2  # visits after the deletions; each may take the place of a deleted one

BOOKMARKS_SCHEMA = """
CREATE TABLE generations (generation INTEGER NOT NULL);
CREATE TABLE sync_properties (key TEXT NOT NULL, value TEXT NOT NULL);
CREATE TABLE bookmarks (id INTEGER PRIMARY KEY, special_id INTEGER DEFAULT 0, parent INTEGER, type INTEGER, title TEXT, url TEXT COLLATE NOCASE, num_children INTEGER DEFAULT 0, editable INTEGER DEFAULT 1, deletable INTEGER DEFAULT 1, hidden INTEGER DEFAULT 0, hidden_ancestor_count INTEGER DEFAULT 0, order_index INTEGER NOT NULL, external_uuid TEXT, read INTEGER DEFAULT NULL, last_modified REAL DEFAULT NULL, server_id TEXT, sync_key TEXT, sync_data BLOB, added INTEGER DEFAULT 1, deleted INTEGER DEFAULT 0, extra_attributes BLOB DEFAULT NULL, local_attributes BLOB DEFAULT NULL, fetched_icon BOOL DEFAULT 0, icon BLOB DEFAULT NULL, dav_generation INTEGER DEFAULT 0, locally_added BOOL DEFAULT 0, archive_status INTEGER DEFAULT 0, syncable BOOL DEFAULT 1, web_filter_status INTEGER DEFAULT 0);
CREATE TABLE bookmark_title_words (id INTEGER PRIMARY KEY, bookmark_id INTEGER NOT NULL CONSTRAINT fk_bookmark_id REFERENCES bookmarks(id) ON DELETE CASCADE, word TEXT, word_index INTEGER);
CREATE TABLE folder_ancestors (id INTEGER PRIMARY KEY, folder_id INTEGER NOT NULL CONSTRAINT fk_ancestors_folder_id REFERENCES bookmarks(id) ON DELETE CASCADE, ancestor_id INTEGER NOT NULL);
"""

HISTORY_SCHEMA = """
CREATE TABLE history_items (id INTEGER PRIMARY KEY AUTOINCREMENT,url TEXT NOT NULL UNIQUE,domain_expansion TEXT NULL,visit_count INTEGER NOT NULL,daily_visit_counts BLOB NOT NULL,weekly_visit_counts BLOB NULL,autocomplete_triggers BLOB NULL,should_recompute_derived_visit_counts INTEGER NOT NULL,visit_count_score INTEGER NOT NULL);
CREATE TABLE history_visits (id INTEGER PRIMARY KEY AUTOINCREMENT,history_item INTEGER NOT NULL REFERENCES history_items(id) ON DELETE CASCADE,visit_time REAL NOT NULL,title TEXT NULL,load_successful BOOLEAN NOT NULL DEFAULT 1,http_non_get BOOLEAN NOT NULL DEFAULT 0,synthesized BOOLEAN NOT NULL DEFAULT 0,redirect_source INTEGER NULL UNIQUE REFERENCES history_visits(id) ON DELETE CASCADE,redirect_destination INTEGER NULL UNIQUE REFERENCES history_visits(id) ON DELETE CASCADE,origin INTEGER NOT NULL DEFAULT 0,generation INTEGER NOT NULL DEFAULT 0,attributes INTEGER NOT NULL DEFAULT 0,score INTEGER NOT NULL DEFAULT 0);
CREATE TABLE history_tombstones (id INTEGER PRIMARY KEY AUTOINCREMENT,start_time REAL NOT NULL,end_time REAL NOT NULL,url TEXT,generation INTEGER NOT NULL DEFAULT 0);
CREATE TABLE metadata (key TEXT NOT NULL UNIQUE, value);
CREATE TABLE history_client_versions (client_version INTEGER PRIMARY KEY,last_seen REAL NOT NULL);
CREATE TABLE history_event_listeners (listener_name TEXT PRIMARY KEY NOT NULL UNIQUE,last_seen REAL NOT NULL);
CREATE TABLE history_events (id INTEGER PRIMARY KEY AUTOINCREMENT,event_type TEXT NOT NULL,event_time REAL NOT NULL,pending_listeners TEXT NOT NULL,value BLOB);
"""

SITES = [("Wikipedia – Die freie Enzyklopädie", "https://de.wikipedia.org/wiki/"),
         ("Новости", "https://news.example.ru/"), ("天気予報", "https://tenki.example.jp/"),
         ("Rezepte \"schnell\", einfach", "https://kochen.example.de/rezepte"),
         ("<script>alert('x')</script>", "https://evil.example.com/?q=<script>"),
         ("Emoji 🎉 party", "https://party.example.org/🎉"), ("Bank, online", "https://bank.example.com/login"),
         ("Maps", "https://maps.example.com/@52.5,13.4"), ("Café ☕ finder", "https://cafe.example.net/")]
FOLDERS = ["BookmarksBar", "Favoriten", "Reisen ✈", "Work, old"]


def _counts(profile):
    return {"sample": (30, 40), "small": (40, 50), "large": (3000, 5000)}.get(profile, (30, 40))


def _bookmarks(context):
    rng = context.rng
    db = DatabaseFile(page_size=4096, auto_vacuum=0, journal_mode="wal")
    db.script(BOOKMARKS_SCHEMA)
    db.insert("generations", {"generation": 1})
    db.db.execute("BEGIN")
    root = db.insert("bookmarks", {"special_id": 0, "parent": None, "type": 1, "title": "Root",
                                   "url": None, "order_index": 0, "external_uuid": "Root"})
    folders = [root]
    for order, title in enumerate(FOLDERS):
        folders.append(db.insert("bookmarks", {"parent": root, "type": 1, "title": title, "url": None,
                                               "order_index": order, "num_children": 3,
                                               "external_uuid": rng.uuid_text()}))
    count, _ = _counts(context.profile)
    rows = []
    for index in range(count):
        title, url = SITES[index % len(SITES)]
        title = f"{title} {index}" if index % 5 else f"{title} ({rng.hex(6)})"
        if index % 13 == 6:
            title = None  # a bookmark may have no title
        url = f"{url}{index}?ref={rng.hex(8)}"
        if index % 17 == 8:
            url += "&pad=" + "x" * rng.randint(4200, 6000)  # longer than a page
        row = {"parent": rng.choice(folders), "type": 0, "title": title, "url": url,
               "order_index": index, "external_uuid": rng.uuid_text(), "read": None,
               "last_modified": float(context.base_time - MAC_EPOCH - rng.randint(0, 9_000_000)),
               "added": 1, "deleted": 0, "fetched_icon": rng.randint(0, 1), "syncable": 1}
        row["id"] = db.insert("bookmarks", row)
        rows.append(row)
    db.db.execute("COMMIT")
    doomed = [row for i, row in enumerate(rows) if i % 4 == 2]
    for row in doomed:
        db.delete("bookmarks", "id = ?", (row["id"],))
    db.delete("bookmarks", "id = ?", (folders[-1],))  # a deleted folder has no url: never listed
    # Bookmarks added after the deletions reuse space and possibly the largest freed id.
    db.db.execute("BEGIN")
    for extra in range(3):
        row = {"parent": root, "type": 0, "title": f"Later {extra} – {rng.hex(4)}",
               "url": f"https://later.example.com/{extra}", "order_index": count + extra,
               "external_uuid": rng.uuid_text()}
        row["id"] = db.insert("bookmarks", row)
        rows.append(row)
    db.db.execute("COMMIT")
    data = db.finish()
    doomed_ids = {row["id"] for row in doomed}
    # A bookmark's folder by title; none at the top or when its folder was deleted.
    titles = {folder: title for folder, title in zip(folders[1:-1], FOLDERS)}
    live = [{"title": r["title"] or "", "url": r["url"], "folder": titles.get(r["parent"], "")}
            for r in rows if r["id"] not in doomed_ids]
    deleted = [{"title": r["title"] or "", "url": r["url"], "folder": titles.get(r["parent"], ""),
                "intact": r["external_uuid"].encode() in data and r["url"][:60].encode("utf-8") in data}
               for r in doomed]
    return data, live, deleted


def _row_values(connection, table, rowid):
    values = list(connection.execute(f'SELECT * FROM "{table}" WHERE id = ?', (rowid,)).fetchone())
    values[0] = None  # the rowid alias is stored as Null
    return values


def _history(context):
    rng = context.rng.derive("history")
    db = DatabaseFile(page_size=4096, auto_vacuum=0, journal_mode="wal")
    db.script(HISTORY_SCHEMA)
    _, count = _counts(context.profile)
    db.db.execute("BEGIN")
    items = []
    for index in range(max(3, count // 3)):
        title, url = SITES[index % len(SITES)]
        url = f"{url}page/{index}"
        item = db.insert("history_items", {"url": url, "visit_count": 0, "daily_visit_counts": b"",
                                           "should_recompute_derived_visit_counts": 0,
                                           "visit_count_score": 0})
        items.append((item, url, title))
    visits = []

    def visit(connection, index, item, url, title):
        visit_title = None if index % 10 == 7 else f"{title} · {index % 3}"
        visit_time = float(context.base_time - MAC_EPOCH - index * 97) + index % 10 / 10
        cursor = connection.execute("INSERT INTO history_visits (history_item, title, visit_time) VALUES (?, ?, ?)",
                                    (item, visit_title, visit_time))
        return {"id": cursor.lastrowid, "item": item, "title": visit_title or "", "url": url,
                "visit_time": visit_time}

    for index in range(count):
        item, url, title = items[index % len(items)] if index % 2 else rng.choice(items)
        visits.append(visit(db.db, index, item, url, title))
    # A visit whose page row is gone has no url and is not listed.
    db.insert("history_visits", {"history_item": 999999, "title": "Orphan visit", "visit_time": 1.0})
    db.db.execute("COMMIT")
    # Pages cleared from the history, then single visits of pages kept; later visits follow.
    cleared = {item for n, (item, _, _) in enumerate(items) if n % 5 == 2}
    removed = []  # (visit, its values, its page's values or None when the page stays)
    db.db.execute("BEGIN")
    for v in [v for v in visits if v["item"] in cleared]:
        removed.append((v, _row_values(db.db, "history_visits", v["id"]), v["item"]))
        db.db.execute("DELETE FROM history_visits WHERE id = ?", (v["id"],))
    page_values = {item: _row_values(db.db, "history_items", item) for item in cleared}
    for item in sorted(cleared):
        db.db.execute("DELETE FROM history_items WHERE id = ?", (item,))
    for n, v in enumerate(visits):
        if v["item"] not in cleared and n % 4 == 1:
            removed.append((v, _row_values(db.db, "history_visits", v["id"]), None))
            db.db.execute("DELETE FROM history_visits WHERE id = ?", (v["id"],))
    gone = {v["id"] for v, _, _ in removed}
    kept = [entry for entry in items if entry[0] not in cleared]
    for index in range(count, count + LATE_VISITS):
        visits.append(visit(db.db, index, *kept[index % len(kept)]))
    db.db.execute("COMMIT")
    live = [v for v in visits if v["id"] not in gone]
    data = db.finish()
    wal = None
    if context.wal_history:
        wal, live, in_wal = _history_wal(rng, data, live, kept, count + LATE_VISITS, visit)
        removed += in_wal
    deleted = []
    for v, values, item in removed:
        where = [data] if wal is None else [data, wal]
        # Without its row id a page's address cannot be told to be this visit's.
        page_ok = item is None or any(cell_survives(b, item, page_values[item]) for b in where)
        deleted.append({"title": v["title"], "url": v["url"], "visit_time": v["visit_time"],
                        "intact": page_ok and any(survives(b, values) for b in where)})
    return data, wal, [{k: v[k] for k in ("title", "url", "visit_time")} for v in live], deleted


def _history_wal(rng, data, live, kept, first, visit):
    """Two visits written after the last checkpoint, the first deleted again together with
    the oldest live visit: the log holds the only copies of the first."""
    added, removed = [], []

    def insert(connection):
        for index in range(first, first + 2):
            added.append(visit(connection, index, *kept[index % len(kept)]))

    def delete(connection):
        for v in (added[0], live[0]):
            removed.append((v, _row_values(connection, "history_visits", v["id"]), None))
            connection.execute("DELETE FROM history_visits WHERE id = ?", (v["id"],))

    wal = wal_companion(data, [[insert], [delete]], rng, keep_deleted=True)
    return wal, live[1:] + added[1:], removed


@register("safari")
def safari(context):
    bookmarks, live, deleted = _bookmarks(context)
    history, history_wal, visits, deleted_visits = _history(context)
    entries = [database_entry(HOME, BOOKMARKS_PATH, bookmarks, context.base_time - 3600),
               database_entry(HOME, HISTORY_PATH, history, context.base_time - 600)]
    if history_wal is not None:
        entries.append(database_entry(HOME, HISTORY_PATH + "-wal", history_wal, context.base_time - 600))
    truth = {"bookmarks": live, "deleted_bookmarks": deleted, "visits": visits, "deleted_visits": deleted_visits}
    return Contribution(entries=entries, truth=truth)

"""Builds one SQLite file the way the device leaves it.

Every category module makes its database through `DatabaseFile`: the page size,
auto-vacuum and journal mode of the real file, the real CREATE TABLE texts, rows
inserted in order, and rows removed with an ordinary DELETE while
secure_delete is off, so the deleted cells stay in free space as they do on a
phone. Each delete is recorded, so the module can put what it removed into the
ground truth.
"""

import os
import sqlite3
import struct
import tempfile

from ..entries import BackupEntry, CLASS_UNTIL_FIRST_AUTH


class DatabaseFile:
    def __init__(self, page_size=4096, auto_vacuum=0, journal_mode="delete", encoding="UTF-8"):
        self._folder = tempfile.TemporaryDirectory(prefix="mkbackup-db-")
        self.path = os.path.join(self._folder.name, "db.sqlite")
        self.journal_mode = journal_mode.lower()
        self.db = sqlite3.connect(self.path, isolation_level=None)
        self.db.execute(f"PRAGMA page_size={int(page_size)}")
        self.db.execute(f"PRAGMA auto_vacuum={int(auto_vacuum)}")
        self.db.execute(f"PRAGMA encoding='{encoding}'")
        self.db.execute("PRAGMA secure_delete=OFF")
        if self.journal_mode == "wal":
            self.db.execute("PRAGMA journal_mode=WAL")
        self.deleted = {}    # table -> [row dict, ...] in delete order

    def script(self, sql):
        """Runs CREATE TABLE / CREATE INDEX / CREATE TRIGGER texts as they stand."""
        self.db.executescript(sql)

    def insert(self, table, row):
        """Inserts one row given as {column: value}; returns its rowid."""
        columns = list(row)
        marks = ",".join("?" for _ in columns)
        names = ",".join(f'"{c}"' for c in columns)
        cursor = self.db.execute(f'INSERT INTO "{table}" ({names}) VALUES ({marks})',
                                 [row[c] for c in columns])
        return cursor.lastrowid

    def insert_many(self, table, rows):
        self.db.execute("BEGIN")
        ids = [self.insert(table, row) for row in rows]
        self.db.execute("COMMIT")
        return ids

    def delete(self, table, where, params=()):
        """Deletes the rows `where` selects and returns them as dicts (with "rowid")."""
        cursor = self.db.execute(f'SELECT rowid AS rowid, * FROM "{table}" WHERE {where}', params)
        names = [d[0] for d in cursor.description]
        rows = [dict(zip(names, values)) for values in cursor.fetchall()]
        self.db.execute(f'DELETE FROM "{table}" WHERE {where}', params)
        self.deleted.setdefault(table, []).extend(rows)
        return rows

    def rows(self, table, order="rowid"):
        cursor = self.db.execute(f'SELECT rowid AS rowid, * FROM "{table}" ORDER BY {order}')
        names = [d[0] for d in cursor.description]
        return [dict(zip(names, values)) for values in cursor.fetchall()]

    def finish(self):
        """Closes the file and returns its bytes. A WAL-mode file is checkpointed into the
        main file first, so the bytes hold every row and the header keeps the WAL mark."""
        if self.journal_mode == "wal":
            self.db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
        self.db.close()
        with open(self.path, "rb") as f:
            data = f.read()
        self._folder.cleanup()
        return data


WAL_HEADER = 32
WAL_FRAME_HEADER = 24


def wal_companion(data, transactions, rng, keep_deleted=False):
    """The -wal file a live WAL-mode database `data` has beside it when each
    of `transactions` (lists of (sql, parameters), or of callables given the
    connection) is committed but not yet checkpointed. The main file is
    unchanged by them. With keep_deleted, deleted cells keep their bytes
    (secure_delete off), as on a phone.

    SQLite salts a new WAL with random bytes; they are replaced from `rng`
    and the checksums redone, so the same seed gives the same file."""
    with tempfile.TemporaryDirectory(prefix="mkbackup-wal-") as folder:
        path = os.path.join(folder, "db.sqlite")
        with open(path, "wb") as out:
            out.write(data)
        db = sqlite3.connect(path, isolation_level=None)
        try:
            db.execute("PRAGMA wal_autocheckpoint=0")
            if keep_deleted:
                db.execute("PRAGMA secure_delete=OFF")
            if db.execute("PRAGMA journal_mode").fetchone()[0] != "wal":
                raise ValueError("the database is not in WAL mode")
            for statements in transactions:
                db.execute("BEGIN")
                for step in statements:
                    if callable(step):
                        step(db)
                    else:
                        db.execute(*step)
                db.execute("COMMIT")
            # Read while the connection is open: closing would checkpoint it away.
            with open(path + "-wal", "rb") as source:
                wal = source.read()
            with open(path, "rb") as source:
                if source.read() != data:
                    raise RuntimeError("SQLite checkpointed into the main file")
        finally:
            db.close()
    return _with_salt(wal, rng.bytes(8))


def _wal_checksum(data, s1, s2, little_endian):
    words = struct.unpack(("<" if little_endian else ">") + f"{len(data) // 4}I", data)
    for i in range(0, len(words), 2):
        s1 = (s1 + words[i] + s2) & 0xFFFFFFFF
        s2 = (s2 + words[i + 1] + s1) & 0xFFFFFFFF
    return s1, s2


def _with_salt(wal, salt):
    """The WAL with its salt replaced in the header and every frame, and the
    chained checksums recomputed to match."""
    magic, _, page_size = struct.unpack_from(">III", wal, 0)
    little = magic & 1 == 0
    out = bytearray(wal)
    out[16:24] = salt
    checksum = _wal_checksum(bytes(out[:24]), 0, 0, little)
    out[24:32] = struct.pack(">II", *checksum)
    frame = WAL_FRAME_HEADER + page_size
    if (len(out) - WAL_HEADER) % frame:
        raise ValueError("the WAL does not end on a frame")
    for start in range(WAL_HEADER, len(out), frame):
        out[start + 8:start + 16] = salt
        checksum = _wal_checksum(bytes(out[start:start + 8]), *checksum, little)
        checksum = _wal_checksum(bytes(out[start + WAL_FRAME_HEADER:start + frame]), *checksum,
                                 little)
        out[start + 16:start + 24] = struct.pack(">II", *checksum)
    return bytes(out)


def database_entry(domain, path, data, mtime, protection_class=CLASS_UNTIL_FIRST_AUTH):
    """The backup entry that carries a database file."""
    return BackupEntry(domain=domain, path=path, content=data, mtime=mtime,
                       protection_class=protection_class)


def truth_rows(rows, columns):
    """The ground-truth form of rows: only the columns a test compares, JSON-ready."""
    def plain(value):
        if isinstance(value, bytes):
            return value.hex()
        return value
    return [{c: plain(row.get(c)) for c in columns} for row in rows]


def select_rows(db, table, where, params=()):
    """The rows `where` selects from an open connection, as dicts with "rowid"."""
    cursor = db.execute(f'SELECT rowid AS rowid, * FROM "{table}" WHERE {where}', params)
    names = [d[0] for d in cursor.description]
    return [dict(zip(names, values)) for values in cursor.fetchall()]

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

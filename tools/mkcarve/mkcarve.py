#!/usr/bin/python3
"""Generates SQLite databases of many shapes, with a ground truth of every record
version that ever existed, for measuring a deleted-record carver.

    mkcarve.py --out DIR [--seed N]

For each case DIR holds NAME.sqlite (plus NAME.sqlite-wal or NAME.sqlite-journal) and
NAME.truth.json:

    {"encoding": "UTF-8", "tables": {name: {"columns": [...], "ipk": index|null,
                                           "without_rowid": bool}},
     "versions": [{"table", "rowid", "values", "state", "survives"}],
     "dropped_schema": [{"type", "name", "tbl_name", "sql"}]}

Values are JSON as `sieve carve --json` writes them (blobs {"base64": ...}).
"state" is "live" (SQLite returns it from the file as saved, WAL applied),
"deleted", "superseded" (an older version of an updated row), "dropped" (a row
of a dropped table) or "uncommitted" (written in a transaction that never
committed: frames past the log's last commit, or pages spilled into the main
file beside a hot journal that SQLite rolls back on open).

When a version "survives": the generator encodes the version's cell exactly as
SQLite writes it (payload length and rowid varints, record header, body, the
local part and the overflow pages cut by the file's usable page size) and
searches the bytes of the main file, the log and the journal. The first four
bytes of a cell are left out of the search, because freeing a cell into a
freeblock overwrites them with the freeblock header (a carver rebuilds them
from the table's shape); the rest of the local part must appear contiguously
and every overflow page's content must appear whole. A live version is never
counted as surviving. Every version carries a value no other version has, so a
byte match cannot belong to another version.
"""

import argparse
import base64
import json
import os
import random
import shutil
import sqlite3
import struct
import tempfile

# ---- record encoding (the SQLite file format, record and cell layout) ----


def varint(v):
    v &= (1 << 64) - 1
    if v > 0x00FFFFFFFFFFFFFF:
        out = bytearray([v & 0xFF])
        v >>= 8
        for _ in range(8):
            out.insert(0, (v & 0x7F) | 0x80)
            v >>= 7
        return bytes(out)
    parts = [v & 0x7F]
    v >>= 7
    while v:
        parts.append((v & 0x7F) | 0x80)
        v >>= 7
    return bytes(reversed(parts))


def serial(value, encoding):
    if value is None:
        return 0, b""
    if isinstance(value, float):
        return 7, struct.pack(">d", value)
    if isinstance(value, int):
        if value == 0:
            return 8, b""
        if value == 1:
            return 9, b""
        for code, size in ((1, 1), (2, 2), (3, 3), (4, 4), (5, 6)):
            if -(1 << (8 * size - 1)) <= value < (1 << (8 * size - 1)):
                return code, value.to_bytes(size, "big", signed=True)
        return 6, value.to_bytes(8, "big", signed=True)
    if isinstance(value, str):
        data = value.encode({"UTF-8": "utf-8", "UTF-16le": "utf-16-le", "UTF-16be": "utf-16-be"}[encoding])
        return 13 + 2 * len(data), data
    data = bytes(value)
    return 12 + 2 * len(data), data


def record(values, encoding):
    types, body = b"", b""
    for v in values:
        code, data = serial(v, encoding)
        types += varint(code)
        body += data
    size = len(types) + 1
    if len(varint(size + len(types))) > 1:  # the header size counts its own varint
        size = len(types) + 2
    return varint(size) + types + body


def split_payload(payload, usable, index_page):
    """Local bytes and overflow chunks of a payload on a leaf page."""
    p = len(payload)
    x = usable - 35 if not index_page else ((usable - 12) * 64 // 255) - 23
    if p <= x:
        return payload, []
    m = ((usable - 12) * 32 // 255) - 23
    k = m + ((p - m) % (usable - 4))
    local = k if k <= x else m
    rest = payload[local:]
    return payload[:local], [rest[i:i + usable - 4] for i in range(0, len(rest), usable - 4)]


def survives(cell_prefix, payload, usable, index_page, haystack):
    local, chunks = split_payload(payload, usable, index_page)
    cell_local = cell_prefix + local
    if len(cell_local) <= 4 or cell_local[4:] not in haystack:
        return False
    return all(chunk in haystack for chunk in chunks)


# ---- values ----


class Values:
    def __init__(self, rng):
        self.rng = rng
        self.serial = 0

    def token(self):
        self.serial += 1
        return "v%06d-%s" % (self.serial, "".join(self.rng.choice("abcdefghjkmnpqrstuvwxyz") for _ in range(6)))

    def of(self, kind, long_values):
        r = self.rng
        if r.random() < 0.12:
            return None
        if kind == "INTEGER":
            return r.choice([0, 1, r.randint(-128, 127), r.randint(-(1 << 40), 1 << 40), r.randint(-(1 << 62), 1 << 62)])
        if kind == "REAL":
            return real_value(r)
        if kind == "TEXT":
            n = r.choice([r.randint(0, 40), r.randint(200, 900)] + ([r.randint(3000, 12000)] if long_values else []))
            return "".join(r.choice("abcdé xyzÆ中文 0123") for _ in range(n))
        n = r.choice([r.randint(1, 30), r.randint(100, 600)] + ([r.randint(5000, 9000)] if long_values else []))
        return bytes(r.getrandbits(8) for _ in range(n))


def real_value(rng):
    # Never integral: SQLite stores an integral REAL as an integer.
    return rng.randint(-10**6, 10**6) + rng.randint(1, 999) / 1024.0


# ---- one case ----


class Case:
    """Writes one database through sqlite3 and records every version it makes."""

    def __init__(self, folder, name, rng, page_size=4096, encoding="UTF-8", journal="delete",
                 secure_delete=False, auto_vacuum=0, reserved=0):
        self.path = os.path.join(folder, name + ".sqlite")
        self.name = name
        self.rng = rng
        self.values = Values(rng)
        self.encoding = encoding
        self.tables = {}
        self.versions = {}  # (table, key) -> list of version dicts, oldest first
        self.dropped_schema = []
        self.wal = journal == "wal"
        for suffix in ("", "-wal", "-shm", "-journal"):
            if os.path.exists(self.path + suffix):
                os.remove(self.path + suffix)
        if reserved:
            self._make_reserved(page_size, reserved)
        self.db = sqlite3.connect(self.path, isolation_level=None)
        self.db.execute("PRAGMA synchronous=OFF")  # the files are copied before close; no crash to survive
        self.db.execute("PRAGMA page_size=%d" % page_size)
        self.db.execute("PRAGMA encoding='%s'" % encoding)
        self.db.execute("PRAGMA auto_vacuum=%d" % auto_vacuum)
        self.db.execute("PRAGMA secure_delete=%s" % ("ON" if secure_delete else "OFF"))
        self.db.execute("PRAGMA journal_mode=%s" % journal)
        if self.wal:
            self.db.execute("PRAGMA wal_autocheckpoint=0")

    def _make_reserved(self, page_size, reserved):
        # Python cannot ask for reserved bytes; VACUUM keeps the reserve of the file it
        # rebuilds, so one empty page gets it in its header, then VACUUM lays the file out.
        db = sqlite3.connect(self.path, isolation_level=None)
        db.execute("PRAGMA page_size=%d" % page_size)
        db.execute("PRAGMA encoding='%s'" % self.encoding)
        db.execute("PRAGMA user_version=1")
        db.close()
        with open(self.path, "r+b") as f:
            f.seek(20)
            f.write(bytes([reserved]))
        db = sqlite3.connect(self.path, isolation_level=None)
        db.execute("VACUUM")
        db.close()

    def create(self, name, columns, ipk=False, without_rowid=False):
        """columns: list of (name, kind); with ipk the first is INTEGER PRIMARY KEY;
        without_rowid: the first is a TEXT PRIMARY KEY."""
        parts = []
        for i, (col, kind) in enumerate(columns):
            decl = "%s %s" % (col, kind)
            if i == 0 and ipk:
                decl = "%s INTEGER PRIMARY KEY" % col
            if i == 0 and without_rowid:
                decl = "%s TEXT PRIMARY KEY" % col
            parts.append(decl)
        sql = "CREATE TABLE %s(%s)%s" % (name, ", ".join(parts), " WITHOUT ROWID" if without_rowid else "")
        self.db.execute(sql)
        self.tables[name] = {"columns": [c for c, _ in columns], "kinds": [k for _, k in columns],
                             "ipk": 0 if ipk else None, "without_rowid": without_rowid, "sql": sql}

    def _row(self, table, long_values):
        t = self.tables[table]
        row = []
        for i, kind in enumerate(t["kinds"]):
            if i == 0 and (t["ipk"] is not None):
                row.append(None)
            elif i == 0 and t["without_rowid"]:
                row.append(self.values.token())
            elif kind == "REAL":
                row.append(None if self.rng.random() < 0.1 else real_value(self.rng))
            else:
                row.append(self.values.of(kind, long_values))
        # The version's own value, so that no two versions encode alike.
        mark = 1 if t["without_rowid"] else (1 if t["ipk"] is not None else 0)
        if mark < len(row):
            kind = t["kinds"][mark]
            row[mark] = {"TEXT": self.values.token(), "BLOB": self.values.token().encode(),
                         "INTEGER": (1 << 40) + self.values.serial * 7919 + self.rng.randint(0, 7000),
                         "REAL": real_value(self.rng) + self.values.serial * 1e7}[kind]
            self.values.serial += 1
        return row

    def insert(self, table, count, long_values=False):
        t = self.tables[table]
        cols = t["columns"]
        made = []
        for _ in range(count):
            row = self._row(table, long_values)
            cur = self.db.execute("INSERT INTO %s(%s) VALUES(%s)" % (table, ",".join(cols), ",".join("?" * len(cols))), row)
            key = row[0] if t["without_rowid"] else cur.lastrowid
            rowid = None if t["without_rowid"] else cur.lastrowid
            if t["ipk"] is not None:
                row[0] = None  # the record stores NULL; the rowid carries it
            # A rowid freed by a delete can be handed out again: the new row joins its history.
            self.versions.setdefault((table, key), []).append(
                {"table": table, "rowid": rowid, "values": row, "state": "live"})
            made.append((table, key))
        return made

    def keys(self, table):
        return [k for (t, k), v in self.versions.items() if t == table and v[-1]["state"] == "live"]

    def delete(self, table, fraction):
        t = self.tables[table]
        keys = self.keys(table)
        for key in self.rng.sample(keys, int(len(keys) * fraction)):
            where = self.tables[table]["columns"][0] if t["without_rowid"] else "rowid"
            self.db.execute("DELETE FROM %s WHERE %s=?" % (table, where), (key,))
            self.versions[(table, key)][-1]["state"] = "deleted"

    def update(self, table, fraction, long_values=False):
        t = self.tables[table]
        keys = self.keys(table)
        for key in self.rng.sample(keys, int(len(keys) * fraction)):
            row = self._row(table, long_values)
            if t["without_rowid"] or t["ipk"] is not None:
                row[0] = key if t["without_rowid"] else None
            cols = t["columns"][1:]
            where = t["columns"][0] if t["without_rowid"] else "rowid"
            self.db.execute("UPDATE %s SET %s WHERE %s=?" % (table, ",".join(c + "=?" for c in cols), where),
                            row[1:] + [key])
            self.versions[(table, key)][-1]["state"] = "superseded"
            self.versions[(table, key)].append({"table": table, "rowid": None if t["without_rowid"] else key,
                                                "values": row, "state": "live"})

    def drop(self, table):
        t = self.tables[table]
        self.db.execute("DROP TABLE %s" % table)
        for (name, _), versions in self.versions.items():
            if name == table and versions[-1]["state"] == "live":
                versions[-1]["state"] = "dropped"
        self.dropped_schema.append({"type": "table", "name": table, "tbl_name": table, "sql": t["sql"]})

    def begin_uncommitted(self, table, count):
        """Rows written in a transaction that spills to the log and never commits."""
        self.db.execute("PRAGMA cache_size=1")
        self.db.execute("BEGIN")
        for k in self.insert(table, count):
            self.versions[k][-1]["state"] = "uncommitted"

    def begin_hot_journal(self, table, inserts, updates):
        """A transaction that spills changed pages into the main file and is never
        committed: the copy keeps a hot journal, so SQLite rolls it back on open. Its rows
        are "uncommitted"; the versions they replaced stay live."""
        self.db.execute("PRAGMA cache_size=1")
        self.db.execute("BEGIN")
        before = sorted((table, k) for k in self.keys(table))
        for k in self.insert(table, inserts):
            self.versions[k][-1]["state"] = "uncommitted"
        t = self.tables[table]
        for key in self.rng.sample(before, updates):
            row = self._row(table, False)
            cols = t["columns"][1:]
            self.db.execute("UPDATE %s SET %s WHERE rowid=?" % (table, ",".join(c + "=?" for c in cols)),
                            row[1:] + [key[1]])
            self.versions[key].insert(-1, {"table": table, "rowid": key[1], "values": [None] + row[1:],
                                           "state": "uncommitted"})

    def checkpoint(self):
        self.db.execute("PRAGMA wal_checkpoint(RESTART)")

    def finish(self, folder):
        """Copies the files as they are now (a WAL copy is taken while the connection holds
        it: closing would checkpoint and remove it), then works out live rows and survival."""
        files = {}
        for suffix in ("", "-wal", "-journal"):
            if os.path.exists(self.path + suffix):
                with open(self.path + suffix, "rb") as f:
                    files[suffix] = f.read()
        try:
            self.db.execute("ROLLBACK")
        except sqlite3.OperationalError:
            pass
        self.db.close()
        for suffix in ("", "-wal", "-shm", "-journal"):
            if os.path.exists(self.path + suffix):
                os.remove(self.path + suffix)
        for suffix, data in files.items():
            with open(self.path + suffix, "wb") as f:
                f.write(data)
        self._check_live(files)
        header = files[""][:100]
        page_size = struct.unpack(">H", header[16:18])[0] or 65536
        usable = page_size - header[20]
        haystack = b"\0".join(files.values())
        out = []
        for versions in self.versions.values():
            for v in versions:
                t = self.tables[v["table"]]
                payload = record(v["values"], self.encoding)
                prefix = varint(len(payload)) + (b"" if t["without_rowid"] else varint(v["rowid"]))
                alive = v["state"] == "live"
                v = dict(v, values=[jsonable(x) for x in v["values"]])
                v["survives"] = (not alive) and survives(prefix, payload, usable, t["without_rowid"], haystack)
                out.append(v)
        tables = {n: {"columns": t["columns"], "ipk": t["ipk"], "without_rowid": t["without_rowid"]}
                  for n, t in self.tables.items()}
        truth = {"encoding": self.encoding, "tables": tables, "versions": out, "dropped_schema": self.dropped_schema,
                 "wal": "-wal" in files, "journal": "-journal" in files}
        with open(os.path.join(folder, self.name + ".truth.json"), "w") as f:
            json.dump(truth, f)
        return truth

    def _check_live(self, files):
        """Reads the saved files back through SQLite (on a scratch copy: opening a WAL
        database may checkpoint it) and checks that exactly the "live" versions are there."""
        with tempfile.TemporaryDirectory() as scratch:
            path = os.path.join(scratch, "copy.sqlite")
            for suffix, data in files.items():
                with open(path + suffix, "wb") as f:
                    f.write(data)
            db = sqlite3.connect(path)
            seen = set()
            for name, t in self.tables.items():
                if any(d["name"] == name for d in self.dropped_schema):
                    continue
                cols = t["columns"]
                select = "SELECT %s%s FROM %s" % ("" if t["without_rowid"] else "rowid,", ",".join(cols), name)
                for row in db.execute(select):
                    key = row[0]
                    seen.add((name, key))
            db.close()
        expected = {k for k, v in self.versions.items() if v[-1]["state"] == "live"}
        if seen != expected:
            raise SystemExit("mkcarve: %s: live rows differ from the generator's record (%d vs %d)"
                             % (self.name, len(seen), len(expected)))


def jsonable(value):
    if isinstance(value, (bytes, bytearray)):
        return {"base64": base64.b64encode(bytes(value)).decode()}
    return value


# ---- the corpus ----

MIXED = [("id", "INTEGER"), ("name", "TEXT"), ("amount", "REAL"), ("data", "BLOB"), ("count", "INTEGER")]
PLAIN = [("label", "TEXT"), ("n", "INTEGER"), ("x", "REAL"), ("note", "TEXT")]
KEYED = [("key", "TEXT"), ("n", "INTEGER"), ("body", "TEXT")]
# Unlike every live table's, so that its rows can be told apart by their shape alone.
GONE = [("title", "TEXT"), ("size", "INTEGER"), ("thumb", "BLOB")]


def workload(case, long_values=False, rows=300):
    case.create("items", MIXED, ipk=True)
    case.create("notes", PLAIN)
    case.insert("items", rows, long_values)
    case.insert("notes", rows // 2, long_values)
    case.delete("items", 0.3)
    case.update("items", 0.15, long_values)
    case.delete("notes", 0.4)


CASES = {
    "plain": dict(kw={}, long=False),
    "overflow": dict(kw={"page_size": 1024}, long=True),
    "utf16le": dict(kw={"encoding": "UTF-16le"}, long=False),
    "utf16be": dict(kw={"encoding": "UTF-16be", "page_size": 2048}, long=True),
    "secure_delete": dict(kw={"secure_delete": True}, long=True),
    "autovacuum_full": dict(kw={"auto_vacuum": 1}, long=True),
    "autovacuum_incremental": dict(kw={"auto_vacuum": 2, "page_size": 1024}, long=True),
    "reserved": dict(kw={"reserved": 32}, long=True),
}


def build(folder, seed):
    os.makedirs(folder, exist_ok=True)
    made = []
    for i, (name, c) in enumerate(sorted(CASES.items())):
        case = Case(folder, name, random.Random(seed * 1000 + i), **c["kw"])
        workload(case, c["long"])
        case.finish(folder)
        made.append(name)

    rng = random.Random(seed * 1000 + 100)
    case = Case(folder, "without_rowid", rng)
    case.create("keyed", KEYED, without_rowid=True)
    case.insert("keyed", 400)
    case.delete("keyed", 0.3)
    case.update("keyed", 0.2)
    case.finish(folder)
    made.append("without_rowid")

    case = Case(folder, "dropped", random.Random(seed * 1000 + 101))
    workload(case, True)
    case.create("gone", GONE)
    case.insert("gone", 200)
    case.drop("gone")
    case.finish(folder)
    made.append("dropped")

    # A log with several generations of the same pages: commits, a checkpoint that makes
    # the next writer restart the log under new salts, more commits over the same pages,
    # then a transaction whose spilled frames never commit.
    case = Case(folder, "wal_generations", random.Random(seed * 1000 + 102), journal="wal")
    workload(case, True, rows=200)
    case.checkpoint()
    case.update("items", 0.2)
    case.delete("notes", 0.3)
    case.insert("items", 30)
    case.update("items", 0.1)
    case.begin_uncommitted("notes", 60)
    case.finish(folder)
    made.append("wal_generations")

    case = Case(folder, "hot_journal", random.Random(seed * 1000 + 104), page_size=1024)
    workload(case, False, rows=300)
    case.begin_hot_journal("items", 80, 40)
    case.finish(folder)
    made.append("hot_journal")

    case = Case(folder, "wal_simple", random.Random(seed * 1000 + 103), journal="wal")
    workload(case, False, rows=400)
    case.update("notes", 0.3)
    case.finish(folder)
    made.append("wal_simple")
    return made


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    for name in build(args.out, args.seed):
        print(name)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Checks tools/mkbackup from the outside: it reads the generated folders with
its own small index and key-bag parsers, decrypts every stored file and
compares the plaintext with the ground truth. Run with /usr/bin/python3."""

import filecmp
import hashlib
import io
import re
import json
import os
import plistlib
import shutil
import sqlite3
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.keywrap import InvalidUnwrap, aes_key_unwrap
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "tools", "mkbackup", "mkbackup.py")
PASSWORD = b"c0rrect horse?"


def parse_mbdb(data):
    assert data[:6] == b"mbdb\x05\x00", "bad header"
    pos, records = 6, []

    def string():
        nonlocal pos
        (length,) = struct.unpack_from(">H", data, pos)
        pos += 2
        if length == 0xFFFF:
            return None
        value = data[pos:pos + length]
        assert len(value) == length, "string past the end"
        pos += length
        return value

    while pos < len(data):
        r = {"domain": string(), "path": string(), "link_target": string(),
             "digest": string(), "key": string()}
        (r["mode"], r["inode"], r["uid"], r["gid"], r["mtime"], r["atime"], r["ctime"],
         r["size"], r["protection_class"], count) = struct.unpack_from(">HQIIIIIQBB", data, pos)
        pos += 40
        r["properties"] = [(string(), string()) for _ in range(count)]
        records.append(r)
    return records


def parse_keybag(data):
    items, pos = [], 0
    while pos + 8 <= len(data):
        tag, length = data[pos:pos + 4].decode(), struct.unpack_from(">I", data, pos + 4)[0]
        items.append((tag, data[pos + 8:pos + 8 + length]))
        pos += 8 + length
    assert pos == len(data), "key bag does not end on an item"
    header, blocks, uuids = {}, [], 0
    for tag, value in items:
        uuids += tag == "UUID"
        if uuids < 2:
            header[tag] = value
        else:
            if tag == "UUID":
                blocks.append({})
            blocks[-1][tag] = value
    return header, blocks


def number(value):
    return struct.unpack(">I", value)[0]


def open_class_keys(header, blocks, password):
    """Class keys the password opens: {class: key}. Raises InvalidUnwrap on a wrong password."""
    if "DPSL" in header:
        password = hashlib.pbkdf2_hmac("sha256", password, header["DPSL"], number(header["DPIC"]), 32)
    derived = hashlib.pbkdf2_hmac("sha1", password, header["SALT"], number(header["ITER"]), 32)
    return {number(b["CLAS"]): aes_key_unwrap(derived, b["WPKY"])
            for b in blocks if number(b["WRAP"]) & 2}


def decrypt(data, key):
    """AES-256-CBC with a zero IV, then the PKCS#7 padding checked and removed."""
    assert len(data) % 16 == 0 and data, "ciphertext is not whole blocks"
    plain = Cipher(algorithms.AES(key), modes.CBC(bytes(16))).decryptor().update(data)
    pad = plain[-1]
    assert 1 <= pad <= 16 and plain[-pad:] == bytes([pad]) * pad, "bad padding"
    return plain[:-pad]


def decrypt_pages(data, key):
    """The encrypted Manifest.db: AES-256-CBC, zero IV, whole pages and no padding."""
    assert len(data) % 4096 == 0 and data, "not whole pages"
    return Cipher(algorithms.AES(key), modes.CBC(bytes(16))).decryptor().update(data)


def mbfile(blob):
    """The fields of an index row's MBFile archive, UIDs resolved."""
    archive = plistlib.loads(blob)
    assert archive["$archiver"] == "NSKeyedArchiver" and archive["$version"] == 100000
    objects = archive["$objects"]
    root = objects[archive["$top"]["root"].data]
    return {k: objects[v.data] if isinstance(v, plistlib.UID) else v for k, v in root.items()}


def properties_rows(db_path, wal=None):
    """_SqliteDatabaseProperties of a database copied beside `wal` (None: no WAL)."""
    with tempfile.TemporaryDirectory() as folder:
        shutil.copy(db_path, os.path.join(folder, "x.db"))
        if wal is not None:
            with open(os.path.join(folder, "x.db-wal"), "wb") as out:
                out.write(wal)
        db = sqlite3.connect(os.path.join(folder, "x.db"))
        try:
            return dict(db.execute("SELECT key, value FROM _SqliteDatabaseProperties"))
        finally:
            db.close()


def iso_boxes(data):
    pos, kinds = 0, []
    while pos < len(data):
        size, kind = struct.unpack_from(">I4s", data, pos)
        if size == 1:
            size = struct.unpack_from(">Q", data, pos + 8)[0]
        assert size >= 8, "box too small"
        kinds.append(kind)
        pos += size
    assert pos == len(data), "boxes do not fill the file"
    return kinds


ATTACHMENT_PLACES = re.compile(r"SMS/|Recordings|Voicemail|whatsapp|Library/Media", re.IGNORECASE)


class Generated(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="mkbackup-selftest-")
        cls.pwfile = os.path.join(cls.tmp, "pw")
        with open(cls.pwfile, "wb") as out:
            out.write(PASSWORD + b"\n")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def run_tool(self, name, *args, expect_ok=True):
        out = os.path.join(self.tmp, name)
        proc = subprocess.run([sys.executable, SCRIPT, out, "--truth", out + ".json", *args],
                              capture_output=True)
        if expect_ok:
            self.assertEqual(proc.returncode, 0, proc.stderr.decode())
            with open(out + ".json", encoding="utf-8") as src:
                return out, json.load(src)
        return proc

    def read(self, folder, name):
        with open(os.path.join(folder, name), "rb") as src:
            return src.read()

    def keybag(self, folder):
        """Manifest.plist and its key bag's header and class blocks."""
        manifest = plistlib.loads(self.read(folder, "Manifest.plist"))
        return (manifest, *parse_keybag(manifest["BackupKeyBag"]))

    def plaintexts(self, folder, truth, password=None):
        """{(domain, path): plaintext}, checking the index against the truth on the way."""
        records = parse_mbdb(self.read(folder, "Manifest.mbdb"))
        self.assertEqual(len(records), len(truth["files"]))
        keys = None
        if password is not None:
            manifest, header, blocks = self.keybag(folder)
            self.assertTrue(manifest["IsEncrypted"])
            self.assertEqual(len(blocks), 11)
            keys = open_class_keys(header, blocks, password)
            self.assertEqual(sorted(keys), list(range(1, 9)))   # 9..11 stay on the device
        out = {}
        for r, t in zip(records, truth["files"]):
            domain, path = r["domain"].decode(), r["path"].decode()
            self.assertEqual((domain, path), (t["domain"], t["path"]))
            self.assertEqual((r["mode"], r["size"], r["mtime"], r["protection_class"], r["uid"]),
                             (t["mode"], t["size"], t["mtime"], t["protection_class"], 501))
            if t["kind"] != "file":
                self.assertIsNone(r["digest"])
                self.assertIsNone(r["key"])
                self.assertEqual(t["kind"] == "symlink", r["link_target"] is not None)
                continue
            name = hashlib.sha1(r["domain"] + b"-" + r["path"]).hexdigest()
            self.assertEqual(name, t["stored_name"])
            data = self.read(folder, name)
            if keys is None:
                self.assertIsNone(r["key"])
            else:
                self.assertEqual(len(r["key"]), 44)
                self.assertEqual(struct.unpack("<I", r["key"][:4])[0], r["protection_class"])
                data = decrypt(data, aes_key_unwrap(keys[r["protection_class"]], r["key"][4:]))
            self.assertEqual(len(data), t["size"])
            self.assertEqual(hashlib.sha1(data).digest(), r["digest"])
            self.assertEqual(hashlib.sha256(data).hexdigest(), t["sha256"])
            out[(domain, path)] = data
        stored = {t["stored_name"] for t in truth["files"] if t["stored_name"]}
        extra = set(os.listdir(folder)) - stored - {"Info.plist", "Manifest.plist", "Manifest.mbdb"}
        self.assertEqual(extra, set())
        return out

    def test_plain_and_encrypted_hold_the_same_files(self):
        plain, plain_truth = self.run_tool("plain")
        enc, enc_truth = self.run_tool("enc", "--encrypted", "--password-file", self.pwfile)
        a = self.plaintexts(plain, plain_truth)
        b = self.plaintexts(enc, enc_truth, PASSWORD)
        self.assertEqual(a, b)
        self.assertEqual(plain_truth["expected"], enc_truth["expected"])
        self.assertGreaterEqual(len(a), 35)
        self.assertLess(sum(len(v) for v in a.values()), 5 << 20)
        # The password opens nothing else, and is written nowhere.
        _, header, blocks = self.keybag(enc)
        self.assertEqual(number(header["TYPE"]), 1)
        self.assertTrue(any("PBKY" in blk for blk in blocks))
        self.assertTrue(all("KTYP" in blk and "KYPT" not in blk for blk in blocks))
        with self.assertRaises(InvalidUnwrap):
            open_class_keys(header, blocks, b"wrong")
        for root, _, names in os.walk(self.tmp):
            for n in names:
                if n != "pw":
                    with open(os.path.join(root, n), "rb") as src:
                        self.assertNotIn(PASSWORD, src.read(), n)

    def test_same_arguments_same_bytes(self):
        args = ("--profile", "small", "--seed", "3", "--encrypted", "--password-file", self.pwfile)
        one, _ = self.run_tool("det1", *args)
        two, _ = self.run_tool("det2", *args)
        cmp = filecmp.dircmp(one, two)
        self.assertEqual((cmp.left_only, cmp.right_only), ([], []))
        self.assertEqual(filecmp.cmpfiles(one, two, cmp.common_files, shallow=False)[1:], ([], []))
        self.assertEqual(self.read(self.tmp, "det1.json"), self.read(self.tmp, "det2.json"))
        other, _ = self.run_tool("det3", "--profile", "small", "--seed", "4")
        self.assertNotEqual(self.read(one, "Info.plist"), self.read(other, "Info.plist"))

    def test_contents_are_well_formed(self):
        folder, truth = self.run_tool("content")
        files = self.plaintexts(folder, truth)
        kinds = set()
        for (domain, path), data in files.items():
            if ATTACHMENT_PLACES.search(domain + "/" + path):
                continue  # attachments of the category databases carry their own checks
            ext = path.rsplit(".", 1)[-1].lower()
            if ext in ("jpg", "jpeg"):
                image = Image.open(io.BytesIO(data))
                image.load()
                self.assertIn(0x9003, image.getexif().get_ifd(0x8769), path)  # date taken
            elif ext == "png":
                Image.open(io.BytesIO(data)).load()
            elif ext in ("mov", "mp4", "m4a"):
                self.assertEqual(iso_boxes(data), [b"ftyp", b"moov", b"mdat"], path)
            elif ext == "mp3":
                self.assertEqual(data[:3], b"ID3")
                tag_end = 10 + sum(b << s for b, s in zip(data[6:10], (21, 14, 7, 0)))
                self.assertEqual(data[tag_end:tag_end + 2], b"\xFF\xFB")
            elif ext == "pdf":
                xref = int(data.rsplit(b"startxref\n", 1)[1].split(b"\n")[0])
                self.assertEqual(data[xref:xref + 4], b"xref")
            elif ext == "docx":
                self.assertIn("word/document.xml", zipfile.ZipFile(io.BytesIO(data)).namelist())
            else:
                continue
            kinds.add(ext)
        self.assertTrue({"jpg", "png", "mov", "mp4", "m4a", "mp3", "pdf", "docx"} <= kinds)
        expected = truth["expected"]
        camera = expected["camera-roll"][0]["files"]
        self.assertEqual([f["name"] for f in camera if f["deleted"]], ["IMG_0010.JPG", "IMG_0011.JPG"])
        self.assertEqual([g["group"] for g in expected["app-pictures"]], ["Reader", "Camera"])
        self.assertNotIn("Library/Sounds/voice-note.m4a",
                         [f["path"] for g in expected["music"] for f in g["files"]])

    def test_keybag_variants(self):
        folder, truth = self.run_tool("variant", "--profile", "small", "--encrypted",
                                      "--password-file", self.pwfile, "--keybag-tag", "KYPT",
                                      "--double-protection", "--iterations", "7",
                                      "--dp-iterations", "5")
        _, header, blocks = self.keybag(folder)
        self.assertEqual((number(header["ITER"]), number(header["DPIC"]), number(header["VERS"])),
                         (7, 5, 4))
        self.assertTrue(all("KYPT" in blk for blk in blocks))
        self.plaintexts(folder, truth, PASSWORD)

    def check_status(self, folder, truth, full, state):
        status = plistlib.loads(self.read(folder, "Status.plist"))
        self.assertEqual(self.read(folder, "Status.plist")[:8], b"bplist00")
        self.assertEqual((status["IsFullBackup"], status["SnapshotState"], status["BackupState"],
                          status["Version"]), (full, state, "new", "3.3"))
        self.assertEqual(status["Date"].strftime("%Y-%m-%dT%H:%M:%SZ"), truth["status"]["Date"])
        self.assertEqual(status["UUID"], truth["status"]["UUID"])
        return status

    def test_newer_layout_with_odd_rows(self):
        cases = [  # name, extra arguments, password, (IsFullBackup, SnapshotState)
            ("odd-plain", [], None, (True, "finished")),
            ("odd-enc", ["--encrypted", "--password-file", self.pwfile, "--flat-layout", "--incremental",
                         "--snapshot-state", "uploading"], PASSWORD, (False, "uploading")),
        ]
        for name, extra, password, status in cases:
            with self.subTest(name):
                folder, truth = self.run_tool(name, "--profile", "small", "--manifest-db", "--odd-rows", *extra)
                backup_date = self.check_status(folder, truth, *status)["Date"].timestamp()
                self.check_odd_rows(folder, truth, password, "--flat-layout" in extra, backup_date)

    def check_odd_rows(self, folder, truth, password, flat, backup_date):
        db_path, keys = os.path.join(folder, "Manifest.db"), None
        if password is not None:
            manifest, header, blocks = self.keybag(folder)
            # Two-stage derivation by default, with a small count for speed.
            self.assertEqual((number(header["VERS"]), number(header["DPIC"]), len(header["DPSL"])), (4, 10000, 20))
            keys = open_class_keys(header, blocks, password)
            wrapped = manifest["ManifestKey"]
            db_path = os.path.join(self.tmp, "Manifest.plain.db")
            with open(db_path, "wb") as out:
                out.write(decrypt_pages(self.read(folder, "Manifest.db"),
                                        aes_key_unwrap(keys[struct.unpack("<I", wrapped[:4])[0]], wrapped[4:])))
        db = sqlite3.connect(db_path)
        rows = db.execute("SELECT fileID, domain, relativePath, flags, file FROM Files ORDER BY rowid").fetchall()
        self.assertEqual(db.execute("SELECT count(*) FROM Properties").fetchone(), (0,))
        db.close()

        odd = {o["file_id"]: o for o in truth["odd_rows"]}
        self.assertEqual(sorted(o["kind"] for o in odd.values()),
                         ["bad-archive", "empty-file", "missing-file", "pathless", "symlink", "wal-longer-than-size"])
        skipped = {i for i, o in odd.items() if o["action"] == "skip"}
        self.assertEqual(len(rows), len(truth["files"]) + len(skipped))
        # Odd rows sit among the others, not at the end.
        self.assertLess(max(n for n, r in enumerate(rows) if r[0] in skipped), len(rows) - 10)
        facts = {t["file_id"]: t for t in truth["files"]}
        plain = {}
        for file_id, domain, path, flags, blob in rows:
            o = odd.get(file_id, {})
            self.assertEqual((o.get("domain", domain), o.get("path", path), o.get("flags", flags)),
                             (domain, path, flags))
            if o.get("kind") == "bad-archive":
                self.assertRaises(Exception, plistlib.loads, blob)
                continue
            f = mbfile(blob)
            self.assertEqual(f.get("RelativePath"), path)
            if file_id in skipped:
                continue
            t = facts[file_id]
            self.assertEqual((f["Size"], f["Mode"], f["LastModified"], f["ProtectionClass"], f.get("Target")),
                             (t["size"], t["mode"], t["mtime"], t["protection_class"], t["link_target"]))
            # Unix seconds: a little before the backup, not 31 years off.
            self.assertTrue(0 <= backup_date - f["LastModified"] < 5 * 366 * 86400, path)
            location = os.path.join(folder, file_id if flat else os.path.join(file_id[:2], file_id))
            self.assertEqual(os.path.exists(location), t["stored_path"] is not None, path)
            self.assertEqual(os.path.exists(location), flags == 1 and o.get("action") != "missing", path)
            if flags != 1:
                self.assertNotIn("EncryptionKey", f)
                continue
            self.assertEqual("EncryptionKey" in f, keys is not None, path)
            if keys is not None:
                key = f["EncryptionKey"]["NS.data"]
                self.assertEqual((len(key), struct.unpack("<I", key[:4])[0]), (44, f["ProtectionClass"]))
            if not os.path.exists(location):
                continue
            with open(location, "rb") as src:
                data = src.read()
            if keys is not None:
                data = decrypt(data, aes_key_unwrap(keys[f["ProtectionClass"]], key[4:]))
            self.assertEqual(hashlib.sha256(data).hexdigest(), t["sha256"], path)
            plain[(domain, path)] = (data, location)

        empty = next(o for o in odd.values() if o["kind"] == "empty-file")
        self.assertEqual(plain[(empty["domain"], empty["path"])][0], b"")
        self.assertEqual(empty["stored_size"], 16 if keys else 0)
        self.assertEqual(os.path.getsize(plain[(empty["domain"], empty["path"])][1]), empty["stored_size"])
        # The -wal is longer than its Size, and only all of it brings the last commit.
        wal = next(o for o in odd.values() if o["kind"] == "wal-longer-than-size")
        wal_data = plain[(wal["domain"], wal["path"])][0]
        self.assertEqual((len(wal_data), facts[wal["file_id"]]["size"]),
                         (wal["content_size"], wal["recorded_size"]))
        self.assertGreater(len(wal_data), wal["recorded_size"])
        database = wal["database"]
        main = os.path.join(self.tmp, "sms.plain.db")
        with open(main, "wb") as out:
            out.write(plain[(database["domain"], database["path"])][0])
        expected = {r["key"]: r["value"] for r in wal["wal_rows"]}
        kept = {r["key"]: r["value"] for r in wal["wal_rows"] if r["kept_when_cut_to_size"]}
        self.assertTrue(set() < set(kept) < set(expected))
        for content, rows_seen in ((None, {}), (wal_data, expected), (wal_data[:wal["recorded_size"]], kept)):
            self.assertEqual(properties_rows(main, content), rows_seen)

    def test_status_plist_in_the_old_layout(self):
        folder, truth = self.run_tool("old-status", "--profile", "small", "--status-plist", "--incremental")
        self.check_status(folder, truth, False, "finished")
        self.assertTrue(os.path.isfile(os.path.join(folder, "Manifest.mbdb")))
        self.assertNotIn("odd_rows", truth)

    def test_refusals(self):
        busy = os.path.join(self.tmp, "busy")
        os.makedirs(busy)
        with open(os.path.join(busy, "keep"), "w") as out:
            out.write("x")
        proc = self.run_tool("busy", "--profile", "small", expect_ok=False)
        self.assertNotEqual(proc.returncode, 0)
        self.assertTrue(os.path.exists(os.path.join(busy, "keep")))
        for name, args in (("nopw", ["--encrypted"]), ("oddold", ["--odd-rows"]), ("flatold", ["--flat-layout"]),
                           ("stateold", ["--snapshot-state", "uploading"])):
            proc = self.run_tool(name, *args, expect_ok=False)
            self.assertEqual(proc.returncode, 2, name)
            self.assertFalse(os.path.exists(os.path.join(self.tmp, name)))



class CellBytes(unittest.TestCase):
    """The generator's "does this deleted row still stand" answers against cells SQLite wrote."""

    def test_whole_cells_are_found_with_their_row_ids(self):
        sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "mkbackup"))
        from mkbackup.databases.cell_bytes import cell_survives
        rows = [(5, "abc", 1.5, 0), (300, "é" * 70, 7.0, None), (70000, b"\x00\x01", -3, 2 ** 40),
                (2 ** 33, "x" * 200, 1, True)]
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "t.sqlite")
            db = sqlite3.connect(path)
            db.execute("CREATE TABLE t (id INTEGER PRIMARY KEY, a, b REAL, c)")
            db.executemany("INSERT INTO t VALUES (?, ?, ?, ?)", rows)
            db.commit()
            db.close()
            with open(path, "rb") as f:
                data = f.read()
        for rowid, *values in rows:
            self.assertTrue(cell_survives(data, rowid, [None] + values), rowid)
            self.assertFalse(cell_survives(data, rowid + 1, [None] + values), rowid)
        self.assertFalse(cell_survives(data, 5, [None, "abd", 1.5, 0]))

if __name__ == "__main__":
    unittest.main()

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

    def plaintexts(self, folder, truth, password=None):
        """{(domain, path): plaintext}, checking the index against the truth on the way."""
        records = parse_mbdb(self.read(folder, "Manifest.mbdb"))
        self.assertEqual(len(records), len(truth["files"]))
        keys = None
        if password is not None:
            manifest = plistlib.loads(self.read(folder, "Manifest.plist"))
            self.assertTrue(manifest["IsEncrypted"])
            header, blocks = parse_keybag(manifest["BackupKeyBag"])
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
        manifest = plistlib.loads(self.read(enc, "Manifest.plist"))
        header, blocks = parse_keybag(manifest["BackupKeyBag"])
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
        manifest = plistlib.loads(self.read(folder, "Manifest.plist"))
        header, blocks = parse_keybag(manifest["BackupKeyBag"])
        self.assertEqual((number(header["ITER"]), number(header["DPIC"]), number(header["VERS"])),
                         (7, 5, 4))
        self.assertTrue(all("KYPT" in blk for blk in blocks))
        self.plaintexts(folder, truth, PASSWORD)

    def test_layout_options(self):
        folder, truth = self.run_tool("opts", "--profile", "small", "--binary-plists",
                                      "--omit-info-key", "Serial Number", "--display-name", "Zed",
                                      "--backup-date", "2027-02-03T04:05:06Z", "--no-manifest-plist")
        info = plistlib.loads(self.read(folder, "Info.plist"))
        self.assertEqual(self.read(folder, "Info.plist")[:8], b"bplist00")
        self.assertNotIn("Serial Number", info)
        self.assertEqual(info["Display Name"], "Zed")
        self.assertEqual(info["Last Backup Date"].isoformat(), "2027-02-03T04:05:06")
        self.assertFalse(os.path.exists(os.path.join(folder, "Manifest.plist")))
        self.assertEqual(truth["backup"]["omitted_info_keys"], ["Serial Number"])

        folder, truth = self.run_tool("newer", "--profile", "small", "--manifest-db",
                                      "--encrypted", "--password-file", self.pwfile)
        manifest = plistlib.loads(self.read(folder, "Manifest.plist"))
        keys = open_class_keys(*parse_keybag(manifest["BackupKeyBag"]), PASSWORD)
        wrapped = manifest["ManifestKey"]
        db_path = os.path.join(self.tmp, "Manifest.plain.db")
        with open(db_path, "wb") as out:
            out.write(decrypt(self.read(folder, "Manifest.db"),
                              aes_key_unwrap(keys[struct.unpack("<I", wrapped[:4])[0]], wrapped[4:])))
        db = sqlite3.connect(db_path)
        rows = db.execute("SELECT fileID, domain, relativePath, flags FROM Files").fetchall()
        db.close()
        self.assertEqual(len(rows), len(truth["files"]))
        for file_id, domain, path, flags in rows:
            if flags == 1:
                self.assertTrue(os.path.isfile(os.path.join(folder, file_id[:2], file_id)), path)

    def test_refusals(self):
        busy = os.path.join(self.tmp, "busy")
        os.makedirs(busy)
        with open(os.path.join(busy, "keep"), "w") as out:
            out.write("x")
        proc = self.run_tool("busy", "--profile", "small", expect_ok=False)
        self.assertNotEqual(proc.returncode, 0)
        self.assertTrue(os.path.exists(os.path.join(busy, "keep")))
        proc = self.run_tool("nopw", "--encrypted", expect_ok=False)
        self.assertEqual(proc.returncode, 2)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "nopw")))


if __name__ == "__main__":
    unittest.main()

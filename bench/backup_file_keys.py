#!/usr/bin/python3
"""The file keys of an encrypted newer-layout backup, for the unpack benchmark's
`openssl enc` baseline: opens the key bag with the password, decrypts Manifest.db with
ManifestKey into the output's folder, and unwraps the key of every stored file.

    backup_file_keys.py BACKUP PASSWORD_FILE OUT_FILE

OUT_FILE (created with mode 0600, never printed) gets one line per stored file:
key in hex, stored path relative to BACKUP, domain, path - separated by tabs.
"""

import os
import plistlib
import struct
import sys

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.keywrap import InvalidUnwrap, aes_key_unwrap

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "mkbackup"))
from manifest_db_list import rows                      # noqa: E402
from mkbackup.keybag import password_key               # noqa: E402

WRAP_PASSWORD = 2
FLAG_FILE = 1


def class_keys(bag, password):
    """Class number -> class key, for every class the password unwraps."""
    header, blocks, offset = {}, [], 0
    while offset + 8 <= len(bag):
        tag = bag[offset:offset + 4].decode("ascii")
        (length,) = struct.unpack(">I", bag[offset + 4:offset + 8])
        value = bag[offset + 8:offset + 8 + length]
        offset += 8 + length
        if tag == "UUID" and "UUID" in header:
            blocks.append({})  # every UUID after the bag's own opens a class block
        target = blocks[-1] if blocks else header
        target[tag] = struct.unpack(">I", value)[0] if length == 4 and tag != "UUID" else value
    key = password_key(password, header["SALT"], header["ITER"], header.get("DPSL"), header.get("DPIC", 0))
    keys = {}
    for block in blocks:
        if block.get("WRAP", 0) & WRAP_PASSWORD and len(block.get("WPKY", b"")) == 40:
            try:
                keys[block["CLAS"]] = aes_key_unwrap(key, block["WPKY"])
            except InvalidUnwrap:
                pass
    if not keys:
        raise SystemExit("backup_file_keys: wrong password")
    return keys


def unwrap(keys, field):
    """An index key field: little-endian class, then the wrapped key."""
    return aes_key_unwrap(keys[struct.unpack("<I", field[:4])[0]], field[4:])


def private_file(path, mode):
    """A new file only this user can read."""
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    return open(fd, mode, encoding=None if "b" in mode else "utf-8")


def decrypt_file(source, target, key):
    """AES-256-CBC with a zero IV and no padding: the index is whole pages."""
    decryptor = Cipher(algorithms.AES(key), modes.CBC(bytes(16))).decryptor()
    with open(source, "rb") as src, private_file(target, "wb") as out:
        for chunk in iter(lambda: src.read(1 << 20), b""):
            out.write(decryptor.update(chunk))
        out.write(decryptor.finalize())


def main(argv):
    if len(argv) != 4:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    backup, password_file, out_file = argv[1:]
    with open(password_file, "rb") as source:
        password = source.readline().rstrip(b"\r\n")
    with open(os.path.join(backup, "Manifest.plist"), "rb") as source:
        manifest = plistlib.load(source)
    keys = class_keys(manifest["BackupKeyBag"], password)
    index = out_file + ".Manifest.db"
    decrypt_file(os.path.join(backup, "Manifest.db"), index, unwrap(keys, manifest["ManifestKey"]))
    skipped = 0
    try:
        with private_file(out_file, "w") as out:
            for file_id, domain, relative_path, flags, meta in rows(index):
                stored = f"{file_id[:2]}/{file_id}"
                if flags != FLAG_FILE or not meta["key"] or not os.path.isfile(os.path.join(backup, stored)):
                    continue
                if any(c in text for text in (domain, relative_path) for c in "\t\n"):
                    skipped += 1
                    continue
                out.write(f"{unwrap(keys, meta['key']).hex()}\t{stored}\t{domain}\t{relative_path}\n")
    finally:
        os.remove(index)
    if skipped:
        print(f"backup_file_keys: {skipped} files with a tab or line break in their names left out",
              file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

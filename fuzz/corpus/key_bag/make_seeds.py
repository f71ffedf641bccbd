#!/usr/bin/env python3
# Writes the seed key bags of this folder (password "fuzz", few rounds).
# Needs python3-cryptography; only run to regenerate the seeds.
import hashlib, os, struct
from cryptography.hazmat.primitives.keywrap import aes_key_wrap

here = os.path.dirname(os.path.abspath(__file__))
password = b"fuzz"

def item(tag, value):
    if isinstance(value, int):
        value = struct.pack(">I", value)
    return tag + struct.pack(">I", len(value)) + value

def bag(type_=1, rounds=10, key_type_tag=b"KTYP", stretch=None, wraps=(3, 3, 1), extra=b""):
    salt = bytes(range(20))
    secret = password
    out = item(b"VERS", 3) + item(b"TYPE", type_) + item(b"UUID", b"\x11" * 16) + item(b"HMCK", b"\x22" * 40)
    out += item(b"WRAP", 1) + item(b"SALT", salt) + item(b"ITER", rounds)
    if stretch:
        dpsl, dpic = stretch
        out += item(b"DPWT", 1) + item(b"DPIC", dpic) + item(b"DPSL", dpsl)
        secret = hashlib.pbkdf2_hmac("sha256", secret, dpsl, dpic, 32)
    kek = hashlib.pbkdf2_hmac("sha1", secret, salt, rounds if type_ == 1 else 1, 32)
    for n, wrap in enumerate(wraps, start=1):
        class_key = bytes([n]) * 32
        out += item(b"UUID", bytes([0x30 + n]) * 16) + item(b"CLAS", n) + item(b"WRAP", wrap)
        out += item(key_type_tag, 0) + item(b"WPKY", aes_key_wrap(kek, class_key)) + extra
    # A wrapped file key of class 1 at the end, so opened bags also exercise unwrapping.
    out += item(b"XKEY", struct.pack("<I", 1) + aes_key_wrap(b"\x01" * 32, b"\x5a" * 32))
    return out

seeds = {
    "device.bin": bag(),
    "old_key_type_tag.bin": bag(key_type_tag=b"KYPT"),
    "public_keys.bin": bag(extra=item(b"PBKY", b"\x44" * 32)),
    "other_type.bin": bag(type_=2, rounds=900),
    "stretched.bin": bag(stretch=(b"\x55" * 20, 5)),
    "device_only.bin": bag(wraps=(1, 1)),
}
seeds["truncated.bin"] = seeds["device.bin"][:-37]
for name, data in seeds.items():
    with open(os.path.join(here, name), "wb") as f:
        f.write(data)

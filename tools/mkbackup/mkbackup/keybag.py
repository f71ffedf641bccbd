"""The backup key bag of an encrypted backup, laid out as the device does.

A TLV list (4-letter tag, 32-bit big-endian length, value): a header (VERS,
TYPE, UUID, HMCK, WRAP, SALT, ITER and, with double protection, DPWT, DPIC,
DPSL), then one block per protection class starting at its UUID. Class keys
the password protects are wrapped (RFC 3394) with the PBKDF2 key of the
password; device-only classes are wrapped with a key that never leaves the
device, so no password opens them.
"""

import hashlib
import struct

from cryptography.hazmat.primitives.keywrap import aes_key_wrap

BACKUP_KEYBAG_TYPE = 1
WRAP_DEVICE = 1
WRAP_PASSCODE = 2
PROTECTION_CLASSES = range(1, 12)
# Keychain classes bound to this device ("...ThisDeviceOnly") are not opened by the backup password.
DEVICE_ONLY_CLASSES = (9, 10, 11)
# Classes that also carry a public key (asymmetric protection).
CLASSES_WITH_PUBLIC_KEY = (2,)


def _item(tag, value):
    if isinstance(value, int):
        value = struct.pack(">I", value)
    return tag.encode("ascii") + struct.pack(">I", len(value)) + value


def password_key(password, salt, iterations, dp_salt=None, dp_iterations=0):
    """The key that wraps the class keys. With double protection the password
    first goes through PBKDF2-SHA256, as newer devices do."""
    if dp_salt is not None:
        password = hashlib.pbkdf2_hmac("sha256", password, dp_salt, dp_iterations, 32)
    return hashlib.pbkdf2_hmac("sha1", password, salt, iterations, 32)


class KeyBag:
    def __init__(self, rng, password, iterations=10000, type_tag="KTYP",
                 double_protection=False, dp_iterations=10000):
        if type_tag not in ("KTYP", "KYPT"):
            raise ValueError("the class-key type tag is KTYP or KYPT")
        self.iterations = iterations
        self.type_tag = type_tag
        self.double_protection = double_protection
        self.dp_iterations = dp_iterations
        self.uuid = rng.bytes(16)
        self.hmck = rng.bytes(40)
        self.salt = rng.bytes(20)
        self.dp_salt = rng.bytes(20) if double_protection else None
        device_key = rng.bytes(32)
        self.class_keys = {c: rng.bytes(32) for c in PROTECTION_CLASSES}
        self.class_uuids = {c: rng.bytes(16) for c in PROTECTION_CLASSES}
        self.public_keys = {c: rng.bytes(32) for c in CLASSES_WITH_PUBLIC_KEY}
        wrapping_key = password_key(password, self.salt, iterations, self.dp_salt, dp_iterations)
        self.wrapped = {}
        for c in PROTECTION_CLASSES:
            key = device_key if c in DEVICE_ONLY_CLASSES else wrapping_key
            self.wrapped[c] = aes_key_wrap(key, self.class_keys[c])

    @staticmethod
    def wrap_type(protection_class):
        if protection_class in DEVICE_ONLY_CLASSES:
            return WRAP_DEVICE
        return WRAP_DEVICE | WRAP_PASSCODE

    def opens_with_password(self, protection_class):
        return self.wrap_type(protection_class) & WRAP_PASSCODE != 0

    def wrap_file_key(self, protection_class, file_key):
        """The index's encryption-key field: the class as a 32-bit
        little-endian number, then the file key wrapped with the class key."""
        if not self.opens_with_password(protection_class):
            raise ValueError(f"class {protection_class} is not opened by the backup password")
        return struct.pack("<I", protection_class) + aes_key_wrap(
            self.class_keys[protection_class], file_key)

    def data(self):
        out = [_item("VERS", 4 if self.double_protection else 3),
               _item("TYPE", BACKUP_KEYBAG_TYPE),
               _item("UUID", self.uuid),
               _item("HMCK", self.hmck),
               _item("WRAP", 0),
               _item("SALT", self.salt),
               _item("ITER", self.iterations)]
        if self.double_protection:
            out += [_item("DPWT", 1), _item("DPIC", self.dp_iterations), _item("DPSL", self.dp_salt)]
        for c in PROTECTION_CLASSES:
            out += [_item("UUID", self.class_uuids[c]),
                    _item("CLAS", c),
                    _item("WRAP", self.wrap_type(c)),
                    _item(self.type_tag, 0),
                    _item("WPKY", self.wrapped[c])]
            if c in self.public_keys:
                out.append(_item("PBKY", self.public_keys[c]))
        return b"".join(out)

    def describe(self):
        """Facts for the ground truth; no key material."""
        return {"iterations": self.iterations, "type_tag": self.type_tag,
                "double_protection": self.double_protection,
                "dp_iterations": self.dp_iterations if self.double_protection else None,
                "classes": {str(c): {"wrap": self.wrap_type(c),
                                     "opens_with_password": self.opens_with_password(c)}
                            for c in PROTECTION_CLASSES}}

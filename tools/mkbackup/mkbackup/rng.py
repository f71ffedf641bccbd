"""Seeded randomness.

Every random choice and byte comes from here. Each consumer asks for a stream
named after what it makes (a file's domain and path, "keybag", ...), so the
bytes of one file do not shift when another file is added to a profile.
"""

import hashlib
import random

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes


class SeededRandom:
    def __init__(self, seed, label=""):
        self.seed = seed
        self.label = label
        material = hashlib.sha256(f"{seed}\x00{label}".encode("utf-8")).digest()
        self._random = random.Random(material)
        self._material = material

    def derive(self, label):
        """An independent stream for a named purpose."""
        return SeededRandom(self.seed, f"{self.label}/{label}")

    def bytes(self, count):
        return self._random.randbytes(count)

    def randint(self, low, high):
        return self._random.randint(low, high)

    def choice(self, items):
        return self._random.choice(items)

    def uniform(self, low, high):
        return self._random.uniform(low, high)

    def hex(self, digits):
        return self.bytes((digits + 1) // 2).hex()[:digits]

    def uuid_text(self):
        raw = self.bytes(16).hex().upper()
        return f"{raw[:8]}-{raw[8:12]}-{raw[12:16]}-{raw[16:20]}-{raw[20:]}"

    def keystream(self, total, chunk_size=4 << 20):
        """Yields `total` pseudo-random bytes in chunks without holding them.

        AES-CTR under a key from this stream: fast enough for gigabytes of
        video payload, and still fully determined by the seed.
        """
        encryptor = Cipher(algorithms.AES(self._material),
                           modes.CTR(bytes(16))).encryptor()
        zeros = bytes(chunk_size)
        remaining = total
        while remaining > 0:
            step = min(chunk_size, remaining)
            yield encryptor.update(zeros[:step] if step != chunk_size else zeros)
            remaining -= step

"""Writing one stored file: streamed, hashed on the way, and for an
encrypted backup padded (PKCS#7) and encrypted with AES-256-CBC under the
file's own key and a zero IV, as the device does."""

import hashlib
from dataclasses import dataclass

from cryptography.hazmat.primitives import padding
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes


@dataclass
class StoredFile:
    size: int           # plaintext bytes
    stored_size: int    # bytes on disk
    sha1: str
    sha256: str


def stored_name(domain, path):
    """Lower-case hex SHA-1 of domain, "-" and path, as real backups name files."""
    return hashlib.sha1(domain.encode("utf-8") + b"-" + path.encode("utf-8")).hexdigest()


def write_stored_file(target, chunks, file_key=None, pad=True):
    """`pad` False leaves the padding out, for content that is whole blocks
    already (the encrypted Manifest.db: whole pages)."""
    sha1, sha256 = hashlib.sha1(), hashlib.sha256()
    size = stored = 0
    padder = encryptor = None
    if file_key is not None:
        padder = padding.PKCS7(128).padder() if pad else None
        encryptor = Cipher(algorithms.AES(file_key), modes.CBC(bytes(16))).encryptor()
    with open(target, "wb") as out:
        for chunk in chunks:
            sha1.update(chunk)
            sha256.update(chunk)
            size += len(chunk)
            if encryptor is not None:
                chunk = encryptor.update(padder.update(chunk) if padder else chunk)
            out.write(chunk)
            stored += len(chunk)
        if encryptor is not None:
            # Without padding, finalize refuses a length that is not whole blocks.
            tail = encryptor.update(padder.finalize() if padder else b"") + encryptor.finalize()
            out.write(tail)
            stored += len(tail)
    return StoredFile(size, stored, sha1.hexdigest(), sha256.hexdigest())

"""A minimal AFC: enough for the sync lock file; every other path is absent."""

import struct

from .framing import PeerClosed, recv_exact, send_all

HEADER = struct.Struct("<8sQQQQ")   # magic, entire length, this length, packet number, operation
MAGIC = b"CFA6LPAA"
LOCK_FILE = "/com.apple.itunes.lock_sync"

OP_STATUS = 0x01
OP_GET_FILE_INFO = 0x0A
OP_FILE_OPEN = 0x0D
OP_FILE_OPEN_RES = 0x0E
OP_FILE_CLOSE = 0x14
OP_FILE_LOCK = 0x1B

E_SUCCESS = 0
E_INVALID_ARG = 7
E_OBJECT_NOT_FOUND = 8
E_OP_NOT_SUPPORTED = 15


def _packet(number, operation, payload):
    size = HEADER.size + len(payload)
    return HEADER.pack(MAGIC, size, size, number, operation) + payload


def _status(number, code):
    return _packet(number, OP_STATUS, struct.pack("<Q", code))


def _path(params):
    return params.split(b"\0", 1)[0].decode("utf-8", "replace")


def serve_afc(sock, world, device):
    where = device.udid[:8] + " afc"
    handles = {}
    next_handle = 1
    while True:
        try:
            magic, entire, this, number, operation = HEADER.unpack(recv_exact(sock, HEADER.size))
            if magic != MAGIC or not HEADER.size <= this <= entire <= 1 << 24:
                world.log(where, "bad packet header")
                return
            params = recv_exact(sock, entire - HEADER.size)[: this - HEADER.size]
        except PeerClosed:
            return
        if operation == OP_FILE_OPEN and len(params) > 8:
            path = _path(params[8:])
            if path == LOCK_FILE:
                handles[next_handle] = path
                world.log(where, f"FileOpen {path} -> handle {next_handle}")
                reply = _packet(number, OP_FILE_OPEN_RES, struct.pack("<Q", next_handle))
                next_handle += 1
            else:
                world.log(where, f"FileOpen {path} -> not found")
                reply = _status(number, E_OBJECT_NOT_FOUND)
        elif operation in (OP_FILE_LOCK, OP_FILE_CLOSE) and len(params) >= 8:
            handle = struct.unpack_from("<Q", params)[0]
            known = handle in handles
            if operation == OP_FILE_CLOSE:
                handles.pop(handle, None)
            name = "FileLock" if operation == OP_FILE_LOCK else "FileClose"
            world.log(where, f"{name} handle {handle} -> {'ok' if known else 'invalid'}")
            reply = _status(number, E_SUCCESS if known else E_INVALID_ARG)
        elif operation == OP_GET_FILE_INFO:
            world.log(where, f"GetFileInfo {_path(params)} -> not found")
            reply = _status(number, E_OBJECT_NOT_FOUND)
        else:
            world.log(where, f"operation 0x{operation:x} -> not supported")
            reply = _status(number, E_OP_NOT_SUPPORTED)
        send_all(sock, reply)

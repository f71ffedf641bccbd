"""Byte framing shared by the services: exact reads, length-prefixed plists, usbmuxd packets."""

import plistlib
import struct

USBMUX_HEADER = struct.Struct("<IIII")   # total length, version, message, tag
USBMUX_VERSION_PLIST = 1
USBMUX_MESSAGE_PLIST = 8
PLIST_FRAME_LIMIT = 64 * 1024 * 1024     # a larger length means a broken stream, not a plist


class PeerClosed(Exception):
    """The other side closed the connection (or it was dropped under us)."""


def recv_exact(sock, size):
    """Reads exactly size bytes or raises PeerClosed."""
    buf = bytearray(size)
    view = memoryview(buf)
    got = 0
    while got < size:
        try:
            n = sock.recv_into(view[got:], size - got)
        except OSError as e:
            raise PeerClosed(str(e)) from e
        if n == 0:
            raise PeerClosed("connection closed")
        got += n
    return bytes(buf)


def recv_u32be(sock):
    return struct.unpack(">I", recv_exact(sock, 4))[0]


def send_all(sock, *parts):
    try:
        for part in parts:
            sock.sendall(part)
    except OSError as e:
        raise PeerClosed(str(e)) from e


def parse_plist(data):
    """Reads an XML or binary plist; a broken one raises ValueError."""
    try:
        return plistlib.loads(data)
    except Exception as e:  # plistlib raises several types for malformed input
        raise ValueError(f"unreadable plist ({e})") from e


def recv_plist_frame(sock):
    """A service plist: 4-byte big-endian length, then an XML or binary plist."""
    size = recv_u32be(sock)
    if size == 0 or size > PLIST_FRAME_LIMIT:
        raise ValueError(f"implausible plist length {size}")
    return parse_plist(recv_exact(sock, size))


def send_plist_frame(sock, value, binary=False):
    data = plistlib.dumps(value, fmt=plistlib.FMT_BINARY if binary else plistlib.FMT_XML, sort_keys=False)
    send_all(sock, struct.pack(">I", len(data)), data)


def recv_usbmux_packet(sock):
    """Returns (version, message, tag, payload bytes)."""
    length, version, message, tag = USBMUX_HEADER.unpack(recv_exact(sock, USBMUX_HEADER.size))
    if length < USBMUX_HEADER.size or length > PLIST_FRAME_LIMIT:
        raise ValueError(f"implausible usbmuxd packet length {length}")
    return version, message, tag, recv_exact(sock, length - USBMUX_HEADER.size)


def usbmux_packet(tag, value):
    """A usbmuxd plist packet; libusbmuxd reads only XML here."""
    data = plistlib.dumps(value, fmt=plistlib.FMT_XML, sort_keys=False)
    return USBMUX_HEADER.pack(USBMUX_HEADER.size + len(data), USBMUX_VERSION_PLIST, USBMUX_MESSAGE_PLIST, tag) + data

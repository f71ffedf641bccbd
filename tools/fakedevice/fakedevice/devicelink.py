"""DeviceLink over a service stream: message arrays, status replies and the raw file streams."""

import struct

from .framing import PeerClosed, recv_exact, recv_plist_frame, recv_u32be, send_all, send_plist_frame

CODE_SUCCESS = 0x00
CODE_ERROR_LOCAL = 0x06
CODE_ERROR_REMOTE = 0x0B
CODE_FILE_DATA = 0x0C
SMALL_FILE = 256 * 1024          # up to this (and one block) read whole and sent with its framing in one call
DISCARD_BLOCK = 1 << 20


class Unplugged(Exception):
    """The scenario pulled the cable in the middle of a stream."""


def signed(code):
    # The host sends negative status codes through an unsigned plist integer.
    return code - (1 << 64) if code >= 1 << 63 else code


class DeviceLink:
    def __init__(self, sock, log, where):
        self.sock, self.log, self.where = sock, log, where

    def send(self, message):
        send_plist_frame(self.sock, message, binary=True)

    def receive(self):
        message = recv_plist_frame(self.sock)
        if not isinstance(message, list) or not message or not isinstance(message[0], str):
            raise ValueError("DeviceLink message is not an array starting with its name")
        return message

    def process_message(self, body):
        self.send(["DLMessageProcessMessage", body])

    def status(self, what):
        """Reads the host's DLMessageStatusResponse to the last request; logs and returns (code, text, detail)."""
        reply = self.receive()
        if reply[0] == "DLMessageDisconnect":
            raise PeerClosed(f"host sent DLMessageDisconnect instead of answering {what}")
        if reply[0] != "DLMessageStatusResponse" or len(reply) < 3:
            raise ValueError(f"expected DLMessageStatusResponse after {what}, got {reply[0]}")
        code = signed(reply[1]) if isinstance(reply[1], int) else reply[1]
        text = reply[2] if reply[2] != "___EmptyParameterString___" else ""
        detail = reply[3] if len(reply) > 3 else None
        extra = ""
        if isinstance(detail, dict) and detail:
            extra = " (" + ", ".join(f"{k}: {signed(v.get('DLFileErrorCode', 0))}"
                                     for k, v in detail.items() if isinstance(v, dict)) + ")"
        elif isinstance(detail, int):
            extra = f" ({detail})"
        self.log(self.where, f"{what} -> status {code}{' ' + text if text else ''}{extra}")
        return code, text, detail

    # Device -> host files
    def upload_name(self, device_name, host_name):
        d, h = device_name.encode(), host_name.encode()
        send_all(self.sock, struct.pack(">I", len(d)) + d + struct.pack(">I", len(h)) + h)

    def upload_bytes(self, data):
        """A whole small file as one block plus the end marker, in one write."""
        head = struct.pack(">IB", len(data) + 1, CODE_FILE_DATA) if data else b""
        send_all(self.sock, head, data, struct.pack(">IB", 1, CODE_SUCCESS))

    def upload_file(self, path, size, chunk, budget=None):
        """Streams a file in blocks of chunk bytes; budget (bytes) left before the scenario unplugs."""
        with open(path, "rb") as f:
            if size <= min(SMALL_FILE, chunk) and (budget is None or budget >= size):
                data = f.read(size)
                if len(data) != size:
                    raise OSError(f"{path} changed size while being sent")
                self.upload_bytes(data)
                return
            offset = 0
            while offset < size:
                n = min(chunk, size - offset)
                cut = budget is not None and budget - offset < n
                if cut:
                    n = max(budget - offset, 0)
                send_all(self.sock, struct.pack(">IB", min(chunk, size - offset) + 1, CODE_FILE_DATA))
                if n:
                    self._sendfile(f, offset, n)
                if cut:
                    raise Unplugged()
                offset += n
        send_all(self.sock, struct.pack(">IB", 1, CODE_SUCCESS))

    def _sendfile(self, f, offset, count):
        try:
            sent = self.sock.sendfile(f, offset, count)
        except OSError as e:
            raise PeerClosed(str(e)) from e
        if sent != count:
            raise OSError(f"{f.name} shrank while being sent")

    def end_of_uploads(self):
        send_all(self.sock, struct.pack(">I", 0))

    # Host -> device files
    def read_download_stream(self):
        """Reads the files the host sends for DLMessageDownloadFiles; returns {path: 'sent N bytes' | error}."""
        results = {}
        while True:
            size = recv_u32be(self.sock)
            if size == 0:
                return results
            path = recv_exact(self.sock, size).decode("utf-8", "replace")
            received = 0
            while True:
                length = recv_u32be(self.sock)
                code = recv_exact(self.sock, 1)[0] if length else CODE_SUCCESS
                if code == CODE_FILE_DATA:
                    received += self._discard(length - 1)
                elif code == CODE_SUCCESS:
                    results[path] = f"{received} bytes"
                    break
                elif code in (CODE_ERROR_LOCAL, CODE_ERROR_REMOTE):
                    results[path] = "error: " + recv_exact(self.sock, length - 1).decode("utf-8", "replace")
                    break
                else:
                    raise ValueError(f"unknown file stream code 0x{code:02x} for {path}")

    def _discard(self, count):
        left = count
        while left:
            left -= len(recv_exact(self.sock, min(left, DISCARD_BLOCK)))
        return count

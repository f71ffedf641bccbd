"""One line per request and answer; file contents never go into it."""

import threading
import time


class EventLog:
    def __init__(self, path=None):
        self._file = open(path, "a", encoding="utf-8", buffering=1) if path else None
        self._lock = threading.Lock()

    def __call__(self, where, text):
        if not self._file:
            return
        stamp = time.strftime("%H:%M:%S", time.gmtime()) + f".{int(time.time() * 1000) % 1000:03d}"
        with self._lock:
            self._file.write(f"{stamp} {where} {text}\n")

    def close(self):
        if self._file:
            self._file.close()
            self._file = None

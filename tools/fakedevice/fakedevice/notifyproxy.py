"""notification_proxy: the host observes and posts names; the device relays observed ones back."""

import threading

from .framing import PeerClosed, recv_plist_frame, send_plist_frame


class NotifySession:
    def __init__(self, sock, where, log):
        self.sock, self.where, self.log = sock, where, log
        self.names = set()
        self.lock = threading.Lock()

    def observes(self, name):
        return name in self.names

    def relay(self, name):
        with self.lock:
            try:
                send_plist_frame(self.sock, {"Command": "RelayNotification", "Name": name})
            except PeerClosed:
                return False
        self.log(self.where, f"RelayNotification {name}")
        return True

    def send(self, message):
        with self.lock:
            send_plist_frame(self.sock, message)


def serve_notification_proxy(sock, world, device):
    session = NotifySession(sock, device.udid[:8] + " notification_proxy", world.log)
    device.add_observer(session)
    try:
        while True:
            try:
                request = recv_plist_frame(sock)
            except (PeerClosed, ValueError):
                return
            command = request.get("Command") if isinstance(request, dict) else None
            name = request.get("Name") if isinstance(request, dict) else None
            if command == "ObserveNotification" and isinstance(name, str):
                session.names.add(name)
                world.log(session.where, f"ObserveNotification {name}")
            elif command == "PostNotification" and isinstance(name, str):
                world.log(session.where, f"PostNotification {name}")
            elif command == "Shutdown":
                world.log(session.where, "Shutdown -> ProxyDeath")
                session.send({"Command": "ProxyDeath"})
                return
            else:
                world.log(session.where, f"ignored {command!r}")
    finally:
        device.remove_observer(session)

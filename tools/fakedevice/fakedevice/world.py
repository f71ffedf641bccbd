"""What the fake usbmuxd knows: the devices, their attach state, open streams, listeners and pair records."""

import os
import plistlib
import socket
import threading
import uuid

from .framing import PeerClosed, send_all, usbmux_packet

LOCKDOWN_PORT = 62078
# Service name -> (the scenario's switch for it, the port lockdownd hands out).
SERVICES = {
    "com.apple.mobile.notification_proxy": ("notification_proxy", 49301),
    "com.apple.afc": ("afc", 49302),
    "com.apple.mobilebackup2": ("mobilebackup2", 49303),
}
APPLE_IPHONE_PRODUCT_ID = 0x12A8


class Device:
    """One scripted iPhone: its identity, whom it trusts, and the streams open to it."""

    def __init__(self, script, device_id, public_key_pem):
        self.script = script
        self.udid = script.udid
        self.device_id = device_id
        self.public_key_pem = public_key_pem
        self.attached = script.attached
        self.escrow_bag = os.urandom(32)
        self.trusted_hosts = set()
        self.pair_requests = 0
        self.open_ports = {LOCKDOWN_PORT}
        self.values = {"com.apple.mobile.backup": {"WillEncrypt": script.will_encrypt}}
        self.lock = threading.Lock()
        self._streams = set()
        self._observers = set()

    def next_pair_outcome(self):
        with self.lock:
            outcomes = self.script.pair
            outcome = outcomes[min(self.pair_requests, len(outcomes) - 1)]
            self.pair_requests += 1
            return outcome

    def add_stream(self, sock):
        with self.lock:
            if not self.attached:
                return False
            self._streams.add(sock)
            return True

    def remove_stream(self, sock):
        with self.lock:
            self._streams.discard(sock)

    def drop_streams(self):
        with self.lock:
            streams, self._streams = list(self._streams), set()
            self._observers.clear()
        for s in streams:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def add_observer(self, session):
        with self.lock:
            self._observers.add(session)

    def remove_observer(self, session):
        with self.lock:
            self._observers.discard(session)

    def relay(self, name):
        """Sends RelayNotification to every notification_proxy session that observes name."""
        with self.lock:
            sessions = [s for s in self._observers if s.observes(name)]
        return sum(1 for s in sessions if s.relay(name))


class Listener:
    """A client connection that sent Listen: it gets Attached/Detached/Paired pushes."""

    def __init__(self, sock):
        self.sock = sock
        self.lock = threading.Lock()

    def push(self, message):
        with self.lock:
            try:
                send_all(self.sock, usbmux_packet(0, message))
                return True
            except PeerClosed:
                return False


class World:
    def __init__(self, scripted, public_key_pem, log):
        self.log = log
        self.devices = [Device(s, i + 1, public_key_pem) for i, s in enumerate(scripted)]
        self.buid = str(uuid.uuid4()).upper()
        self.pair_records = {}
        self._listeners = set()
        self._lock = threading.Lock()
        for d in self.devices:
            if d.script.pair_record != "none":
                host_id = str(uuid.uuid4()).upper()
                if d.script.pair_record == "valid":
                    d.trusted_hosts.add(host_id)
                record = {"HostID": host_id, "SystemBUID": self.buid, "EscrowBag": d.escrow_bag,
                          "WiFiMACAddress": wifi_address(d)}
                self.pair_records[d.udid] = plistlib.dumps(record, fmt=plistlib.FMT_BINARY)

    # Lookups
    def device_by_udid(self, udid):
        return next((d for d in self.devices if d.udid.lower() == udid.lower()), None)

    def device_by_id(self, device_id):
        return next((d for d in self.devices if d.device_id == device_id), None)

    def attached_devices(self):
        return [d for d in self.devices if d.attached]

    # Listeners
    def add_listener(self, listener):
        with self._lock:
            self._listeners.add(listener)
        for d in self.attached_devices():
            listener.push(attached_message(d))

    def remove_listener(self, listener):
        with self._lock:
            self._listeners.discard(listener)

    def broadcast(self, message):
        with self._lock:
            listeners = list(self._listeners)
        for listener in listeners:
            if not listener.push(message):
                self.remove_listener(listener)

    # World changes (stdin commands and injected faults)
    def attach(self, device):
        if device.attached:
            return
        device.attached = True
        self.log("usbmuxd", f"attach {device.udid}")
        self.broadcast(attached_message(device))

    def detach(self, device):
        with device.lock:
            if not device.attached:
                return
            device.attached = False
        self.log("usbmuxd", f"detach {device.udid}")
        device.drop_streams()
        self.broadcast({"MessageType": "Detached", "DeviceID": device.device_id})

    # usbmuxd's pair record store
    def save_pair_record(self, record_id, data):
        with self._lock:
            self.pair_records[record_id] = data

    def announce_paired(self, record_id, device_id):
        device = self.device_by_udid(record_id) or self.device_by_id(device_id)
        if device is not None and device.attached:
            self.broadcast({"MessageType": "Paired", "DeviceID": device.device_id})

    def read_pair_record(self, record_id):
        with self._lock:
            return self.pair_records.get(record_id)

    def delete_pair_record(self, record_id):
        with self._lock:
            return self.pair_records.pop(record_id, None) is not None


def wifi_address(device):
    return "f0:18:98:%02x:%02x:%02x" % (device.device_id, 0x10, 0x20)


def attached_message(device):
    props = {
        "ConnectionSpeed": 480000000,
        "ConnectionType": "USB",
        "DeviceID": device.device_id,
        "LocationID": 0x14100000 + device.device_id,
        "ProductID": APPLE_IPHONE_PRODUCT_ID,
        "SerialNumber": device.udid,
    }
    return {"MessageType": "Attached", "DeviceID": device.device_id, "Properties": props}

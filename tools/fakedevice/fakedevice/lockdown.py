"""lockdownd on port 62078: values, pairing with scripted outcomes, sessions and services, all without TLS."""

import uuid

from .framing import PeerClosed, recv_plist_frame, send_plist_frame
from .world import SERVICES, wifi_address

PAIR_ERRORS = {
    "pending": "PairingDialogResponsePending",
    "locked": "PasswordProtected",
    "denied": "UserDeniedPairing",
}
BACKUP_SERVICE = "com.apple.mobilebackup2"


def root_values(device):
    s = device.script
    return {
        "ActivationState": s.activation,
        "BluetoothAddress": "f0:18:98:%02x:%02x:%02x" % (device.device_id, 0x10, 0x21),
        "BuildVersion": s.build_version,
        "CPUArchitecture": "arm64e",
        "DeviceClass": s.device_class,
        "DeviceColor": "1",
        "DeviceName": s.name,
        "DevicePublicKey": device.public_key_pem,
        "HardwareModel": "N104AP",
        "PasswordProtected": False,
        "ProductName": "iPhone OS",
        "ProductType": s.product_type,
        "ProductVersion": s.product_version,
        "ProtocolVersion": "2",
        "SerialNumber": s.serial,
        "TimeZone": "UTC",
        "UniqueChipID": 0x1A2B3C4D5E6F70 + device.device_id,
        "UniqueDeviceID": device.udid,
        "WiFiAddress": wifi_address(device),
    }


class LockdownSession:
    def __init__(self, world, device):
        self.world, self.device = world, device
        self.session_id = None
        self.where = device.udid[:8] + " lockdownd"

    def answer(self, request):
        kind = request.get("Request") if isinstance(request, dict) else None
        handler = getattr(self, "_" + kind, None) if isinstance(kind, str) and kind.isalpha() else None
        if handler is None:
            return {"Request": kind, "Error": "InvalidRequest"}, f"{kind!r} -> InvalidRequest"
        return handler(request)

    def _QueryType(self, request):
        return {"Request": "QueryType", "Type": "com.apple.mobile.lockdown"}, "QueryType"

    def _GetValue(self, request):
        domain, key = request.get("Domain"), request.get("Key")
        with self.device.lock:
            stored = dict(self.device.values.get(domain or "", {}))
        # Values set by the host (SetValue) win over the scenario's, as on a device.
        values = dict(root_values(self.device), **stored) if domain is None else (stored or None)
        value = values if key is None else (values or {}).get(key)
        reply = {"Request": "GetValue"}
        if domain is not None:
            reply["Domain"] = domain
        if key is not None:
            reply["Key"] = key
        name = f"GetValue {domain or ''}:{key or '*'}"
        if value is None:
            reply["Error"] = "MissingValue"
            return reply, name + " -> MissingValue"
        reply["Value"] = value
        return reply, name

    def _SetValue(self, request):
        if self.session_id is None:
            return {"Request": "SetValue", "Error": "SessionInactive"}, "SetValue -> SessionInactive"
        domain, key = request.get("Domain"), request.get("Key")
        if not isinstance(key, str) or "Value" not in request:
            return {"Request": "SetValue", "Error": "MissingValue"}, "SetValue without Key/Value -> MissingValue"
        with self.device.lock:
            self.device.values.setdefault(domain or "", {})[key] = request["Value"]
        return {"Request": "SetValue"}, f"SetValue {domain or ''}:{key}"

    def _Pair(self, request):
        host_id = _host_id(request)
        if host_id is None:
            return {"Request": "Pair", "Error": "InvalidPairRecord"}, "Pair without HostID -> InvalidPairRecord"
        outcome = self.device.next_pair_outcome()
        if outcome != "ok":
            return {"Request": "Pair", "Error": PAIR_ERRORS[outcome]}, f"Pair -> {PAIR_ERRORS[outcome]}"
        with self.device.lock:
            self.device.trusted_hosts.add(host_id)
        return {"Request": "Pair", "EscrowBag": self.device.escrow_bag}, "Pair -> ok, EscrowBag"

    def _ValidatePair(self, request):
        if _host_id(request) in self.device.trusted_hosts:
            return {"Request": "ValidatePair"}, "ValidatePair -> ok"
        return {"Request": "ValidatePair", "Error": "InvalidHostID"}, "ValidatePair -> InvalidHostID"

    def _Unpair(self, request):
        with self.device.lock:
            self.device.trusted_hosts.discard(_host_id(request))
        return {"Request": "Unpair"}, "Unpair"

    def _StartSession(self, request):
        if request.get("HostID") not in self.device.trusted_hosts:
            return {"Request": "StartSession", "Error": "InvalidHostID"}, "StartSession -> InvalidHostID"
        self.session_id = str(uuid.uuid4()).upper()
        return ({"Request": "StartSession", "SessionID": self.session_id, "EnableSessionSSL": False},
                "StartSession -> no TLS")

    def _StopSession(self, request):
        self.session_id = None
        return {"Request": "StopSession"}, "StopSession"

    def _StartService(self, request):
        service = request.get("Service")
        reply = {"Request": "StartService", "Service": service}
        name = f"StartService {service}"
        if self.session_id is None:
            reply["Error"] = "SessionInactive"
            return reply, name + " -> SessionInactive"
        switch, port = SERVICES.get(service, (None, None))
        if switch is None or not self.device.script.services[switch]:
            reply["Error"] = "InvalidService"
            return reply, name + " -> InvalidService"
        if service == BACKUP_SERVICE and (not self.device.script.escrow_bag or "EscrowBag" not in request):
            reply["Error"] = "MissingValue"
            return reply, name + " -> MissingValue"
        with self.device.lock:
            self.device.open_ports.add(port)
        reply.update({"Port": port, "EnableServiceSSL": False})
        return reply, f"{name} -> port {port}"

    def _EnterRecovery(self, request):
        # Allowed without a session: ideviceenterrecovery asks right after QueryType.
        return {"Request": "EnterRecovery"}, "EnterRecovery -> rebooting, leaving usbmuxd"

    def _Goodbye(self, request):
        return {"Request": "Goodbye"}, "Goodbye"


def _host_id(request):
    record = request.get("PairRecord")
    host_id = record.get("HostID") if isinstance(record, dict) else None
    return host_id if isinstance(host_id, str) and host_id else None


def serve_lockdown(sock, world, device):
    session = LockdownSession(world, device)
    while True:
        try:
            request = recv_plist_frame(sock)
        except PeerClosed:
            return
        except ValueError as e:
            world.log(session.where, f"bad request: {e}")
            return
        reply, summary = session.answer(request)
        world.log(session.where, summary)
        send_plist_frame(sock, reply)
        if reply.get("Request") == "Goodbye":
            return
        if reply.get("Request") == "EnterRecovery" and "Error" not in reply:
            # A device rebooting into recovery mode drops off usbmuxd (it shows up on the USB bus instead).
            world.detach(device)
            return

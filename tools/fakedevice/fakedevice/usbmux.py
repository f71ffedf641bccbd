"""The usbmuxd side of a client connection: plist requests, and Connect turning it into a device stream."""

import plistlib

from .framing import PeerClosed, USBMUX_MESSAGE_PLIST, parse_plist, recv_usbmux_packet, send_all, usbmux_packet
from .services import handler_for_port
from .world import Listener, attached_message

RESULT_OK = 0
RESULT_BADCOMMAND = 1
RESULT_BADDEV = 2
RESULT_CONNREFUSED = 3
RESULT_BADVERSION = 6


def _result(tag, number):
    return usbmux_packet(tag, {"MessageType": "Result", "Number": number})


def _swap16(value):
    # libusbmuxd sends htons(port) as a plain integer.
    return ((value & 0xFF) << 8) | ((value >> 8) & 0xFF)


def serve_client(sock, world):
    log = world.log
    while True:
        try:
            _, message, tag, payload = recv_usbmux_packet(sock)
        except PeerClosed:
            return
        except ValueError as e:
            log("usbmuxd", f"bad packet: {e}")
            return
        if message != USBMUX_MESSAGE_PLIST:
            log("usbmuxd", f"binary message {message} refused")
            send_all(sock, _result(tag, RESULT_BADVERSION))
            continue
        try:
            request = parse_plist(payload)
        except ValueError as e:
            log("usbmuxd", f"bad request: {e}")
            send_all(sock, _result(tag, RESULT_BADCOMMAND))
            continue
        kind = request.get("MessageType") if isinstance(request, dict) else None
        handler = _HANDLERS.get(kind)
        if handler is None:
            log("usbmuxd", f"unknown request {kind!r} -> Result {RESULT_BADCOMMAND}")
            send_all(sock, _result(tag, RESULT_BADCOMMAND))
            continue
        if handler(sock, world, tag, request) == "done":
            return


def _list_devices(sock, world, tag, request):
    devices = world.attached_devices()
    world.log("usbmuxd", f"ListDevices -> {len(devices)} device(s)")
    send_all(sock, usbmux_packet(tag, {"DeviceList": [attached_message(d) for d in devices]}))


def _listen(sock, world, tag, request):
    world.log("usbmuxd", "Listen -> Result 0")
    send_all(sock, _result(tag, RESULT_OK))
    listener = Listener(sock)
    world.add_listener(listener)
    try:
        # Nothing more is expected on a listening connection; wait for the client to leave.
        while sock.recv(4096):
            pass
    except OSError:
        pass
    world.remove_listener(listener)
    return "done"


def _read_buid(sock, world, tag, request):
    world.log("usbmuxd", "ReadBUID")
    send_all(sock, usbmux_packet(tag, {"BUID": world.buid}))


def _read_pair_record(sock, world, tag, request):
    record_id = str(request.get("PairRecordID", ""))
    data = world.read_pair_record(record_id)
    world.log("usbmuxd", f"ReadPairRecord {record_id} -> {'record' if data else 'none'}")
    if data is None:
        send_all(sock, _result(tag, RESULT_BADDEV))
    else:
        send_all(sock, usbmux_packet(tag, {"PairRecordData": data}))


def _save_pair_record(sock, world, tag, request):
    record_id = str(request.get("PairRecordID", ""))
    data = request.get("PairRecordData")
    if not record_id or not isinstance(data, bytes):
        world.log("usbmuxd", "SavePairRecord without id or data -> Result 1")
        send_all(sock, _result(tag, RESULT_BADCOMMAND))
        return
    try:
        plistlib.loads(data)
    except Exception:
        world.log("usbmuxd", f"SavePairRecord {record_id}: data is no plist -> Result 1")
        send_all(sock, _result(tag, RESULT_BADCOMMAND))
        return
    # Stored before the answer: the client reads the record back at once on another connection.
    world.save_pair_record(record_id, data)
    world.log("usbmuxd", f"SavePairRecord {record_id} -> Result 0")
    send_all(sock, _result(tag, RESULT_OK))
    world.announce_paired(record_id, request.get("DeviceID", 0))


def _delete_pair_record(sock, world, tag, request):
    record_id = str(request.get("PairRecordID", ""))
    found = world.delete_pair_record(record_id)
    world.log("usbmuxd", f"DeletePairRecord {record_id} -> Result {RESULT_OK if found else RESULT_BADDEV}")
    send_all(sock, _result(tag, RESULT_OK if found else RESULT_BADDEV))


def _connect(sock, world, tag, request):
    device = world.device_by_id(request.get("DeviceID"))
    port = _swap16(int(request.get("PortNumber", 0)))
    if device is None or not device.attached:
        world.log("usbmuxd", f"Connect device {request.get('DeviceID')} port {port} -> Result {RESULT_BADDEV}")
        send_all(sock, _result(tag, RESULT_BADDEV))
        return
    handler = handler_for_port(device, port)
    if handler is None:
        world.log(device.udid[:8], f"Connect port {port} -> Result {RESULT_CONNREFUSED}")
        send_all(sock, _result(tag, RESULT_CONNREFUSED))
        return
    if not device.add_stream(sock):
        send_all(sock, _result(tag, RESULT_BADDEV))
        return
    world.log(device.udid[:8], f"Connect port {port} -> Result 0")
    try:
        send_all(sock, _result(tag, RESULT_OK))
        handler(sock, world, device)
    except PeerClosed:
        pass
    finally:
        device.remove_stream(sock)
    return "done"


# A handler returns "done" when the connection stops carrying requests (it listens, or became a device stream).
_HANDLERS = {
    "ListDevices": _list_devices,
    "Listen": _listen,
    "ReadBUID": _read_buid,
    "ReadPairRecord": _read_pair_record,
    "SavePairRecord": _save_pair_record,
    "DeletePairRecord": _delete_pair_record,
    "Connect": _connect,
}

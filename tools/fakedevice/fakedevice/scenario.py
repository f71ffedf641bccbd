"""Reads and checks the scenario JSON; every mistake is reported with the key that holds it."""

import json
import os
import re
from dataclasses import dataclass, field

PAIR_OUTCOMES = ("pending", "locked", "denied", "ok")
PAIR_RECORDS = ("none", "valid", "stale")
SERVICE_KEYS = ("notification_proxy", "afc", "mobilebackup2")
UDID_PATTERN = re.compile(r"^([0-9a-fA-F]{40}|[0-9A-Fa-f]{8}-[0-9A-Fa-f]{16})$")


class ScenarioError(Exception):
    pass


@dataclass
class BackupPlan:
    replay: str | None = None
    device_link_version: int = 400
    free_space_check: bool = True
    error_code: int = 0
    error_description: str = ""
    error_after_files: int | None = None
    passcode_prompt: bool = False
    passcode_seconds: float = 1.0
    disconnect_after_bytes: int | None = None
    cancel_after_files: int | None = None
    hostile_names: list = field(default_factory=list)
    move_items: dict = field(default_factory=dict)
    remove_items: list = field(default_factory=list)
    snapshot_state: str = "finished"
    chunk_size: int = 1 << 20
    silence_seconds: float = 0.0


@dataclass
class DeviceSpec:
    udid: str
    name: str = "Test iPhone"
    product_type: str = "iPhone12,1"
    product_version: str = "16.5"
    build_version: str = "20F66"
    serial: str = "F2LXK0AAAAAA"
    device_class: str = "iPhone"
    activation: str = "Activated"
    will_encrypt: bool = False
    attached: bool = True
    pair: list = field(default_factory=lambda: ["ok"])
    pair_record: str = "none"
    services: dict = field(default_factory=lambda: {k: True for k in SERVICE_KEYS})
    escrow_bag: bool = True
    backup: BackupPlan = field(default_factory=BackupPlan)


class _Reader:
    """Takes typed values out of one JSON object, naming the path of any wrong one."""

    def __init__(self, obj, where):
        if not isinstance(obj, dict):
            raise ScenarioError(f"{where}: expected an object")
        self.obj, self.where, self.used = obj, where, set()

    def get(self, key, kinds, default, allow_null=False):
        self.used.add(key)
        if key not in self.obj:
            return default
        value = self.obj[key]
        if value is None and allow_null:
            return None
        # bool is an int in Python; a flag must not pass as a number or the reverse.
        ok = isinstance(value, kinds) and not (isinstance(value, bool) and bool not in _as_tuple(kinds))
        if not ok:
            names = "/".join(k.__name__ for k in _as_tuple(kinds))
            raise ScenarioError(f"{self.where}.{key}: expected {names}{' or null' if allow_null else ''}, "
                                f"got {json.dumps(value)}")
        return value

    def check_unknown(self):
        unknown = sorted(set(self.obj) - self.used)
        if unknown:
            raise ScenarioError(f"{self.where}: unknown key(s) {', '.join(unknown)}")


def _as_tuple(kinds):
    return kinds if isinstance(kinds, tuple) else (kinds,)


def _non_negative(value, where):
    if value is not None and value < 0:
        raise ScenarioError(f"{where}: must not be negative")
    return value


def _backup(obj, where, base_dir):
    r = _Reader(obj, where)
    b = BackupPlan()
    replay = r.get("replay", str, None, allow_null=True)
    if replay is not None:
        replay = os.path.normpath(os.path.join(base_dir, replay))
        if not os.path.isdir(replay):
            raise ScenarioError(f"{where}.replay: {replay} is not a folder")
    b.replay = replay
    b.device_link_version = r.get("deviceLinkVersion", int, b.device_link_version)
    b.free_space_check = r.get("freeSpaceCheck", bool, b.free_space_check)
    b.error_code = _non_negative(r.get("errorCode", int, 0), f"{where}.errorCode")
    b.error_description = r.get("errorDescription", str, "")
    b.error_after_files = _non_negative(r.get("errorAfterFiles", int, None, allow_null=True),
                                        f"{where}.errorAfterFiles")
    b.passcode_prompt = r.get("passcodePrompt", bool, False)
    b.passcode_seconds = _non_negative(float(r.get("passcodeSeconds", (int, float), 1.0)), f"{where}.passcodeSeconds")
    b.disconnect_after_bytes = _non_negative(r.get("disconnectAfterBytes", int, None, allow_null=True),
                                             f"{where}.disconnectAfterBytes")
    b.cancel_after_files = _non_negative(r.get("cancelAfterFiles", int, None, allow_null=True),
                                         f"{where}.cancelAfterFiles")
    names = r.get("hostileNames", list, [])
    if not all(isinstance(n, str) and n for n in names):
        raise ScenarioError(f"{where}.hostileNames: expected non-empty strings")
    b.hostile_names = names
    moves = r.get("moveItems", dict, {})
    if not all(isinstance(v, str) and v and k for k, v in moves.items()):
        raise ScenarioError(f"{where}.moveItems: expected non-empty old -> new path strings")
    b.move_items = moves
    removes = r.get("removeItems", list, [])
    if not all(isinstance(n, str) and n for n in removes):
        raise ScenarioError(f"{where}.removeItems: expected non-empty strings")
    b.remove_items = removes
    b.snapshot_state = r.get("snapshotState", str, b.snapshot_state)
    b.chunk_size = r.get("chunkSize", int, b.chunk_size)
    if not 1 <= b.chunk_size <= 1 << 30:
        raise ScenarioError(f"{where}.chunkSize: must be between 1 and 1073741824")
    b.silence_seconds = _non_negative(float(r.get("silenceSeconds", (int, float), 0.0)), f"{where}.silenceSeconds")
    r.check_unknown()
    return b


def _device(obj, where, base_dir):
    r = _Reader(obj, where)
    udid = r.get("udid", str, None)
    if udid is None:
        raise ScenarioError(f"{where}.udid: required")
    if not UDID_PATTERN.match(udid):
        raise ScenarioError(f"{where}.udid: expected 40 hex digits or 8-16 hex digits with a dash, got {udid!r}")
    d = DeviceSpec(udid=udid)
    d.name = r.get("name", str, d.name)
    d.product_type = r.get("productType", str, d.product_type)
    d.product_version = r.get("productVersion", str, d.product_version)
    d.build_version = r.get("buildVersion", str, d.build_version)
    d.serial = r.get("serialNumber", str, d.serial)
    d.device_class = r.get("deviceClass", str, d.device_class)
    d.activation = r.get("activation", str, d.activation)
    d.will_encrypt = r.get("willEncrypt", bool, False)
    d.attached = r.get("attached", bool, True)
    pair = r.get("pair", list, ["ok"])
    if not pair or any(p not in PAIR_OUTCOMES for p in pair):
        raise ScenarioError(f"{where}.pair: expected a non-empty list of {'|'.join(PAIR_OUTCOMES)}")
    d.pair = pair
    d.pair_record = r.get("pairRecord", str, "none")
    if d.pair_record not in PAIR_RECORDS:
        raise ScenarioError(f"{where}.pairRecord: expected one of {'|'.join(PAIR_RECORDS)}")
    services = r.get("services", dict, {})
    for key, value in services.items():
        if key not in SERVICE_KEYS or not isinstance(value, bool):
            raise ScenarioError(f"{where}.services.{key}: expected one of {', '.join(SERVICE_KEYS)} set to true/false")
    d.services = {k: services.get(k, True) for k in SERVICE_KEYS}
    d.escrow_bag = r.get("escrowBag", bool, True)
    d.backup = _backup(r.get("backup", dict, {}), f"{where}.backup", base_dir)
    r.check_unknown()
    return d


def parse_scenario(obj, base_dir="."):
    """Checks a decoded scenario; relative replay paths are taken from base_dir."""
    r = _Reader(obj, "scenario")
    devices = r.get("devices", list, None)
    if not devices:
        raise ScenarioError("scenario.devices: required, a non-empty list")
    r.check_unknown()
    scripted = [_device(d, f"scenario.devices[{i}]", base_dir) for i, d in enumerate(devices)]
    seen = set()
    for s in scripted:
        if s.udid.lower() in seen:
            raise ScenarioError(f"scenario.devices: udid {s.udid} appears twice")
        seen.add(s.udid.lower())
    return scripted


def load_scenario(path):
    try:
        with open(path, encoding="utf-8") as f:
            obj = json.load(f)
    except OSError as e:
        raise ScenarioError(f"{path}: {e.strerror}") from e
    except json.JSONDecodeError as e:
        raise ScenarioError(f"{path}: not valid JSON ({e})") from e
    return parse_scenario(obj, os.path.dirname(os.path.abspath(path)))

"""mobilebackup2: the DeviceLink handshake, Hello, and a Backup played from a replayed folder with the
scenario's faults (passcode prompt, silence, cancel, unplug, hostile names, error codes)."""

import time

from .devicelink import DeviceLink, Unplugged
from .framing import PeerClosed
from .replay import STATUS, read_tree

PROTOCOL_VERSION = 2.1
BATCH_FILES = 256
BATCH_BYTES = 64 << 20
CANCEL = "com.apple.itunes-client.syncCancelRequest"
PASSCODE_SHOWN = "com.apple.LocalAuthentication.ui.presented"
PASSCODE_HIDDEN = "com.apple.LocalAuthentication.ui.dismissed"
CANCEL_GRACE_SECONDS = 0.5       # lets the host see the cancel before more files come
HOSTILE_CONTENT = b"written by the fake device under a hostile name\n"


class Stop(Exception):
    """The scripted backup ends early with this ProcessMessage error."""

    def __init__(self, code, description):
        super().__init__(description)
        self.code, self.description = code, description


def serve_mobilebackup2(sock, world, device):
    where = device.udid[:8] + " mobilebackup2"
    link = DeviceLink(sock, world.log, where)
    plan = device.script.backup
    try:
        if not _handshake(link, plan.device_link_version):
            return
        while True:
            message = link.receive()
            if message[0] == "DLMessageDisconnect":
                world.log(where, "DLMessageDisconnect")
                return
            body = message[1] if message[0] == "DLMessageProcessMessage" and len(message) > 1 else None
            name = body.get("MessageName") if isinstance(body, dict) else None
            if name == "Backup":
                BackupRun(link, world, device, body).play()
            else:
                world.log(where, f"{message[0]} {name or ''} -> not supported")
                link.process_message({"ErrorCode": 1, "ErrorDescription": f"{name or message[0]} is not supported"})
    except ValueError as e:
        world.log(where, f"protocol error: {e}")
    except Unplugged:
        world.log(where, "unplugged mid-stream")
        world.detach(device)
    except PeerClosed as e:
        world.log(where, f"host left ({e})")
    except OSError as e:
        world.log(where, f"replay folder unreadable: {e}")


def _handshake(link, major):
    link.send(["DLMessageVersionExchange", major, 0])
    try:
        reply = link.receive()
    except PeerClosed:
        link.log(link.where, f"DLMessageVersionExchange {major} -> host left")
        return False
    if reply[:2] != ["DLMessageVersionExchange", "DLVersionsOk"]:
        link.log(link.where, f"DLMessageVersionExchange {major} -> refused ({reply[0]})")
        return False
    link.log(link.where, f"DLMessageVersionExchange {major} -> DLVersionsOk {reply[2:3]}")
    link.send(["DLMessageDeviceReady"])
    hello = link.receive()
    body = hello[1] if len(hello) > 1 and isinstance(hello[1], dict) else {}
    if body.get("MessageName") != "Hello":
        raise ValueError(f"expected Hello, got {hello[0]} {body.get('MessageName')}")
    versions = body.get("SupportedProtocolVersions") or []
    if PROTOCOL_VERSION in versions:
        link.log(link.where, f"Hello {versions} -> {PROTOCOL_VERSION}")
        link.process_message({"MessageName": "Response", "ErrorCode": 0, "ProtocolVersion": PROTOCOL_VERSION})
        return True
    link.log(link.where, f"Hello {versions} -> no common version")
    link.process_message({"MessageName": "Response", "ErrorCode": 1})
    return False


class BackupRun:
    def __init__(self, link, world, device, request):
        self.link, self.world, self.device = link, world, device
        self.plan = device.script.backup
        target = request.get("TargetIdentifier")
        self.target = target if isinstance(target, str) and target else device.udid
        self.files_sent = 0
        self.bytes_sent = 0
        self.total = 1
        options = request.get("Options")
        self.options = sorted(options) if isinstance(options, dict) else []

    def log(self, text):
        self.link.log(self.link.where, text)

    def play(self):
        plan, link = self.plan, self.link
        self.log(f"Backup target {self.target} options {self.options}")
        tree, skipped = read_tree(plan.replay, plan.snapshot_state)
        for rel in skipped:
            self.log(f"not a regular file, left out: {rel}")
        self.total = max(tree.total_bytes, 1)
        if plan.silence_seconds:
            self.log(f"silent for {plan.silence_seconds} s")
            time.sleep(plan.silence_seconds)
        if plan.passcode_prompt:
            self.relay(PASSCODE_SHOWN)
            time.sleep(plan.passcode_seconds)
            self.relay(PASSCODE_HIDDEN)
        try:
            self.prepare(tree)
            self.upload(tree)
            for name in plan.hostile_names:
                self.upload_batch([(name, HOSTILE_CONTENT, len(HOSTILE_CONTENT))], f"hostile upload {name!r}")
            if plan.move_items:
                link.send(["DLMessageMoveItems", plan.move_items, {}, self.progress()])
                link.status(f"MoveItems {len(plan.move_items)}")
            if plan.remove_items:
                link.send(["DLMessageRemoveItems", plan.remove_items, {}, self.progress()])
                link.status(f"RemoveItems {len(plan.remove_items)}")
            self.upload_batch([(f"{self.target}/{STATUS}", tree.status_plist, len(tree.status_plist))],
                              f"UploadFiles {STATUS} ({plan.snapshot_state})")
            code, description = plan.error_code, plan.error_description
        except Stop as stop:
            code, description = stop.code, stop.description
        result = {"ErrorCode": code}
        if description:
            result["ErrorDescription"] = description
        self.log(f"ProcessMessage ErrorCode {code}{' ' + description if description else ''}")
        link.process_message(result)

    def relay(self, name):
        count = self.device.relay(name)
        self.log(f"relay {name} to {count} observer(s)")

    def prepare(self, tree):
        link = self.link
        if self.plan.free_space_check:
            link.send(["DLMessageGetFreeDiskSpace"])
            link.status("GetFreeDiskSpace")
        wanted = [f"{self.target}/{STATUS}", f"{self.target}/Manifest.plist"]
        link.send(["DLMessageDownloadFiles", wanted, {}, self.progress()])
        results = link.read_download_stream()
        self.log("DownloadFiles stream: " + ", ".join(f"{k}: {v}" for k, v in results.items()))
        link.status("DownloadFiles")
        for folder in [self.target] + [f"{self.target}/{f}" for f in tree.folders]:
            link.send(["DLMessageCreateDirectory", folder, {}, self.progress()])
            link.status(f"CreateDirectory {folder}")

    def upload(self, tree):
        batch, batch_bytes = [], 0
        for f in tree.files:
            batch.append((f"{self.target}/{f.relative}", f, f.size))
            batch_bytes += f.size
            if len(batch) >= BATCH_FILES or batch_bytes >= BATCH_BYTES:
                self.upload_batch(batch, f"UploadFiles {len(batch)} file(s)")
                batch, batch_bytes = [], 0
        if batch:
            self.upload_batch(batch, f"UploadFiles {len(batch)} file(s)")

    def upload_batch(self, items, what):
        """One DLMessageUploadFiles; items are (host name, ReplayFile or the bytes themselves, size)."""
        plan, link = self.plan, self.link
        if plan.error_code and plan.error_after_files == self.files_sent:
            raise Stop(plan.error_code, plan.error_description)
        link.send(["DLMessageUploadFiles", {}, self.progress(), sum(size for _, _, size in items)])
        stop = None
        for host_name, source, size in items:
            link.upload_name(host_name, host_name)
            budget = None if plan.disconnect_after_bytes is None else plan.disconnect_after_bytes - self.bytes_sent
            if isinstance(source, bytes):
                if budget is not None and budget < size:
                    raise Unplugged()
                link.upload_bytes(source)
                self.bytes_sent += size
                continue
            link.upload_file(source.path, size, plan.chunk_size, budget)
            self.files_sent += 1
            self.bytes_sent += size
            stop = self.after_file()
            if stop:
                break
        link.end_of_uploads()
        link.status(what)
        if stop:
            raise stop

    def after_file(self):
        plan = self.plan
        if plan.cancel_after_files == self.files_sent:
            self.relay(CANCEL)
            time.sleep(CANCEL_GRACE_SECONDS)
        if plan.error_code and plan.error_after_files == self.files_sent:
            return Stop(plan.error_code, plan.error_description)
        return None

    def progress(self):
        return min(100.0, 100.0 * self.bytes_sent / self.total)

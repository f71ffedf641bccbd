#!/usr/bin/python3
"""Runs Debian's unmodified libimobiledevice tools against tools/fakedevice: generated backups (plain and
encrypted) must arrive byte for byte, and each scripted fault must end the way the tools report it.
Trust and plugging go through the same libimobiledevice in tests/tether/device/device_connect_test.cpp.
Exits 77 (skipped) when libimobiledevice-utils is not installed."""

import filecmp
import json
import os
import secrets
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FAKE = os.path.join(ROOT, "tools", "fakedevice", "fakedevice.py")
MKBACKUP = os.path.join(ROOT, "tools", "mkbackup", "mkbackup.py")
TOOLS = ("idevicebackup2",)


def udid(n):
    return f"{n:08X}-{n:016X}"


class FakeDevice:
    """The fake on a private socket."""

    def __init__(self, folder, devices):
        self.socket = os.path.join(folder, "usbmuxd.sock")
        scenario = os.path.join(folder, "scenario.json")
        with open(scenario, "w") as f:
            json.dump({"devices": devices}, f)
        self.proc = subprocess.Popen([sys.executable, FAKE, "--socket", self.socket, "--scenario", scenario,
                                      "--log", os.path.join(folder, "fake.log")],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        if self.proc.stdout.readline().strip() != "ready":
            raise RuntimeError("the fake device did not start")
        self.env = dict(os.environ, USBMUXD_SOCKET_ADDRESS="UNIX:" + self.socket)

    def run(self, *argv):
        done = subprocess.run(argv, env=self.env, capture_output=True, timeout=60)
        return (done.stdout + done.stderr).decode(errors="replace").replace("\r", "\n")

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=10)
        self.proc.stdout.close()


def same_tree(a, b, ignore):
    cmp = filecmp.dircmp(a, b, ignore=ignore)
    if cmp.left_only or cmp.right_only or cmp.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, cmp.common_files, shallow=False)
    return not mismatch and not errors and all(
        same_tree(os.path.join(a, d), os.path.join(b, d), []) for d in cmp.common_dirs)


class FakeDeviceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="fakedevice-")
        cls.plain = os.path.join(cls.tmp, "plain")
        cls.encrypted = os.path.join(cls.tmp, "encrypted")
        password_file = os.path.join(cls.tmp, "password")
        with open(os.open(password_file, os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
            f.write(secrets.token_hex(8) + "\n")
        small = ["/usr/bin/python3", MKBACKUP, "--profile", "small", "--manifest-db"]
        makers = [subprocess.Popen(small + extra, stdout=subprocess.DEVNULL) for extra in (
            [cls.plain],
            ["--encrypted", "--password-file", password_file, "--iterations", "1", "--dp-iterations", "1",
             cls.encrypted])]
        if any(m.wait() != 0 for m in makers):
            raise RuntimeError("mkbackup failed")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def start(self, devices):
        folder = tempfile.mkdtemp(dir=self.tmp)
        fake = FakeDevice(folder, devices)
        self.addCleanup(fake.close)
        return fake, folder

    def backup(self, fake, folder, device_udid):
        out = tempfile.mkdtemp(dir=folder)
        text = fake.run("idevicebackup2", "-u", device_udid, "backup", "--full", out)
        return text, os.path.join(out, device_udid)

    def test_backups_arrive_byte_for_byte(self):
        # 4 KiB blocks stream most files from disk in many blocks; 1 MiB sends each file in one write.
        cases = [(udid(1), self.plain, False, 1 << 20, "Backup will be unencrypted."),
                 (udid(2), self.encrypted, True, 4096, "Backup will be encrypted.")]
        fake, folder = self.start([{"udid": u, "pairRecord": "valid", "willEncrypt": enc,
                                    "backup": {"replay": replay, "chunkSize": chunk}}
                                   for u, replay, enc, chunk, _ in cases])
        for u, replay, _, _, announced in cases:
            with self.subTest(replay=os.path.basename(replay)):
                text, got = self.backup(fake, folder, u)
                self.assertIn("Backup Successful.", text)
                self.assertIn(announced, text)
                self.assertTrue(os.path.isfile(os.path.join(got, "Info.plist")))
                self.assertTrue(same_tree(replay, got, ["Info.plist"]), f"{got} differs from {replay}")

    def test_scripted_faults_end_as_the_tool_reports(self):
        cases = [
            ({"disconnectAfterBytes": 20000}, {}, "Backup Aborted."),
            ({"snapshotState": "uploading"}, {}, "Backup Failed"),
            ({"errorCode": 208, "errorDescription": "Device locked", "errorAfterFiles": 0, "passcodePrompt": True,
              "passcodeSeconds": 0}, {}, "ErrorCode 208: Device locked"),
            ({"deviceLinkVersion": 500}, {}, "version exchange, error code -1"),
            ({}, {"escrowBag": False}, "Could not start service com.apple.mobilebackup2"),
            ({}, {"pairRecord": "stale"}, "Could not connect to lockdownd, error code -21"),
            ({}, {"pairRecord": "none", "pair": ["denied"]}, "error code -18"),
        ]
        devices = []
        for n, (backup, device, _) in enumerate(cases, start=10):
            devices.append(dict({"udid": udid(n), "pairRecord": "valid",
                                 "backup": dict({"replay": self.plain}, **backup)}, **device))
        fake, folder = self.start(devices)
        for n, (backup, device, expected) in enumerate(cases, start=10):
            with self.subTest(backup=backup, device=device):
                text, got = self.backup(fake, folder, udid(n))
                self.assertIn(expected, text)
                self.assertNotIn("Backup Successful.", text)

    def test_bad_scenarios_are_refused_naming_the_key(self):
        cases = [
            ({"devices": [{}]}, "devices[0].udid: required"),
            ({"devices": [{"udid": "xyz"}]}, "devices[0].udid"),
            ({"devices": [{"udid": udid(1), "pair": ["maybe"]}]}, "devices[0].pair"),
            ({"devices": [{"udid": udid(1), "colour": "red"}]}, "unknown key(s) colour"),
            ({"devices": [{"udid": udid(1), "backup": {"replay": "/nonexistent"}}]}, "backup.replay"),
            ({"devices": [{"udid": udid(1), "backup": {"cancelAfterFiles": True}}]}, "cancelAfterFiles"),
        ]
        for scenario, expected in cases:
            with self.subTest(expected=expected):
                path = os.path.join(self.tmp, "bad.json")
                with open(path, "w") as f:
                    json.dump(scenario, f)
                done = subprocess.run([sys.executable, FAKE, "--socket", os.path.join(self.tmp, "bad.sock"),
                                       "--scenario", path], capture_output=True, text=True, stdin=subprocess.DEVNULL)
                self.assertEqual(done.returncode, 2)
                self.assertIn(expected, done.stderr)


if __name__ == "__main__":
    missing = [t for t in TOOLS if shutil.which(t) is None]
    if missing:
        print(f"SKIP: {', '.join(missing)} not installed (Debian package libimobiledevice-utils)")
        sys.exit(77)
    unittest.main()

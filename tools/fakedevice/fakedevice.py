#!/usr/bin/python3
"""A scripted fake iPhone for tests: a usbmuxd socket with lockdownd, notification_proxy, AFC and
mobilebackup2 behind it, all without TLS, so Debian's unmodified libimobiledevice talks to it.

    fakedevice.py --socket PATH --scenario FILE.json [--log FILE]

Clients find it with USBMUXD_SOCKET_ADDRESS=UNIX:PATH. It prints "ready" once it accepts connections and runs
until SIGTERM or until its stdin closes. Lines on stdin:
    attach UDID          plug the device in (Attached to listeners)
    detach UDID          unplug it: its open streams close, listeners get Detached
    notify UDID NAME     RelayNotification NAME to notification_proxy sessions observing it
Each command line is answered by one line on stdout: what was done, or "error: ...".

Scenario (JSON; only devices[].udid is required; relative paths are taken from the scenario's folder):
{"devices": [{
  "udid": "40 hex digits, or 8-16 hex digits with a dash",
  (activation only sets ActivationState; the services do not check it)
  "name": "Test iPhone", "productType": "iPhone12,1", "productVersion": "16.5", "buildVersion": "20F66",
  "serialNumber": "F2LXK0AAAAAA", "deviceClass": "iPhone", "activation": "Activated",
  "willEncrypt": false,            GetValue com.apple.mobile.backup WillEncrypt
  "attached": true,                attached at start
  "pair": ["pending", "ok"],       outcome of each Pair request in turn (pending|locked|denied|ok); the last repeats
  "pairRecord": "none",            what usbmuxd holds at start: none | valid | stale (StartSession: InvalidHostID)
  "services": {"notification_proxy": true, "afc": true, "mobilebackup2": true},   false: InvalidService
  "escrowBag": true,               false: StartService com.apple.mobilebackup2 answers MissingValue
  "backup": {
    "replay": "/path/to/backup",   folder uploaded as the backup (all but Info.plist, which the host writes)
    "deviceLinkVersion": 400,      major of DLMessageVersionExchange
    "freeSpaceCheck": true,        ask DLMessageGetFreeDiskSpace first
    "errorCode": 0, "errorDescription": "",   the final DLMessageProcessMessage
    "errorAfterFiles": null,       with errorCode: stop after this many files and report it (0: before any)
    "passcodePrompt": false,       relay ...LocalAuthentication.ui.presented, wait passcodeSeconds, ...dismissed
    "passcodeSeconds": 1.0,
    "disconnectAfterBytes": null,  unplug (streams closed, Detached) after this many file bytes
    "cancelAfterFiles": null,      relay com.apple.itunes-client.syncCancelRequest after this many files
    "hostileNames": [],            extra uploads under these names, one UploadFiles each; the status is logged
    "moveItems": {},               {old: new} sent as DLMessageMoveItems after the uploads (paths as the host
    "removeItems": [],             sees them, e.g. "UDID/ab/x"), then DLMessageRemoveItems with these paths
    "snapshotState": "finished",   SnapshotState of the Status.plist sent last
    "chunkSize": 1048576,          bytes per upload block
    "silenceSeconds": 0            say nothing this long after the Backup request
  }
}]}
"""

import argparse
import os
import signal
import socket
import stat
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fakedevice.commands import CommandError, run_command          # noqa: E402
from fakedevice.devicekey import DeviceKeyError, make_public_key_pem   # noqa: E402
from fakedevice.eventlog import EventLog                            # noqa: E402
from fakedevice.scenario import ScenarioError, load_scenario        # noqa: E402
from fakedevice.usbmux import serve_client                          # noqa: E402
from fakedevice.world import World                                  # noqa: E402


def parse_arguments(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter,
                                epilog=__doc__.split("\n\n", 1)[1])
    p.add_argument("--socket", required=True, metavar="PATH", help="UNIX socket to listen on")
    p.add_argument("--scenario", required=True, metavar="FILE", help="scenario JSON")
    p.add_argument("--log", metavar="FILE", help="append one line per request and answer here")
    return p.parse_args(argv)


def open_socket(path):
    """Listens on path, replacing a stale socket but never any other kind of file."""
    try:
        if stat.S_ISSOCK(os.lstat(path).st_mode):
            os.unlink(path)
        else:
            raise OSError(f"{path} exists and is not a socket")
    except FileNotFoundError:
        pass
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(path)
    server.listen(64)
    return server


def accept_loop(server, world):
    while True:
        try:
            client, _ = server.accept()
        except OSError:
            return
        threading.Thread(target=_serve, args=(client, world), daemon=True).start()


def _serve(client, world):
    try:
        serve_client(client, world)
    except Exception as e:   # one broken client must not stop the fake
        world.log("usbmuxd", f"client failed: {type(e).__name__}: {e}")
    finally:
        client.close()


def main(argv):
    args = parse_arguments(argv)
    # A thread per connection: with the default 5 ms switch interval each request that
    # another thread's wait holds up costs milliseconds, and a real device answers faster.
    sys.setswitchinterval(0.0002)
    try:
        scripted = load_scenario(args.scenario)
        key = make_public_key_pem()
        server = open_socket(args.socket)
    except (ScenarioError, DeviceKeyError, OSError) as e:
        print(f"fakedevice: {e}", file=sys.stderr)
        return 2
    log = EventLog(args.log)
    world = World(scripted, key, log)

    def stop(*_):
        server.close()
        try:
            os.unlink(args.socket)
        except OSError:
            pass
        log.close()
        os._exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    threading.Thread(target=accept_loop, args=(server, world), daemon=True).start()
    print("ready", flush=True)
    for line in sys.stdin:
        # Every command line gets exactly one answer line, so a test can wait for it.
        try:
            done = run_command(world, line)
        except CommandError as e:
            done = f"error: {e}"
        if done:
            print(done, flush=True)
    stop()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

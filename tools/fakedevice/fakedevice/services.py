"""Which handler serves a port of a device; a service port answers only once lockdownd started it."""

from .afc import serve_afc
from .backup import serve_mobilebackup2
from .lockdown import serve_lockdown
from .notifyproxy import serve_notification_proxy
from .world import LOCKDOWN_PORT, SERVICES

_BY_NAME = {
    "com.apple.mobile.notification_proxy": serve_notification_proxy,
    "com.apple.afc": serve_afc,
    "com.apple.mobilebackup2": serve_mobilebackup2,
}
_BY_PORT = {LOCKDOWN_PORT: serve_lockdown}
_BY_PORT.update({SERVICES[name][1]: handler for name, handler in _BY_NAME.items()})


def handler_for_port(device, port):
    with device.lock:
        if port not in device.open_ports:
            return None
    return _BY_PORT.get(port)

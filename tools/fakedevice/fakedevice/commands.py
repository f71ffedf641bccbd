"""The stdin commands that change the world mid-run."""

USAGE = "commands: attach UDID | detach UDID | notify UDID NAME"


class CommandError(Exception):
    pass


def run_command(world, line):
    """Applies one stdin line; returns a short text of what happened."""
    words = line.split()
    if not words:
        return None
    verb, args = words[0], words[1:]
    expected = {"attach": 1, "detach": 1, "notify": 2}
    if verb not in expected:
        raise CommandError(f"unknown command {verb!r}; {USAGE}")
    if len(args) != expected[verb]:
        raise CommandError(f"{verb} takes {expected[verb]} argument(s); {USAGE}")
    device = world.device_by_udid(args[0])
    if device is None:
        raise CommandError(f"{verb}: no device {args[0]} in the scenario")
    if verb == "attach":
        world.attach(device)
        return f"attached {device.udid}"
    if verb == "detach":
        world.detach(device)
        return f"detached {device.udid}"
    count = device.relay(args[1])
    world.log(device.udid[:8] + " notification_proxy", f"notify {args[1]}: {count} observer(s)")
    return f"notified {count} observer(s) of {args[1]}"

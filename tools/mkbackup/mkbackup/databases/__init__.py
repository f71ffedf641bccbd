"""Category databases a profile adds to a backup.

Each category gets a module here that builds its database (with live and
deleted rows) and registers a contributor:

    from . import register, Contribution

    @register("contacts")
    def contacts(context):
        return Contribution(entries=[...BackupEntry...], truth={...rows...})

and is imported at the bottom of this file. The backup writer stores the
entries like any other file; the truth goes under "databases"/<name> in the
ground-truth file.
"""

from dataclasses import dataclass, field

_CONTRIBUTORS = {}


@dataclass
class Context:
    profile: str
    rng: object             # SeededRandom for this contributor
    props: object           # BackupProperties
    base_time: int          # seconds since 1970: "now" on the device
    messages: object = None  # messages in sms.db instead of the profile's number
    wal_history: bool = False  # leave recent changes of some databases in a -wal beside them


@dataclass
class Contribution:
    entries: list = field(default_factory=list)
    truth: dict = field(default_factory=dict)


def register(name):
    def decorate(function):
        if name in _CONTRIBUTORS:
            raise ValueError(f"database contributor {name} registered twice")
        _CONTRIBUTORS[name] = function
        return function
    return decorate


def contribute(profile, rng, props, base_time, messages=None, wal_history=False):
    """Runs every registered contributor in name order: {name: Contribution}."""
    return {name: _CONTRIBUTORS[name](Context(profile, rng.derive("db/" + name), props, base_time,
                                              messages, wal_history))
            for name in sorted(_CONTRIBUTORS)}


# Category modules register themselves on import.
from . import messages  # noqa: E402,F401
from . import calls  # noqa: E402,F401
from . import calendar  # noqa: E402,F401
from . import safari  # noqa: E402,F401
from . import whatsapp  # noqa: E402,F401
from . import notes  # noqa: E402,F401
from . import voice  # noqa: E402,F401
from . import contacts  # noqa: E402,F401
from . import reminders  # noqa: E402,F401
from . import photos  # noqa: E402,F401

"""The device and backup facts written into Info.plist and Manifest.plist."""

import datetime
from dataclasses import dataclass, field

PRODUCT_NAMES = {"iPhone7,2": "iPhone 6", "iPhone7,1": "iPhone 6 Plus",
                 "iPhone8,1": "iPhone 6s", "iPhone8,2": "iPhone 6s Plus",
                 "iPhone9,1": "iPhone 7", "iPhone6,2": "iPhone 5s"}
BUILD_VERSIONS = {"9.3.2": "13F69", "9.3.5": "13G36", "8.4.1": "12H321",
                  "10.3.3": "14G60", "7.1.2": "11D257", "5.1.1": "9B206"}


def version_key(text):
    """A product version compared as numbers: 9.3.2 < 10.0."""
    parts = []
    for piece in text.split("."):
        digits = "".join(ch for ch in piece if ch.isdigit())
        parts.append(int(digits) if digits else 0)
    return tuple(parts)


def parse_date(text):
    """ISO 8601 text; a date without zone is taken as UTC."""
    value = datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))
    if value.tzinfo is None:
        value = value.replace(tzinfo=datetime.timezone.utc)
    return value.astimezone(datetime.timezone.utc)


@dataclass
class BackupProperties:
    display_name: str
    device_name: str
    product_type: str
    product_version: str
    serial_number: str
    backup_date: datetime.datetime
    unique_identifier: str
    guid: str
    imei: str
    iccid: str
    phone_number: str
    itunes_version: str = "12.4.1.6"
    encrypted: bool = False
    passcode_set: bool = True
    applications: list = field(default_factory=list)   # bundle identifiers

    @property
    def build_version(self):
        return BUILD_VERSIONS.get(self.product_version, "13A000")

    @property
    def product_name(self):
        return PRODUCT_NAMES.get(self.product_type, "iPhone")

    @property
    def backup_timestamp(self):
        return int(self.backup_date.timestamp())

    def as_json(self):
        return {"display_name": self.display_name, "device_name": self.device_name,
                "product_type": self.product_type, "product_version": self.product_version,
                "build_version": self.build_version, "serial_number": self.serial_number,
                "last_backup_date": self.backup_date.strftime("%Y-%m-%dT%H:%M:%SZ"),
                "last_backup_timestamp": self.backup_timestamp,
                "unique_identifier": self.unique_identifier, "guid": self.guid,
                "imei": self.imei, "phone_number": self.phone_number,
                "encrypted": self.encrypted, "applications": list(self.applications)}


def default_properties(rng, display_name=None, device_name=None, product_type="iPhone7,2",
                       product_version="9.3.2", serial_number=None, backup_date=None):
    """Seeded identifiers for the device; explicit values win."""
    owner = rng.choice(["Alex", "Sam", "Robin", "Kim", "Jo"])
    name = device_name or f"{owner}'s iPhone"
    return BackupProperties(
        display_name=display_name or name,
        device_name=name,
        product_type=product_type,
        product_version=product_version,
        serial_number=serial_number or "F" + "".join(
            rng.choice("0123456789ABCDEFGHJKLMNPQRSTUVWXYZ") for _ in range(11)),
        backup_date=backup_date or datetime.datetime(2016, 6, 14, 10, 12, 45,
                                                     tzinfo=datetime.timezone.utc),
        unique_identifier=rng.hex(40),
        guid=rng.hex(32).upper(),
        imei="35" + "".join(str(rng.randint(0, 9)) for _ in range(13)),
        iccid="8901" + "".join(str(rng.randint(0, 9)) for _ in range(15)),
        phone_number="+1 (555) 555-01" + "".join(str(rng.randint(0, 9)) for _ in range(2)))

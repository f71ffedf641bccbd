"""Info.plist, Manifest.plist and Status.plist of a backup folder."""

import plistlib

MBDB_LAYOUT_VERSION = "9.1"
MANIFEST_DB_LAYOUT_VERSION = "10.0"


def _date(props):
    # plistlib writes naive datetimes as UTC.
    return props.backup_date.replace(tzinfo=None)


def info_plist(props, omit_keys=()):
    values = {
        "Build Version": props.build_version,
        "Device Name": props.device_name,
        "Display Name": props.display_name,
        "GUID": props.guid,
        "ICCID": props.iccid,
        "IMEI": props.imei,
        "Installed Applications": list(props.applications),
        "Last Backup Date": _date(props),
        "Phone Number": props.phone_number,
        "Product Name": props.product_name,
        "Product Type": props.product_type,
        "Product Version": props.product_version,
        "Serial Number": props.serial_number,
        "Target Identifier": props.unique_identifier,
        "Target Type": "Device",
        "Unique Identifier": props.unique_identifier.upper(),
        "iTunes Settings": {},
        "iTunes Version": props.itunes_version,
    }
    for key in omit_keys:
        values.pop(key, None)
    return values


def manifest_plist(props, rng, layout_version, keybag_data=None, manifest_key=None):
    applications = {}
    for bundle in props.applications:
        container = rng.derive("container/" + bundle).uuid_text()
        applications[bundle] = {
            "CFBundleIdentifier": bundle,
            "CFBundleVersion": "1.0",
            "ContainerContentClass": "Data/Application",
            "Path": f"/var/mobile/Containers/Bundle/Application/{container}/"
                    f"{bundle.rsplit('.', 1)[-1]}.app",
        }
    values = {
        "Applications": applications,
        "Date": _date(props),
        "IsEncrypted": props.encrypted,
        "Lockdown": {
            "BuildVersion": props.build_version,
            "DeviceName": props.device_name,
            "ProductType": props.product_type,
            "ProductVersion": props.product_version,
            "SerialNumber": props.serial_number,
            "UniqueDeviceID": props.unique_identifier,
        },
        "SystemDomainsVersion": "20.0",
        "Version": layout_version,
        "WasPasscodeSet": props.passcode_set,
    }
    if keybag_data is not None:
        values["BackupKeyBag"] = keybag_data
    if manifest_key is not None:
        values["ManifestKey"] = manifest_key
    return values


def write_plist(path, values, binary):
    with open(path, "wb") as out:
        plistlib.dump(values, out, fmt=plistlib.FMT_BINARY if binary else plistlib.FMT_XML,
                      sort_keys=True)


def status_plist(props, rng, snapshot_state="finished", full_backup=True):
    """Status.plist as the device leaves it; SnapshotState "finished" marks a
    backup that ran to the end."""
    return {"BackupState": "new", "Date": _date(props), "IsFullBackup": full_backup,
            "SnapshotState": snapshot_state, "UUID": rng.uuid_text(), "Version": "3.3"}

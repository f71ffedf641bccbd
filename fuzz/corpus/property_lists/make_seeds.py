#!/usr/bin/env python3
# Writes the seed lists of this folder: Info.plist, Manifest.plist and Status.plist as the
# generator writes them, in both formats, and damaged ones (cut short, nested too deep, a
# container holding itself, keys of the wrong type, text holding a NUL). Only run to regenerate the seeds.
import os, plistlib, sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "..", "tools", "mkbackup"))
from mkbackup import plists  # noqa: E402
from mkbackup.properties import default_properties  # noqa: E402
from mkbackup.rng import SeededRandom  # noqa: E402

rng = SeededRandom(7, "fuzz-plists")
props = default_properties(rng)
props.applications = ["com.example.notes"]
lists = {
    "info": plists.info_plist(props),
    "manifest": plists.manifest_plist(props, rng, plists.MANIFEST_DB_LAYOUT_VERSION,
                                      keybag_data=bytes(range(64)), manifest_key=bytes(44)),
    "status": plists.status_plist(props, rng, snapshot_state="uploading", full_backup=False),
    "wrong_types": {"Display Name": 5, "Last Backup Date": "yesterday", "IsEncrypted": 3,
                    "BackupKeyBag": "text", "Lockdown": ["ProductVersion"], "SnapshotState": b"raw"},
}
seeds = {}
for name, values in lists.items():
    seeds[name + ".bplist"] = plistlib.dumps(values, fmt=plistlib.FMT_BINARY, sort_keys=True)
    seeds[name + ".xml"] = plistlib.dumps(values, fmt=plistlib.FMT_XML, sort_keys=True)
# libplist asserts that a string holds no NUL; a UTF-16 string of a binary list can hold one.
seeds["nul_in_string.bplist"] = plistlib.dumps({"Display Name": "\u00e9\0b", "Lockdown": {"ProductVersion": "\u00e9\0"}},
                                               fmt=plistlib.FMT_BINARY)
seeds["cut.bplist"] = seeds["manifest.bplist"][:-40]
seeds["cut.xml"] = seeds["info.xml"][: len(seeds["info.xml"]) // 2]
nested = [True]
for _ in range(70):
    nested = [nested]
seeds["deep.bplist"] = plistlib.dumps({"Lockdown": nested}, fmt=plistlib.FMT_BINARY)
loop = bytearray(plistlib.dumps({"Lockdown": [[1]]}, fmt=plistlib.FMT_BINARY))
loop[loop.index(b"\xa1") + 1] = 0   # the outer array's one reference now points at the dictionary
seeds["self_containing.bplist"] = bytes(loop)
for name, data in seeds.items():
    with open(os.path.join(here, name), "wb") as out:
        out.write(data)

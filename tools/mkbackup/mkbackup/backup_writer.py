"""Writes a backup folder: stored files, the file index and the property
lists, encrypting as the device does when a password is given."""

import os
from dataclasses import dataclass, field
from typing import Optional

from . import manifest_db, mbdb, plists
from .keybag import KeyBag
from .stored_files import stored_name, write_stored_file

UID = GID = 501            # the device's "mobile" user
MANIFEST_KEY_CLASS = 4


@dataclass
class WriterOptions:
    layout: str = "mbdb"                # "mbdb" or "manifest-db"
    password: Optional[bytes] = None    # encrypts the backup when set
    iterations: int = 10000
    type_tag: str = "KTYP"
    double_protection: bool = False
    dp_iterations: int = 10000
    binary_plists: bool = False
    manifest_plist: bool = True
    omit_info_keys: list = field(default_factory=list)
    flat_layout: bool = False           # newer layout with stored files at the folder root
    status_plist: bool = False
    snapshot_state: str = "finished"
    full_backup: bool = True

    @property
    def encrypted(self):
        return self.password is not None


def _stored_location(options, name):
    """Relative place of a stored file: the folder root in the old layout
    (and the newer one when flat), else a folder named by its first two digits."""
    return name if options.layout == "mbdb" or options.flat_layout else f"{name[:2]}/{name}"


def _encrypt_whole_file(path, rng, keybag, protection_class):
    """Encrypts a finished Manifest.db in place, without padding as devices do
    (it is whole pages); returns its wrapped key field."""
    file_key = rng.bytes(32)
    plain_path = path + ".plain"
    os.replace(path, plain_path)
    try:
        with open(plain_path, "rb") as source:
            write_stored_file(path, iter(lambda: source.read(1 << 20), b""), file_key, pad=False)
    finally:
        os.remove(plain_path)
    return keybag.wrap_file_key(protection_class, file_key)


def write_backup(out_dir, props, entries, options, rng, extra_rows=()):
    """Writes everything; returns one fact dict per entry in index order, the
    key bag and the Status.plist values (None when there is none).

    `extra_rows` are Manifest.db rows no entry stands for, as (position in
    the entry order, file id, domain, path, flags, archive bytes)."""
    keybag = None
    if options.encrypted:
        keybag = KeyBag(rng.derive("keybag"), options.password, options.iterations,
                        options.type_tag, options.double_protection, options.dp_iterations)
    inode_rng = rng.derive("inodes")
    next_inode = inode_rng.randint(100000, 900000)
    facts = []
    seen_names = set()
    for entry in entries:
        name = stored_name(entry.domain, entry.path)
        if name in seen_names:
            raise ValueError(f"entry listed twice: {entry.domain}-{entry.path}")
        seen_names.add(name)
        fact = {"domain": entry.domain, "path": entry.path, "kind": entry.kind,
                "mode": entry.mode, "inode": next_inode, "uid": UID, "gid": GID,
                "mtime": entry.mtime, "atime": entry.mtime, "ctime": entry.mtime,
                "protection_class": entry.protection_class,
                "link_target": entry.link_target, "properties": entry.properties,
                "stored_name": None, "stored_path": None, "size": 0, "stored_size": 0,
                "sha1": None, "sha256": None, "encryption_key": None,
                "file_id": name, "expect": entry.expect}
        next_inode += 1
        if entry.has_stored_file:
            file_key = None
            if keybag is not None:
                file_key = rng.derive(f"filekey/{entry.domain}-{entry.path}").bytes(32)
                fact["encryption_key"] = keybag.wrap_file_key(entry.protection_class, file_key)
            if entry.stored:
                location = _stored_location(options, name)
                os.makedirs(os.path.dirname(os.path.join(out_dir, location)), exist_ok=True)
                stored = write_stored_file(os.path.join(out_dir, location), entry.chunks(),
                                           file_key)
                fact.update(stored_name=name, stored_path=location, size=stored.size,
                            stored_size=stored.stored_size, sha1=stored.sha1,
                            sha256=stored.sha256)
            if entry.index_size is not None:
                fact["size"] = entry.index_size
        facts.append(fact)

    manifest_key = None
    if options.layout == "mbdb":
        if extra_rows:
            raise ValueError("rows without an entry exist only in Manifest.db")
        _write_mbdb(os.path.join(out_dir, "Manifest.mbdb"), facts)
    else:
        path = os.path.join(out_dir, "Manifest.db")
        rows = [(f["file_id"], f["domain"], f["path"], manifest_db.FLAGS[f["kind"]],
                 manifest_db.archived_file(f)) for f in facts]
        for offset, (position, *row) in enumerate(sorted(extra_rows, key=lambda r: r[0])):
            rows.insert(position + offset, tuple(row))
        manifest_db.write(path, rows)
        if keybag is not None:
            manifest_key = _encrypt_whole_file(path, rng.derive("manifest-key"), keybag,
                                               MANIFEST_KEY_CLASS)

    status = write_property_lists(out_dir, props, options, rng, keybag, manifest_key)
    return facts, keybag, status


def _write_mbdb(path, facts):
    records = []
    for f in facts:
        digest = bytes.fromhex(f["sha1"]) if f["sha1"] else None
        records.append(mbdb.record(
            f["domain"], f["path"], f["link_target"], digest, f["encryption_key"], f["mode"],
            f["inode"], f["uid"], f["gid"], f["mtime"], f["atime"], f["ctime"], f["size"],
            f["protection_class"], f["properties"]))
    mbdb.write(path, records)


def write_property_lists(out_dir, props, options, rng, keybag, manifest_key):
    layout_version = (plists.MBDB_LAYOUT_VERSION if options.layout == "mbdb"
                      else plists.MANIFEST_DB_LAYOUT_VERSION)
    plists.write_plist(os.path.join(out_dir, "Info.plist"),
                       plists.info_plist(props, options.omit_info_keys), options.binary_plists)
    if options.manifest_plist:
        values = plists.manifest_plist(props, rng, layout_version,
                                       keybag.data() if keybag else None, manifest_key)
        plists.write_plist(os.path.join(out_dir, "Manifest.plist"), values, options.binary_plists)
    if not options.status_plist:
        return None
    status = plists.status_plist(props, rng.derive("status"), options.snapshot_state,
                                 options.full_backup)
    # The device writes it, so it is binary whatever the host's plists are.
    plists.write_plist(os.path.join(out_dir, "Status.plist"), status, True)
    return status

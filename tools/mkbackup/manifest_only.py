#!/usr/bin/python3
"""Writes the index of a big plain backup in the newer layout, fast, for
benchmarks of index reading: Info.plist, Manifest.plist, Status.plist and a
Manifest.db of N rows. The stored files the rows name are not written.

    manifest_only.py OUT_DIR --entries N [--seed S]

The rows mix files, folders and links over many domains and deep paths
about as a phone's index does. The same arguments give the same bytes.
"""

import argparse
import collections
import multiprocessing
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from mkbackup import manifest_db, plists                                # noqa: E402
from mkbackup.entries import MODE_DIRECTORY, MODE_FILE, MODE_SYMLINK    # noqa: E402
from mkbackup.properties import default_properties                      # noqa: E402
from mkbackup.rng import SeededRandom                                   # noqa: E402
from mkbackup.stored_files import stored_name                           # noqa: E402

UID = GID = 501
LINK_SHARE, FILE_SHARE = 0.01, 0.56     # the rest are folders
CHUNK = 4000

SYSTEM_DOMAINS = [
    "HomeDomain", "MediaDomain", "CameraRollDomain", "RootDomain", "KeychainDomain",
    "WirelessDomain", "MobileDeviceDomain", "ManagedPreferencesDomain", "DatabaseDomain",
    "SystemPreferencesDomain", "ProtectedDomain", "InstallDomain", "TonesDomain", "BooksDomain",
    "HealthDomain", "KeyboardDomain", "HomeKitDomain"]
CONTAINERS = [("AppDomain-", ""), ("AppDomainGroup-group.", ""), ("AppDomainPlugin-", ".widget"),
              ("SysContainerDomain-", ""), ("SysSharedContainerDomain-systemgroup.", "")]
VENDORS = ["com.apple", "com.example", "net.whatever", "org.sample", "io.demo", "de.beispiel"]
FOLDERS = ["Library", "Caches", "Preferences", "Application Support", "Documents", "tmp",
           "Cookies", "WebKit", "WebsiteData", "LocalStorage", "Databases", "Logs", "Images",
           "Media", "Data", "Snapshots", "SplashBoard", "Attachments", "Thumbnails", "Recordings",
           "IndexedDB", "fsCachedData", "com.apple.nsurlsessiond", "Offline", "Stickers",
           "Downloads", "Metadata", "Backups", "v2", "shared"]
STEMS = ["index", "data", "cache", "settings", "Info", "manifest", "store", "state", "image",
         "thumb", "record", "session", "journal", "history", "log", "config", "blob", "asset"]
EXTENSIONS = [".plist", ".sqlite", ".sqlite-wal", ".sqlite-shm", ".db", ".jpg", ".png",
              ".json", ".dat", ".ktx", ".txt", ".heic", ".mov", ".m4a", ""]
PROTECTION = [1, 2, 3, 3, 3, 3, 4, 4]


def parse_arguments(argv):
    p = argparse.ArgumentParser(prog="manifest_only.py", description=__doc__.split("\n\n")[0])
    p.add_argument("out_dir", metavar="OUT_DIR", help="folder to create (or an empty one)")
    p.add_argument("--entries", type=int, required=True, metavar="N", help="rows of Manifest.db")
    p.add_argument("--seed", type=int, default=1, help="drives every random choice (default 1)")
    args = p.parse_args(argv)
    if args.entries < 1:
        p.error("--entries must be at least 1")
    return args


def domain_names(rng, count):
    names = list(SYSTEM_DOMAINS[:count])
    serial = 0
    while len(names) < count:
        serial += 1
        prefix, suffix = CONTAINERS[serial % len(CONTAINERS)]
        names.append(f"{prefix}{rng.choice(VENDORS)}.app{serial:04d}{suffix}")
    return names


def row_budgets(rng, domains, total):
    """Rows per domain, a few domains big and most small as on a phone; each
    at least its own folder row."""
    weights = [1.0 / rng.uniform(0.02, 1.0) ** 1.3 for _ in domains]
    spare = total - len(domains)
    scale = spare / sum(weights)
    budgets = [1 + int(w * scale) for w in weights]
    budgets[0] += total - sum(budgets)       # HomeDomain takes the rounding
    return budgets


def domain_rows(rng, domain, budget, base_time, inodes):
    """Metadata of one domain's rows, parents before children: (fileID,
    domain, path, flags, metadata) with metadata as the archive builder wants."""
    folders = [""]
    taken = {""}
    current = ""

    def unique(parent, name):
        path = f"{parent}/{name}" if parent else name
        candidate, n = path, 1
        while candidate in taken:
            n += 1
            candidate = f"{path}-{n}"
        taken.add(candidate)
        return candidate

    def row(path, kind, size=0, target=None):
        mtime = base_time - rng.randint(60, 400 * 86400)
        mode = {"file": MODE_FILE, "dir": MODE_DIRECTORY, "symlink": MODE_SYMLINK}[kind]
        meta = {"path": path, "mode": mode, "size": size, "inode": next(inodes),
                "mtime": mtime, "ctime": mtime, "uid": UID, "gid": GID,
                "protection_class": rng.choice(PROTECTION) if kind == "file" else 0,
                "link_target": target, "encryption_key": None}
        return (stored_name(domain, path), domain, path, manifest_db.FLAGS[kind], meta)

    yield row("", "dir")
    for _ in range(budget - 1):
        roll = rng.uniform(0, 1)
        if roll < 0.04:
            current = rng.choice(folders)
        if roll < LINK_SHARE:
            yield row(unique(current, rng.choice(STEMS) + ".link"), "symlink",
                      target=f"../{rng.choice(FOLDERS)}/{rng.choice(STEMS)}")
        elif roll < LINK_SHARE + FILE_SHARE:
            name = f"{rng.choice(STEMS)}{rng.hex(rng.choice((0, 0, 4, 8)))}{rng.choice(EXTENSIONS)}"
            yield row(unique(current, name), "file", size=int(2 ** rng.uniform(3, 22)))
        else:
            # Go deeper, less often the deeper we are, or climb back up a few levels.
            depth = current.count("/") + 1 if current else 0
            parent = current
            if rng.uniform(0, 1) > 0.9 / (1 + depth / 6):
                parent = "/".join(current.split("/")[:max(depth - rng.randint(1, 3), 0)])
            name = rng.choice(FOLDERS) if rng.randint(0, 2) else rng.hex(12).upper()
            current = unique(parent, name)
            folders.append(current)
            yield row(current, "dir")


def chunks(rows):
    chunk = []
    for r in rows:
        chunk.append(r)
        if len(chunk) == CHUNK:
            yield chunk
            chunk = []
    if chunk:
        yield chunk


def archive_chunk(chunk):
    return [(file_id, domain, path, flags, manifest_db.archived_file(meta))
            for file_id, domain, path, flags, meta in chunk]


def archived_rows(pool, rows, ahead):
    """The rows with their archives made by the pool, in order, with at most
    `ahead` chunks in flight so a big index is never held whole."""
    pending = collections.deque()
    for chunk in chunks(rows):
        pending.append(pool.apply_async(archive_chunk, (chunk,)))
        if len(pending) > ahead:
            yield from pending.popleft().get()
    while pending:
        yield from pending.popleft().get()


def write_index(out_dir, rng, props, count):
    domains = domain_names(rng.derive("domains"), min(count, max(4, count // 700)))
    budgets = row_budgets(rng.derive("budgets"), domains, count)
    rows_rng = rng.derive("rows")
    inode_start = rows_rng.randint(100000, 900000)
    inodes = iter(range(inode_start, inode_start + count + len(domains)))
    counts = {}

    def all_rows():
        for domain, budget in zip(domains, budgets):
            for r in domain_rows(rows_rng, domain, budget, props.backup_timestamp, inodes):
                counts[r[3]] = counts.get(r[3], 0) + 1
                yield r

    # Archiving is most of the time, so worker processes do it.
    workers = max(1, min(4, os.cpu_count() or 1))
    with multiprocessing.Pool(workers) as pool:
        manifest_db.write(os.path.join(out_dir, "Manifest.db"),
                          archived_rows(pool, all_rows(), 2 * workers))
    return domains, counts


def main(argv):
    args = parse_arguments(argv)
    started = time.monotonic()
    if os.path.exists(args.out_dir) and os.listdir(args.out_dir):
        raise SystemExit(f"manifest_only: {args.out_dir} is not empty")
    os.makedirs(args.out_dir, exist_ok=True)
    rng = SeededRandom(args.seed, "manifest-only")
    props = default_properties(rng.derive("device"), product_version="10.3.3")
    domains, counts = write_index(args.out_dir, rng, props, args.entries)
    props.applications = [d.split("-", 1)[1] for d in domains if d.startswith("AppDomain-")]
    plists.write_plist(os.path.join(args.out_dir, "Info.plist"), plists.info_plist(props), False)
    plists.write_plist(os.path.join(args.out_dir, "Manifest.plist"),
                       plists.manifest_plist(props, rng, plists.MANIFEST_DB_LAYOUT_VERSION), False)
    plists.write_plist(os.path.join(args.out_dir, "Status.plist"),
                       plists.status_plist(props, rng.derive("status")), True)
    print(f"manifest_only: wrote {sum(counts.values())} rows"
          f" ({counts.get(manifest_db.FLAG_FILE, 0)} files,"
          f" {counts.get(manifest_db.FLAG_DIRECTORY, 0)} folders,"
          f" {counts.get(manifest_db.FLAG_SYMLINK, 0)} links, {len(domains)} domains)"
          f" to {args.out_dir} in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except OSError as error:
        print(f"manifest_only: {error}", file=sys.stderr)
        sys.exit(1)

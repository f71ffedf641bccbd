#!/usr/bin/python3
"""Writes a deterministic sample iTunes-style backup folder.

    mkbackup.py OUT_DIR [--profile sample|small|large] [--seed N] [--truth FILE]
                [--encrypted --password-file FILE] ...

The same arguments always give the same bytes. See --help for every option.
"""

import argparse
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from mkbackup import databases, truth                                   # noqa: E402
from mkbackup.backup_writer import WriterOptions, write_backup          # noqa: E402
from mkbackup.entries import with_directories                           # noqa: E402
from mkbackup.odd_rows import OddRows                                   # noqa: E402
from mkbackup.profiles import APPLICATIONS, PROFILES, ProfileBuilder, more_pictures  # noqa: E402
from mkbackup.properties import default_properties, parse_date, version_key   # noqa: E402
from mkbackup.rng import SeededRandom                                   # noqa: E402

FIRST_MANIFEST_DB_VERSION = "10.0"


def parse_arguments(argv):
    p = argparse.ArgumentParser(
        prog="mkbackup.py", description="Write a deterministic sample iTunes-style backup.")
    p.add_argument("out_dir", metavar="OUT_DIR", help="backup folder to create")
    p.add_argument("--profile", choices=sorted(PROFILES), default="sample")
    p.add_argument("--size-mb", type=int, default=1100, metavar="N",
                   help="approximate total MiB of the large profile (default 1100)")
    p.add_argument("--messages", type=int, metavar="N",
                   help="N messages in sms.db (in about N/400 conversations) instead of the"
                        " profile's few dozen; with their deleted rows")
    p.add_argument("--pictures", type=int, default=0, metavar="N",
                   help="N more camera-roll pictures, small JPEGs with their own Exif dates"
                        " (--messages 100000 --pictures 20000 make a full phone in about a minute)")
    p.add_argument("--wal-history", action="store_true",
                   help="leave sms.db (iOS 6 and later) and notes.sqlite in WAL mode with their last"
                        " changes (rows added, edited and deleted) only in a -wal beside them;"
                        " the truth marks the deleted rows found there (\"wal\": true)")
    p.add_argument("--seed", type=int, default=1, help="drives every random choice (default 1)")
    p.add_argument("--truth", metavar="FILE", help="write the JSON ground truth here")
    p.add_argument("--force", action="store_true", help="replace a non-empty OUT_DIR")
    enc = p.add_argument_group("encryption")
    enc.add_argument("--encrypted", action="store_true")
    enc.add_argument("--password-file", metavar="FILE",
                     help="file whose first line is the password")
    enc.add_argument("--iterations", type=int, default=10000, metavar="N",
                     help="PBKDF2-SHA1 iterations of the key bag (default 10000)")
    enc.add_argument("--keybag-tag", choices=["KTYP", "KYPT"], default="KTYP",
                     help="tag of the class-key type (older bags: KYPT)")
    enc.add_argument("--double-protection", action="store_true", default=None,
                     help="derive through PBKDF2-SHA256 first (DPSL/DPIC), as newer bags do;"
                          " always on with --manifest-db")
    enc.add_argument("--dp-iterations", type=int, default=10000, metavar="N",
                     help="PBKDF2-SHA256 iterations with --double-protection (default 10000)")
    dev = p.add_argument_group("device and backup properties")
    dev.add_argument("--display-name")
    dev.add_argument("--device-name")
    dev.add_argument("--product-type", default="iPhone7,2")
    dev.add_argument("--product-version",
                     help="default 9.3.2, or 10.3.3 with --manifest-db")
    dev.add_argument("--serial")
    dev.add_argument("--backup-date", metavar="ISO8601", help="e.g. 2016-06-14T10:12:45Z")
    lay = p.add_argument_group("layout")
    lay.add_argument("--binary-plists", action="store_true",
                     help="binary Info.plist and Manifest.plist (default XML)")
    lay.add_argument("--no-manifest-plist", action="store_true")
    lay.add_argument("--omit-info-key", action="append", default=[], metavar="KEY",
                     help="leave KEY out of Info.plist (repeatable)")
    lay.add_argument("--manifest-db", action="store_true",
                     help="newer layout: Manifest.db and stored files in two-digit folders")
    lay.add_argument("--flat-layout", action="store_true",
                     help="with --manifest-db: stored files at the folder root")
    lay.add_argument("--odd-rows", action="store_true",
                     help="with --manifest-db: add the odd index rows real backups show"
                          " (see \"odd_rows\" in the truth file)")
    st = p.add_argument_group("Status.plist (always written with --manifest-db)")
    st.add_argument("--status-plist", action="store_true",
                    help="write Status.plist in the old layout too")
    st.add_argument("--snapshot-state", default="finished", metavar="STATE",
                    help="SnapshotState; anything but \"finished\" is an unfinished backup")
    st.add_argument("--incremental", action="store_true", help="IsFullBackup false")
    args = p.parse_args(argv)

    if args.encrypted != (args.password_file is not None):
        p.error("--encrypted and --password-file go together")
    for name in ("flat_layout", "odd_rows"):
        if getattr(args, name) and not args.manifest_db:
            p.error(f"--{name.replace('_', '-')} needs --manifest-db")
    args.status_plist = args.status_plist or args.manifest_db
    if not args.status_plist and (args.incremental or args.snapshot_state != "finished"):
        p.error("--snapshot-state and --incremental need Status.plist"
                " (--manifest-db or --status-plist)")
    if args.double_protection is None:
        # Every backup with an encrypted Manifest.db has a two-stage bag.
        args.double_protection = args.manifest_db and args.encrypted
    for name in ("iterations", "dp_iterations", "size_mb"):
        if getattr(args, name) < 1:
            p.error(f"--{name.replace('_', '-')} must be at least 1")
    if args.messages is not None and args.messages < 1:
        p.error("--messages must be at least 1")
    if args.pictures < 0:
        p.error("--pictures cannot be negative")
    if args.backup_date is not None:
        try:
            args.backup_date = parse_date(args.backup_date)
        except ValueError:
            p.error(f"--backup-date is not an ISO 8601 date: {args.backup_date}")
    if args.product_version is None:
        args.product_version = "10.3.3" if args.manifest_db else "9.3.2"
    return args


def read_password(path):
    """The first line of the file, without its line ending."""
    with open(path, "rb") as source:
        line = source.readline()
    if line.endswith(b"\n"):
        line = line[:-1]
        if line.endswith(b"\r"):
            line = line[:-1]
    return line


def prepare_out_dir(path, force):
    """Creates OUT_DIR; an existing non-empty one only goes with --force.
    Returns True when this run created the folder."""
    if not os.path.exists(path):
        os.makedirs(path)
        return True
    if not os.path.isdir(path):
        raise SystemExit(f"mkbackup: {path} exists and is not a folder")
    if os.listdir(path):
        real = os.path.realpath(path)
        if not force:
            raise SystemExit(f"mkbackup: {path} is not empty (use --force to replace it)")
        if real in ("/", os.path.realpath(os.path.expanduser("~")), os.path.realpath(os.getcwd())):
            raise SystemExit(f"mkbackup: refusing to empty {path}")
        for name in os.listdir(path):
            target = os.path.join(path, name)
            if os.path.isdir(target) and not os.path.islink(target):
                shutil.rmtree(target)
            else:
                os.remove(target)
    return False


def generate(args):
    rng = SeededRandom(args.seed)
    props = default_properties(rng.derive("device"), args.display_name, args.device_name,
                               args.product_type, args.product_version, args.serial,
                               args.backup_date)
    props.encrypted = args.encrypted
    props.applications = list(APPLICATIONS)
    layout = "manifest-db" if args.manifest_db else "mbdb"
    if layout == "mbdb" and version_key(props.product_version) >= version_key(
            FIRST_MANIFEST_DB_VERSION):
        print(f"mkbackup: note: product version {props.product_version} with the old index layout",
              file=sys.stderr)

    builder = ProfileBuilder(rng.derive("profile/" + args.profile), props)
    if args.profile == "large":
        PROFILES["large"](builder, args.size_mb)
    else:
        PROFILES[args.profile](builder)
    more_pictures(builder, args.pictures)
    contributions = databases.contribute(args.profile, rng, props, props.backup_timestamp,
                                         args.messages, args.wal_history)
    entries = builder.entries + [e for c in contributions.values() for e in c.entries]
    odd = OddRows(rng.derive("odd-rows"), props.backup_timestamp) if args.odd_rows else None
    if odd is not None:
        entries = odd.add_entries(entries)
    entries = with_directories(entries, props.backup_timestamp - 200 * 86400)

    options = WriterOptions(
        layout=layout,
        password=read_password(args.password_file) if args.encrypted else None,
        iterations=args.iterations, type_tag=args.keybag_tag,
        double_protection=args.double_protection, dp_iterations=args.dp_iterations,
        binary_plists=args.binary_plists, manifest_plist=not args.no_manifest_plist,
        omit_info_keys=args.omit_info_key, flat_layout=args.flat_layout,
        status_plist=args.status_plist, snapshot_state=args.snapshot_state,
        full_backup=not args.incremental)
    facts, keybag, status = write_backup(args.out_dir, props, entries, options, rng,
                                         odd.extra_rows(entries) if odd else ())
    generator = {"seed": args.seed, "profile": args.profile,
                 "size_mb": args.size_mb if args.profile == "large" else None}
    # Only when asked for, so that the files of other runs keep their bytes.
    if args.messages is not None:
        generator["messages"] = args.messages
    if args.pictures:
        generator["pictures"] = args.pictures
    if args.wal_history:
        generator["wal_history"] = True
    return truth.build(generator, props, options, facts, keybag, contributions, status,
                       odd.truth(facts) if odd else [])


def main(argv):
    args = parse_arguments(argv)
    started = time.monotonic()
    created = prepare_out_dir(args.out_dir, args.force)
    try:
        result = generate(args)
        if args.truth:
            truth.write(args.truth, result)
    except BaseException:
        if created:
            shutil.rmtree(args.out_dir, ignore_errors=True)
        raise
    files = [f for f in result["files"] if f["kind"] == "file"]
    print(f"mkbackup: wrote {len(result['files'])} entries ({len(files)} files, "
          f"{sum(f['stored_size'] for f in files)} bytes stored) to {args.out_dir} "
          f"in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except OSError as error:
        print(f"mkbackup: {error}", file=sys.stderr)
        sys.exit(1)

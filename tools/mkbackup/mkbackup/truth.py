"""The ground-truth file: what the generator wrote and what a scan of it
should find. No password and no key material goes into it."""

import json

# Categories that hand over whole groups rather than single files.
GROUPED_CATEGORIES = ("app-documents", "app-pictures", "app-videos", "music")


def _file_json(fact):
    return {
        "domain": fact["domain"], "path": fact["path"], "kind": fact["kind"],
        "stored_name": fact["stored_name"], "stored_path": fact["stored_path"],
        "file_id": fact["file_id"],
        "size": fact["size"], "stored_size": fact["stored_size"],
        "sha1": fact["sha1"], "sha256": fact["sha256"],
        "mode": fact["mode"], "mode_octal": format(fact["mode"], "o"),
        "inode": fact["inode"], "mtime": fact["mtime"],
        "protection_class": fact["protection_class"],
        "encrypted": fact["encryption_key"] is not None,
        "link_target": fact["link_target"],
        "properties": [name.decode("utf-8") for name, _ in fact["properties"]],
        "expect": fact["expect"].as_json() if fact["expect"] else None,
    }


def expected_listing(facts):
    """What the scan lists, per category: groups in the order first met, each
    with its files in index order (only files that are listed)."""
    listing = {}
    for fact in facts:
        expect = fact["expect"]
        if expect is None or not expect.listed:
            continue
        groups = listing.setdefault(expect.category, [])
        group = next((g for g in groups if g["group"] == expect.group), None)
        if group is None:
            group = {"group": expect.group, "files": []}
            groups.append(group)
        group["files"].append({"name": expect.name, "deleted": expect.deleted,
                               "domain": fact["domain"], "path": fact["path"],
                               "stored_name": fact["stored_name"]})
    return listing


def expected_counts(listing):
    """Records the callback delivers: one per group for the grouped
    categories, one per file for the others."""
    counts = {}
    for category, groups in listing.items():
        if category in GROUPED_CATEGORIES:
            counts[category] = len(groups)
        else:
            counts[category] = sum(len(g["files"]) for g in groups)
    return counts


def build(generator, props, options, facts, keybag, databases, status=None, odd_rows=()):
    """Keys that only the newer layout or newer options bring are left out
    otherwise, so older outputs keep their bytes."""
    listing = expected_listing(facts)
    backup = props.as_json()
    backup.update({
        "layout": options.layout,
        "binary_plists": options.binary_plists,
        "manifest_plist": options.manifest_plist,
        "omitted_info_keys": list(options.omit_info_keys),
        "keybag": keybag.describe() if keybag else None,
    })
    extra = {}
    if options.layout == "manifest-db":
        backup["flat_layout"] = options.flat_layout
        extra["odd_rows"] = list(odd_rows)
    if status is not None:
        extra["status"] = dict(status, Date=status["Date"].strftime("%Y-%m-%dT%H:%M:%SZ"))
    return extra | {
        "generator": generator,
        "backup": backup,
        "files": [_file_json(f) for f in facts],
        "expected": listing,
        "expected_counts": expected_counts(listing),
        "deleted_counts": {c: sum(1 for g in groups for f in g["files"] if f["deleted"])
                           for c, groups in listing.items()},
        "databases": {name: c.truth for name, c in databases.items()},
    }


def write(path, truth):
    with open(path, "w", encoding="utf-8") as out:
        json.dump(truth, out, indent=1, sort_keys=True, ensure_ascii=False)
        out.write("\n")

"""CameraRollDomain: the photo library Media/PhotoData/Photos.sqlite of iOS 13 and later,
with the camera roll's files it describes.

Each asset row names its file by ZDIRECTORY ("DCIM/102APPLE") and ZFILENAME, the moment
it was taken (ZDATECREATED, seconds since 2001), its kind (0 picture, 1 video), its size
in pixels and whether it sits in "Recently Deleted" (ZTRASHEDSTATE 1 with ZTRASHEDDATE);
its file stays in the backup until the device purges it, which deletes the row (here with
SQL DELETE) and the file; the truth says whether the purged row's record survives. Albums are rows of ZGENERICALBUM joined to assets through a
Core Data join table named after the entity numbers, which move between versions:

  iOS 13       ZGENERICASSET, Z_26ASSETS (Z_26ALBUMS, Z_34ASSETS, Z_FOK_34ASSETS)
  iOS 14-17    ZASSET,        Z_28ASSETS (Z_28ALBUMS, Z_3ASSETS,  Z_FOK_3ASSETS)   ("ios16")
  iOS 18       ZASSET,        Z_30ASSETS (Z_30ALBUMS, Z_3ASSETS,  Z_FOK_3ASSETS)

Columns stand in Core Data's order: Z_PK, Z_ENT, Z_OPT, integer attributes, to-one keys,
dates and floats, strings, blobs. The tables carry the columns a reader meets around the
ones it needs, not every one of the hundred-odd columns of a device's table. Pictures are
JPEG, PNG and HEIC (heif-enc), videos HEVC in QuickTime or MP4 (heif.py); a video's
thumbnail lies under Media/PhotoData/Thumbnails/V2/<directory>/<file name>/5005.JPG.
With wal_history the library keeps its last changes (one picture trashed, one imported) in
an un-checkpointed -wal.
"""

from ..entries import BackupEntry, Expectation
from ..properties import version_key
from .. import heif, media
from . import Contribution, register
from .cell_bytes import survives
from .sqlite_file import DatabaseFile, database_entry, wal_companion

import datetime

DOMAIN = "CameraRollDomain"
PATH = "Media/PhotoData/Photos.sqlite"
FOLDER = "DCIM/102APPLE"
MAC_EPOCH = 978307200

CORE_DATA = """
CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);
CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);
CREATE TABLE Z_MODELCACHE (Z_CONTENT BLOB);
"""

ALBUM_13 = """
CREATE TABLE ZGENERICALBUM ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCACHEDCOUNT INTEGER, ZCACHEDPHOTOSCOUNT INTEGER, ZCACHEDVIDEOSCOUNT INTEGER, ZCLOUDDELETESTATE INTEGER, ZCLOUDLOCALSTATE INTEGER, ZCUSTOMSORTASCENDING INTEGER, ZCUSTOMSORTKEY INTEGER, ZHASUNSEENCONTENT INTEGER, ZISPINNED INTEGER, ZISPROTOTYPE INTEGER, ZKIND INTEGER, ZPENDINGITEMSCOUNT INTEGER, ZPENDINGITEMSTYPE INTEGER, ZSYNCEVENTORDERKEY INTEGER, ZTRASHEDSTATE INTEGER, ZCUSTOMKEYASSET INTEGER, ZKEYASSET INTEGER, ZPARENTFOLDER INTEGER, Z_FOK_PARENTFOLDER INTEGER, ZCREATIONDATE TIMESTAMP, ZENDDATE TIMESTAMP, ZSTARTDATE TIMESTAMP, ZTRASHEDDATE TIMESTAMP, ZCLOUDGUID VARCHAR, ZIMPORTSESSIONID VARCHAR, ZTITLE VARCHAR, ZUUID VARCHAR, ZCUSTOMQUERYPARAMETERS BLOB );
"""
ALBUM_16 = """
CREATE TABLE ZGENERICALBUM ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCACHEDCOUNT INTEGER, ZCACHEDPHOTOSCOUNT INTEGER, ZCACHEDVIDEOSCOUNT INTEGER, ZCLOUDDELETESTATE INTEGER, ZCLOUDLOCALSTATE INTEGER, ZCUSTOMSORTASCENDING INTEGER, ZCUSTOMSORTKEY INTEGER, ZHASUNSEENCONTENT INTEGER, ZISPINNED INTEGER, ZISPROTOTYPE INTEGER, ZKIND INTEGER, ZPENDINGITEMSCOUNT INTEGER, ZPENDINGITEMSTYPE INTEGER, ZPRIVACYSTATE INTEGER, ZSEARCHINDEXREBUILDSTATE INTEGER, ZSYNCEVENTORDERKEY INTEGER, ZTRASHEDSTATE INTEGER, ZCUSTOMKEYASSET INTEGER, ZKEYASSET INTEGER, ZPARENTFOLDER INTEGER, Z_FOK_PARENTFOLDER INTEGER, ZCREATIONDATE TIMESTAMP, ZENDDATE TIMESTAMP, ZLASTMODIFIEDDATE TIMESTAMP, ZSTARTDATE TIMESTAMP, ZTRASHEDDATE TIMESTAMP, ZCLOUDGUID VARCHAR, ZIMPORTSESSIONID VARCHAR, ZIMPORTEDBYBUNDLEIDENTIFIER VARCHAR, ZTITLE VARCHAR, ZUUID VARCHAR, ZCUSTOMQUERYPARAMETERS BLOB, ZPROJECTDATA BLOB );
"""

ASSET_13 = """
CREATE TABLE ZGENERICASSET ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZAVALANCHEPICKTYPE INTEGER, ZBUNDLESCOPE INTEGER, ZCAMERAPROCESSINGADJUSTMENTSTATE INTEGER, ZCLOUDDELETESTATE INTEGER, ZCLOUDDOWNLOADREQUESTS INTEGER, ZCLOUDHASCOMMENTSBYME INTEGER, ZCLOUDISDELETABLE INTEGER, ZCLOUDISMYASSET INTEGER, ZCLOUDLOCALSTATE INTEGER, ZCLOUDPLACEHOLDERKIND INTEGER, ZCOMPLETE INTEGER, ZDEFERREDPROCESSINGNEEDED INTEGER, ZDEPTHTYPE INTEGER, ZFAVORITE INTEGER, ZHASADJUSTMENTS INTEGER, ZHDRTYPE INTEGER, ZHEIGHT INTEGER, ZHIDDEN INTEGER, ZHIGHFRAMERATESTATE INTEGER, ZKIND INTEGER, ZKINDSUBTYPE INTEGER, ZORIENTATION INTEGER, ZPLAYBACKSTYLE INTEGER, ZPLAYBACKVARIATION INTEGER, ZSAVEDASSETTYPE INTEGER, ZTHUMBNAILINDEX INTEGER, ZTRASHEDSTATE INTEGER, ZVIDEOCPDURATIONVALUE INTEGER, ZVIDEOCPVISIBILITYSTATE INTEGER, ZVISIBILITYSTATE INTEGER, ZWIDTH INTEGER, ZADDITIONALATTRIBUTES INTEGER, ZCOMPUTEDATTRIBUTES INTEGER, ZEXTENDEDATTRIBUTES INTEGER, ZMASTER INTEGER, ZMOMENT INTEGER, ZPHOTOANALYSISATTRIBUTES INTEGER, ZADDEDDATE TIMESTAMP, ZANALYSISSTATEMODIFICATIONDATE TIMESTAMP, ZCLOUDBATCHPUBLISHDATE TIMESTAMP, ZCLOUDLASTVIEWEDCOMMENTDATE TIMESTAMP, ZCLOUDSERVERPUBLISHDATE TIMESTAMP, ZCURATIONSCORE FLOAT, ZDATECREATED TIMESTAMP, ZDURATION FLOAT, ZHDRGAIN FLOAT, ZLASTSHAREDDATE TIMESTAMP, ZLATITUDE FLOAT, ZLONGITUDE FLOAT, ZMODIFICATIONDATE TIMESTAMP, ZPROMOTIONSCORE FLOAT, ZSORTTOKEN FLOAT, ZTRASHEDDATE TIMESTAMP, ZAVALANCHEUUID VARCHAR, ZCLOUDASSETGUID VARCHAR, ZCLOUDCOLLECTIONGUID VARCHAR, ZDIRECTORY VARCHAR, ZFILENAME VARCHAR, ZMEDIAGROUPUUID VARCHAR, ZORIGINALCOLORSPACE VARCHAR, ZUNIFORMTYPEIDENTIFIER VARCHAR, ZUUID VARCHAR, ZIMAGEREQUESTHINTS BLOB, ZLOCATIONDATA BLOB );
"""
ASSET_16 = """
CREATE TABLE ZASSET ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZACTIVELIBRARYSCOPEPARTICIPATIONSTATE INTEGER, ZAVALANCHEKIND INTEGER, ZAVALANCHEPICKTYPE INTEGER, ZBUNDLESCOPE INTEGER, ZCAMERAPROCESSINGADJUSTMENTSTATE INTEGER, ZCLOUDDELETESTATE INTEGER, ZCLOUDDOWNLOADREQUESTS INTEGER, ZCLOUDHASCOMMENTSBYME INTEGER, ZCLOUDISDELETABLE INTEGER, ZCLOUDISMYASSET INTEGER, ZCLOUDLOCALSTATE INTEGER, ZCLOUDPLACEHOLDERKIND INTEGER, ZCOMPLETE INTEGER, ZDEFERREDPROCESSINGNEEDED INTEGER, ZDEPTHTYPE INTEGER, ZDERIVEDCAMERACAPTUREDEVICE INTEGER, ZDUPLICATEASSETVISIBILITYSTATE INTEGER, ZFAVORITE INTEGER, ZHASADJUSTMENTS INTEGER, ZHDRTYPE INTEGER, ZHEIGHT INTEGER, ZHIDDEN INTEGER, ZHIGHFRAMERATESTATE INTEGER, ZKIND INTEGER, ZKINDSUBTYPE INTEGER, ZLIBRARYSCOPESHARESTATE INTEGER, ZORIENTATION INTEGER, ZPACKEDACCEPTABLECROPRECT INTEGER, ZPACKEDBADGEATTRIBUTES INTEGER, ZPACKEDPREFERREDCROPRECT INTEGER, ZPLAYBACKSTYLE INTEGER, ZPLAYBACKVARIATION INTEGER, ZSAVEDASSETTYPE INTEGER, ZSEARCHINDEXREBUILDSTATE INTEGER, ZSYNDICATIONSTATE INTEGER, ZTHUMBNAILINDEX INTEGER, ZTRASHEDREASON INTEGER, ZTRASHEDSTATE INTEGER, ZVIDEOCPDURATIONVALUE INTEGER, ZVIDEOCPVISIBILITYSTATE INTEGER, ZVIDEODEFERREDPROCESSINGNEEDED INTEGER, ZVISIBILITYSTATE INTEGER, ZWIDTH INTEGER, ZADDITIONALATTRIBUTES INTEGER, ZCOMPUTEDATTRIBUTES INTEGER, ZCONVERSATION INTEGER, ZEXTENDEDATTRIBUTES INTEGER, ZLIBRARYSCOPE INTEGER, ZMASTER INTEGER, ZMEDIAANALYSISATTRIBUTES INTEGER, ZMOMENT INTEGER, ZPHOTOANALYSISATTRIBUTES INTEGER, ZTRASHEDBYPARTICIPANT INTEGER, ZADDEDDATE TIMESTAMP, ZANALYSISSTATEMODIFICATIONDATE TIMESTAMP, ZCLOUDBATCHPUBLISHDATE TIMESTAMP, ZCLOUDLASTVIEWEDCOMMENTDATE TIMESTAMP, ZCLOUDSERVERPUBLISHDATE TIMESTAMP, ZCURATIONSCORE FLOAT, ZDATECREATED TIMESTAMP, ZDURATION FLOAT, ZHDRGAIN FLOAT, ZICONICSCORE FLOAT, ZLASTSHAREDDATE TIMESTAMP, ZLATITUDE FLOAT, ZLONGITUDE FLOAT, ZMODIFICATIONDATE TIMESTAMP, ZOVERALLAESTHETICSCORE FLOAT, ZPROMOTIONSCORE FLOAT, ZSORTTOKEN FLOAT, ZTRASHEDDATE TIMESTAMP, ZAVALANCHEUUID VARCHAR, ZCLOUDASSETGUID VARCHAR, ZCLOUDCOLLECTIONGUID VARCHAR, ZCLOUDOWNERHASHEDPERSONID VARCHAR, ZDIRECTORY VARCHAR, ZFILENAME VARCHAR, ZMEDIAGROUPUUID VARCHAR, ZORIGINALCOLORSPACE VARCHAR, ZUNIFORMTYPEIDENTIFIER VARCHAR, ZUUID VARCHAR, ZIMAGEREQUESTHINTS BLOB, ZLOCATIONDATA BLOB );
"""
# iOS 18 adds the generative-memory and spatial-media state among the integers, the
# adjustment timestamp among the dates and the capture-session identifier among the strings.
ASSET_18 = (ASSET_16
            .replace("ZFAVORITE INTEGER,", "ZFAVORITE INTEGER, ZGENERATIVEMEMORYCREATIONELIGIBILITYSTATE INTEGER,")
            .replace("ZSEARCHINDEXREBUILDSTATE INTEGER,",
                     "ZSEARCHINDEXREBUILDSTATE INTEGER, ZSPATIALTYPE INTEGER,")
            .replace("ZADDEDDATE TIMESTAMP,", "ZADDEDDATE TIMESTAMP, ZADJUSTMENTTIMESTAMP TIMESTAMP,")
            .replace("ZAVALANCHEUUID VARCHAR,", "ZAVALANCHEUUID VARCHAR, ZCAPTURESESSIONIDENTIFIER VARCHAR,"))

# (asset table, asset entity, album join entity, asset column entity, album table)
LAYOUTS = {
    "ios13": ("ZGENERICASSET", 33, 26, 34, ALBUM_13, ASSET_13),
    "ios16": ("ZASSET", 3, 28, 3, ALBUM_16, ASSET_16),
    "ios18": ("ZASSET", 3, 30, 3, ALBUM_16, ASSET_18),
}


def layout_of(version):
    key = version_key(version)
    if key < (13,):
        return None
    return "ios13" if key < (14,) else "ios16" if key < (18,) else "ios18"


def join_table(album_entity, asset_entity):
    a, s = album_entity, asset_entity
    return (f"CREATE TABLE Z_{a}ASSETS ( Z_{a}ALBUMS INTEGER, Z_{s}ASSETS INTEGER, Z_FOK_{s}ASSETS INTEGER,"
            f" PRIMARY KEY (Z_{a}ALBUMS, Z_{s}ASSETS) );\n"
            f"CREATE INDEX Z_{a}ASSETS_Z_{s}ASSETS_INDEX ON Z_{a}ASSETS (Z_{s}ASSETS, Z_{a}ALBUMS);\n")


# Kinds of file, in the order they come round: (extension, kind, brand of a video).
FILE_KINDS = [("HEIC", 0, None), ("JPG", 0, None), ("MOV", 1, b"qt  "), ("HEIC", 0, None), ("PNG", 0, None),
              ("MP4", 1, b"isom")]
UTIS = {"HEIC": "public.heic", "JPG": "public.jpeg", "PNG": "public.png", "MOV": "com.apple.quicktime-movie",
        "MP4": "public.mpeg-4"}
# (title, trashed): a user album (ZKIND 2) the user may have thrown away.
ALBUMS = [("Holiday 2024", 0), ("Katzen 🐈", 0), ("Work, misc", 0), ("Old", 1)]
COUNTS = {"small": 9, "sample": 12, "large": 60}


def _file_bytes(rng, extension, brand, width, height, taken):
    if extension == "JPG":
        return media.jpeg_picture(rng, width, height, taken, model="iPhone 15")
    if extension == "PNG":
        return media.jpeg_picture(rng, width, height, taken, fmt="PNG")
    picture = heif.heic_picture(rng, width, height)
    if picture is None or brand is None:
        return picture
    return heif.hevc_movie(picture, int(taken.timestamp()), width, height, brand)


def _asset_row(rng, entity, name, extension, kind, width, height, taken2001, trashed2001):
    return {"Z_ENT": entity, "Z_OPT": 3, "ZKIND": kind, "ZWIDTH": width, "ZHEIGHT": height,
            "ZTRASHEDSTATE": 0 if trashed2001 is None else 1, "ZVISIBILITYSTATE": 0, "ZSAVEDASSETTYPE": 3,
            "ZDATECREATED": taken2001, "ZADDEDDATE": taken2001 + 5, "ZMODIFICATIONDATE": taken2001 + 60,
            "ZTRASHEDDATE": trashed2001, "ZDURATION": 1.0 if kind else 0.0, "ZDIRECTORY": FOLDER,
            "ZFILENAME": name, "ZUNIFORMTYPEIDENTIFIER": UTIS[extension], "ZUUID": rng.uuid_text(),
            "ZLATITUDE": -180.0, "ZLONGITUDE": -180.0}


def _wal_history(rng, asset_table, asset_ent, data, assets, entries, now2001):
    """The -wal of the library's last changes, not yet checkpointed: one more picture moved
    to "Recently Deleted" and one picture imported since, so both are live only in the log."""
    victim = next(a for a in assets if not a["trashed"] and not a["purged"] and a["kind"] == 0)
    victim["trashed"], victim["trashed_date"] = True, now2001 - 3600 + 0.25
    for entry in entries:
        if entry.path == victim["device_path"]:
            entry.expect.deleted = True
    name, taken2001 = "IMG_2999.JPG", now2001 - 7200 + 0.5
    taken = datetime.datetime.utcfromtimestamp(int(taken2001) + MAC_EPOCH)
    row = _asset_row(rng, asset_ent, name, "JPG", 0, 96, 64, taken2001, None)
    columns = ", ".join(row)
    marks = ", ".join("?" for _ in row)
    wal = wal_companion(data, [
        [(f"UPDATE {asset_table} SET ZTRASHEDSTATE = 1, ZTRASHEDDATE = ? WHERE ZFILENAME = ?",
          (victim["trashed_date"], victim["file_name"]))],
        [(f"INSERT INTO {asset_table} ({columns}) VALUES ({marks})", tuple(row.values()))],
    ], rng)
    device_path = f"Media/{FOLDER}/{name}"
    assets.append({"file_name": name, "device_path": device_path, "kind": 0, "width": 96, "height": 64,
                   "date_created": taken2001, "trashed": False, "trashed_date": None, "albums": [],
                   "purged": False, "in_wal": True})
    entries.append(BackupEntry(DOMAIN, device_path, content=media.jpeg_picture(rng.derive(name), 96, 64, taken),
                               mtime=int(taken2001) + MAC_EPOCH + 60,
                               expect=Expectation("camera-roll", "Camera Roll", name)))
    return wal


@register("photos")
def photos(context):
    layout = layout_of(context.props.product_version)
    if layout is None:
        return Contribution()
    asset_table, asset_ent, join_ent, column_ent, album_sql, asset_sql = LAYOUTS[layout]
    rng = context.rng
    db = DatabaseFile(page_size=4096, journal_mode="wal")
    db.script(CORE_DATA + album_sql + asset_sql + join_table(join_ent, column_ent))
    now2001 = context.base_time - MAC_EPOCH
    album_ids = []
    for title, trashed in ALBUMS:
        album_ids.append(db.insert("ZGENERICALBUM", {
            "Z_ENT": 2, "Z_OPT": 1, "ZKIND": 2, "ZTRASHEDSTATE": trashed, "ZTITLE": title,
            "ZCREATIONDATE": now2001 - 400 * 86400, "ZTRASHEDDATE": now2001 - 86400 if trashed else None,
            "ZUUID": rng.uuid_text(), "ZCLOUDGUID": rng.uuid_text()}))

    entries, assets, gone = [], [], []
    count = COUNTS.get(context.profile, COUNTS["sample"])
    for n in range(count):
        extension, kind, brand = FILE_KINDS[n % len(FILE_KINDS)]
        name = f"IMG_{2001 + n}.{extension}"
        width, height = (96, 64) if n % 2 == 0 else (64, 96)
        taken2001 = now2001 - rng.randint(2, 700) * 86400 + rng.randint(0, 86399) + rng.randint(0, 999) / 1000
        taken = datetime.datetime.utcfromtimestamp(int(taken2001) + MAC_EPOCH)
        data = _file_bytes(rng.derive(name), extension, brand, width, height, taken)
        if data is None:
            continue  # heif-enc missing: said once on stderr
        trashed = n % 4 == 3
        purged = n % 4 == 1
        row = _asset_row(rng, asset_ent, name, extension, kind, width, height, taken2001,
                         now2001 - rng.randint(1, 29) * 86400 + 0.5 if trashed else None)
        pk = db.insert(asset_table, row)
        albums = []
        for k, album in enumerate(album_ids):
            if (n + k) % 3 == 0:
                db.insert(f"Z_{join_ent}ASSETS", {f"Z_{join_ent}ALBUMS": album, f"Z_{column_ent}ASSETS": pk,
                                                  f"Z_FOK_{column_ent}ASSETS": 1024 * (n + 1)})
                if not ALBUMS[k][1]:
                    albums.append(ALBUMS[k][0])
        device_path = f"Media/{FOLDER}/{name}"
        truth = {"file_name": name, "device_path": device_path, "kind": kind, "width": width, "height": height,
                 "date_created": taken2001, "trashed": trashed, "trashed_date": row["ZTRASHEDDATE"],
                 "albums": sorted(albums), "purged": purged}
        assets.append(truth)
        if purged:
            gone.append((truth, pk))  # its file is gone already; its row goes below
            continue
        mtime = int(taken2001) + MAC_EPOCH + 60
        entries.append(BackupEntry(DOMAIN, device_path, content=data, mtime=mtime,
                                   expect=Expectation("camera-roll", "Camera Roll", name, deleted=trashed)))
        if kind == 1:
            thumb = f"Media/PhotoData/Thumbnails/V2/{FOLDER}/{name}/5005.JPG"
            truth["thumbnail"] = thumb
            entries.append(BackupEntry(DOMAIN, thumb, content=heif.jpeg_thumbnail(rng.derive(thumb), 48, 32),
                                       mtime=mtime, expect=Expectation("camera-roll", "Camera Roll", name,
                                                                       deleted=True, listed=False)))
    # Later the device empties "Recently Deleted": the rows of the purged assets go.
    gone = [(truth, db.delete(asset_table, "Z_PK = ?", (pk,))[0]) for truth, pk in gone]
    for _, row in gone:
        db.delete(f"Z_{join_ent}ASSETS", f"Z_{column_ent}ASSETS = ?", (row["Z_PK"],))
    data = db.finish()
    for truth, row in gone:
        # Whether the purged row's record still stands in the file (its Z_PK is stored as NULL).
        truth["intact"] = survives(data, [None] + list(row.values())[2:])
    if context.wal_history:
        wal = _wal_history(rng.derive("wal"), asset_table, asset_ent, data, assets, entries, now2001)
        entries.append(database_entry(DOMAIN, PATH + "-wal", wal, context.base_time - 60))
    entries.append(database_entry(DOMAIN, PATH, data, context.base_time - 600))
    return Contribution(entries=entries, truth={"layout": layout, "path": PATH, "assets": assets})

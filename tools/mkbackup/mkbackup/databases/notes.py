"""Notes: the older store "Library/Notes/notes.sqlite" (HomeDomain) with HTML bodies, and from
system 9 on also the newer "NoteStore.sqlite" (AppDomainGroup-group.com.apple.notes), whose note
text is a gzip-compressed protocol-buffer message in ZICNOTEDATA.ZDATA.

The older store's ZNOTE gained ZCONTAINSCJK with system 7. Notes are deleted with an ordinary
DELETE of the note and its body; later notes reuse some of the freed space. The truth gives every
live note with the plain text its body stands for, and every deleted note with "intact": whether
its body's values still stand in the finished file. With wal_history both stores keep their
last changes (a note written and deleted again, one retitled, one deleted) in a -wal.
"""

import gzip

from . import register, Contribution
from .cell_bytes import survives
from .sqlite_file import DatabaseFile, database_entry, wal_companion
from ..properties import version_key

MAC_EPOCH = 978307200

OLD_STORE = ("HomeDomain", "Library/Notes/notes.sqlite")
NEW_STORE = ("AppDomainGroup-group.com.apple.notes", "NoteStore.sqlite")

ZNOTE_IOS6 = ("CREATE TABLE ZNOTE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCONTENTTYPE INTEGER, "
              "ZDELETEDFLAG INTEGER, ZEXTERNALFLAGS INTEGER, ZEXTERNALSEQUENCENUMBER INTEGER, "
              "ZEXTERNALSERVERINTID INTEGER, ZINTEGERID INTEGER, ZISBOOKKEEPINGENTRY INTEGER, ZBODY INTEGER, "
              "ZSTORE INTEGER, ZCREATIONDATE TIMESTAMP, ZMODIFICATIONDATE TIMESTAMP, ZAUTHOR VARCHAR, "
              "ZGUID VARCHAR, ZSERVERID VARCHAR, ZSUMMARY VARCHAR, ZTITLE VARCHAR );")
ZNOTE_IOS7 = ZNOTE_IOS6.replace("Z_OPT INTEGER, ", "Z_OPT INTEGER, ZCONTAINSCJK INTEGER, ")
OLD_TABLES = """
CREATE TABLE ZACCOUNT ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZTYPE INTEGER, ZDEFAULTSTORE INTEGER, ZACCOUNTIDENTIFIER VARCHAR, ZCONSTRAINTSPATH VARCHAR, ZNAME VARCHAR );
CREATE TABLE ZNEXTID ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCOUNTER INTEGER );
%s
CREATE TABLE ZNOTEBODY ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZOWNER INTEGER, ZCONTENT VARCHAR, ZEXTERNALCONTENTREF VARCHAR, ZEXTERNALREPRESENTATION BLOB );
CREATE TABLE ZNOTECHANGE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCHANGETYPE INTEGER, ZSTORE INTEGER, ZNOTEINTEGERIDS BLOB, ZNOTESERVERIDS BLOB, ZNOTESERVERINTIDS BLOB );
CREATE TABLE ZPROPERTY ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZPROPERTYKEY VARCHAR, ZPROPERTYVALUE BLOB );
CREATE TABLE ZSTORE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZACCOUNT INTEGER, ZEXTERNALIDENTIFIER VARCHAR, ZNAME VARCHAR, ZSYNCANCHOR VARCHAR );
CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);
CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);
"""
ZICCLOUDSYNCINGOBJECT_IOS15 = ("CREATE TABLE ZICCLOUDSYNCINGOBJECT ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCRYPTOITERATIONCOUNT INTEGER, ZISPASSWORDPROTECTED INTEGER, ZMARKEDFORDELETION INTEGER, ZMINIMUMSUPPORTEDNOTESVERSION INTEGER, ZNEEDSINITIALFETCHFROMCLOUD INTEGER, ZNEEDSTOBEFETCHEDFROMCLOUD INTEGER, ZNEEDSTOSAVEUSERSPECIFICRECORD INTEGER, ZCLOUDSTATE INTEGER, ZACCOUNT INTEGER, ZCHECKEDFORLOCATION INTEGER, ZFILESIZE INTEGER, ZHANDWRITINGSUMMARYVERSION INTEGER, ZHASMARKUPDATA INTEGER, ZIMAGECLASSIFICATIONSUMMARYVERSION INTEGER, ZIMAGEFILTERTYPE INTEGER, ZNEEDSINITIALRELATIONSHIPSETUP INTEGER, ZOCRSUMMARYVERSION INTEGER, ZORIENTATION INTEGER, ZSECTION INTEGER, ZURLEXPIRED INTEGER, ZLOCATION INTEGER, ZMEDIA INTEGER, ZNOTE INTEGER, ZNOTEUSINGTITLEFORNOTETITLE INTEGER, ZPARENTATTACHMENT INTEGER, ZAPPEARANCETYPE INTEGER, ZSCALEWHENDRAWING INTEGER, ZVERSION INTEGER, ZVERSIONOUTOFDATE INTEGER, ZATTACHMENT INTEGER, ZSTATE INTEGER, ZACCOUNT1 INTEGER, ZACCOUNT2 INTEGER, ZMENTIONNOTIFICATIONATTEMPTCOUNT INTEGER, ZMENTIONNOTIFICATIONSTATE INTEGER, ZNOTE1 INTEGER, ZPARENTATTACHMENT1 INTEGER, ZTYPE INTEGER, ZACCOUNT3 INTEGER, ZATTACHMENT1 INTEGER, ZATTACHMENTVIEWTYPE INTEGER, ZISPINNED INTEGER, ZISSYSTEMPAPER INTEGER, ZLEGACYNOTEWASPLAINTEXT INTEGER, ZNOTEHASCHANGES INTEGER, ZPAPERSTYLETYPE INTEGER, ZPREFERREDBACKGROUNDTYPE INTEGER, ZACCOUNT4 INTEGER, ZFOLDER INTEGER, ZNOTEDATA INTEGER, ZTITLESOURCEATTACHMENT INTEGER, ZISHIDDENNOTECONTAINER INTEGER, ZSORTORDER INTEGER, ZOWNER INTEGER, ZACCOUNTTYPE INTEGER, ZDIDCHOOSETOMIGRATE INTEGER, ZDIDFINISHMIGRATION INTEGER, ZDIDMIGRATEONMAC INTEGER, ZSERVERSIDEUPDATETASKFAILURECOUNT INTEGER, ZSTOREDATASEPARATELY INTEGER, ZACCOUNTDATA INTEGER, ZCUSTOMNOTESORTTYPEVALUE INTEGER, ZFOLDERTYPE INTEGER, ZIMPORTEDFROMLEGACY INTEGER, ZACCOUNT5 INTEGER, ZPARENT INTEGER, ZCREATIONDATE TIMESTAMP, ZCROPPINGQUADBOTTOMLEFTX FLOAT, ZCROPPINGQUADBOTTOMLEFTY FLOAT, ZCROPPINGQUADBOTTOMRIGHTX FLOAT, ZCROPPINGQUADBOTTOMRIGHTY FLOAT, ZCROPPINGQUADTOPLEFTX FLOAT, ZCROPPINGQUADTOPLEFTY FLOAT, ZCROPPINGQUADTOPRIGHTX FLOAT, ZCROPPINGQUADTOPRIGHTY FLOAT, ZDURATION FLOAT, ZMODIFICATIONDATE TIMESTAMP, ZORIGINX FLOAT, ZORIGINY FLOAT, ZPREVIEWUPDATEDATE TIMESTAMP, ZSIZEHEIGHT FLOAT, ZSIZEWIDTH FLOAT, ZHEIGHT FLOAT, ZMODIFIEDDATE TIMESTAMP, ZSCALE FLOAT, ZWIDTH FLOAT, ZSTATEMODIFICATIONDATE TIMESTAMP, ZCREATIONDATE1 TIMESTAMP, ZCREATIONDATE2 TIMESTAMP, ZMODIFICATIONDATEATIMPORT TIMESTAMP, ZCREATIONDATE3 TIMESTAMP, ZFOLDERMODIFICATIONDATE TIMESTAMP, ZLASTACTIVITYRECENTUPDATESVIEWEDDATE TIMESTAMP, ZLASTACTIVITYSUMMARYVIEWEDDATE TIMESTAMP, ZLASTATTRIBUTIONSVIEWEDDATE TIMESTAMP, ZLASTNOTIFIEDDATE TIMESTAMP, ZLASTOPENEDDATE TIMESTAMP, ZLASTVIEWEDMODIFICATIONDATE TIMESTAMP, ZLEGACYMODIFICATIONDATEATIMPORT TIMESTAMP, ZMODIFICATIONDATE1 TIMESTAMP, ZCUSTOMNOTESORTTYPEMODIFICATIONDATE TIMESTAMP, ZDATEFORLASTTITLEMODIFICATION TIMESTAMP, ZPARENTMODIFICATIONDATE TIMESTAMP, ZIDENTIFIER VARCHAR, ZPASSWORDHINT VARCHAR, ZZONEOWNERNAME VARCHAR, ZADDITIONALINDEXABLETEXT VARCHAR, ZFALLBACKSUBTITLEIOS VARCHAR, ZFALLBACKSUBTITLEMAC VARCHAR, ZFALLBACKTITLE VARCHAR, ZHANDWRITINGSUMMARY VARCHAR, ZIMAGECLASSIFICATIONSUMMARY VARCHAR, ZOCRSUMMARY VARCHAR, ZREMOTEFILEURLSTRING VARCHAR, ZSUMMARY VARCHAR, ZTITLE VARCHAR, ZTYPEUTI VARCHAR, ZURLSTRING VARCHAR, ZUSERTITLE VARCHAR, ZDEVICEIDENTIFIER VARCHAR, ZDISPLAYTEXT VARCHAR, ZSTANDARDIZEDCONTENT VARCHAR, ZALTTEXT VARCHAR, ZTOKENCONTENTIDENTIFIER VARCHAR, ZTYPEUTI1 VARCHAR, ZCONTENTHASHATIMPORT VARCHAR, ZFILENAME VARCHAR, ZLEGACYCONTENTHASHATIMPORT VARCHAR, ZLEGACYIMPORTDEVICEIDENTIFIER VARCHAR, ZLEGACYMANAGEDOBJECTIDURIREPRESENTATION VARCHAR, ZSELECTEDINKCOLORSTRING VARCHAR, ZSELECTEDINKIDENTIFIER VARCHAR, ZSNIPPET VARCHAR, ZTHUMBNAILATTACHMENTIDENTIFIER VARCHAR, ZTITLE1 VARCHAR, ZACCOUNTNAMEFORACCOUNTLISTSORTING VARCHAR, ZNESTEDTITLEFORSORTING VARCHAR, ZNAME VARCHAR, ZSERVERSIDEUPDATETASKLASTATTEMPTEDBUILD VARCHAR, ZSERVERSIDEUPDATETASKLASTATTEMPTEDVERSION VARCHAR, ZSERVERSIDEUPDATETASKLASTCOMPLETEDBUILD VARCHAR, ZSERVERSIDEUPDATETASKLASTCOMPLETEDVERSION VARCHAR, ZUSERRECORDNAME VARCHAR, ZSMARTFOLDERQUERYJSON VARCHAR, ZTITLE2 VARCHAR, ZPAPERASSETSURL VARCHAR, ZPAPERDATABASEURL VARCHAR, ZREPLICAIDTOBUNDLEIDENTIFIER BLOB, ZACTIVITYEVENTSDATA BLOB, ZASSETCRYPTOINITIALIZATIONVECTOR BLOB, ZASSETCRYPTOTAG BLOB, ZCRYPTOINITIALIZATIONVECTOR BLOB, ZCRYPTOSALT BLOB, ZCRYPTOTAG BLOB, ZCRYPTOWRAPPEDKEY BLOB, ZENCRYPTEDVALUESJSON BLOB, ZREPLICAIDTONOTESVERSIONDATA BLOB, ZSERVERRECORDDATA BLOB, ZSERVERSHAREDATA BLOB, ZUNAPPLIEDENCRYPTEDRECORD BLOB, ZUSERSPECIFICSERVERRECORDDATA BLOB, ZMERGEABLEDATA BLOB, ZFALLBACKIMAGECRYPTOINITIALIZATIONVECTOR BLOB, ZFALLBACKIMAGECRYPTOTAG BLOB, ZLINKPRESENTATIONARCHIVEDMETADATA BLOB, ZMARKUPMODELDATA BLOB, ZMERGEABLEDATA1 BLOB, ZMETADATADATA BLOB, ZSYNAPSEDATA BLOB, ZCRYPTOMETADATAINITIALIZATIONVECTOR BLOB, ZCRYPTOMETADATATAG BLOB, ZENCRYPTEDMETADATA BLOB, ZMETADATA BLOB, ZLASTNOTIFIEDTIMESTAMPDATA BLOB, ZLASTVIEWEDTIMESTAMPDATA BLOB, ZREPLICAIDTOUSERIDDICTDATA BLOB, ZCRYPTOVERIFIER BLOB, ZSERVERSIDEUPDATETASKCONTINUATIONTOKEN BLOB, ZMERGEABLEDATA2 BLOB );")

NEW_TABLES = """
CREATE TABLE ZICCLOUDSTATE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCURRENTLOCALVERSION INTEGER, ZINCLOUD INTEGER, ZLATESTVERSIONSYNCEDTOCLOUD INTEGER, ZCLOUDSYNCINGOBJECT INTEGER, Z2_CLOUDSYNCINGOBJECT INTEGER, ZLOCALVERSIONDATE TIMESTAMP );
%OBJECTS%
CREATE TABLE ZICLOCATION ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZPLACEUPDATED INTEGER, ZATTACHMENT INTEGER, ZLATITUDE FLOAT, ZLONGITUDE FLOAT, ZPLACEMARKDATA BLOB );
CREATE TABLE ZICNOTEDATA ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZNOTE INTEGER, ZCRYPTOINITIALIZATIONVECTOR BLOB, ZCRYPTOTAG BLOB, ZDATA BLOB );
CREATE TABLE ZICSERVERCHANGETOKEN ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZDATABASESCOPE INTEGER, ZACCOUNT INTEGER, ZOWNERNAME VARCHAR, ZZONENAME VARCHAR, ZCKSERVERCHANGETOKENDATA BLOB );
CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);
CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);
CREATE TABLE Z_MODELCACHE (Z_CONTENT BLOB);
CREATE TABLE ACHANGE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCHANGETYPE INTEGER, ZENTITY INTEGER, ZENTITYPK INTEGER, ZTRANSACTIONID INTEGER, ZCOLUMNS BLOB );
CREATE TABLE ATRANSACTION ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZAUTHORTS INTEGER, ZBUNDLEIDTS INTEGER, ZCONTEXTNAMETS INTEGER, ZPROCESSIDTS INTEGER, ZTIMESTAMP FLOAT, ZAUTHOR VARCHAR, ZBUNDLEID VARCHAR, ZCONTEXTNAME VARCHAR, ZPROCESSID VARCHAR, ZQUERYGEN BLOB );
CREATE TABLE ATRANSACTIONSTRING ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZNAME VARCHAR );
"""

# Column sets that came with later systems: the 25 of system 15 (tags, smart folders, mentions,
# activity, Quick Note), and the search summaries (handwriting, image classification, text in
# pictures) that precede system 13.
ADDED_IN_IOS15 = ("ZACCOUNT5", "ZCREATIONDATE2", "ZCREATIONDATE3", "ZDISPLAYTEXT", "ZISSYSTEMPAPER",
                  "ZLASTACTIVITYRECENTUPDATESVIEWEDDATE", "ZLASTACTIVITYSUMMARYVIEWEDDATE",
                  "ZLASTATTRIBUTIONSVIEWEDDATE", "ZLINKPRESENTATIONARCHIVEDMETADATA",
                  "ZMENTIONNOTIFICATIONATTEMPTCOUNT", "ZMENTIONNOTIFICATIONSTATE", "ZPAPERASSETSURL",
                  "ZPAPERDATABASEURL", "ZREPLICAIDTOBUNDLEIDENTIFIER", "ZSERVERSIDEUPDATETASKCONTINUATIONTOKEN",
                  "ZSERVERSIDEUPDATETASKFAILURECOUNT", "ZSERVERSIDEUPDATETASKLASTATTEMPTEDBUILD",
                  "ZSERVERSIDEUPDATETASKLASTATTEMPTEDVERSION", "ZSERVERSIDEUPDATETASKLASTCOMPLETEDBUILD",
                  "ZSERVERSIDEUPDATETASKLASTCOMPLETEDVERSION", "ZSMARTFOLDERQUERYJSON", "ZSTANDARDIZEDCONTENT",
                  "ZSYNAPSEDATA", "ZTOKENCONTENTIDENTIFIER", "ZURLEXPIRED")
SEARCH_SUMMARIES = ("ZHANDWRITINGSUMMARY", "ZHANDWRITINGSUMMARYVERSION", "ZIMAGECLASSIFICATIONSUMMARY",
                    "ZIMAGECLASSIFICATIONSUMMARYVERSION", "ZOCRSUMMARY", "ZOCRSUMMARYVERSION",
                    "ZADDITIONALINDEXABLETEXT")


def _without(statement, names):
    """The statement with those columns taken out: Core Data's order of the rest stays."""
    head, body = statement.split("( ", 1)
    kept = [c for c in body[:-len(" );")].split(", ") if c.split(" ")[0] not in names]
    return head + "( " + ", ".join(kept) + " );"


ZICCLOUDSYNCINGOBJECT_IOS17 = ("CREATE TABLE ZICCLOUDSYNCINGOBJECT ( "
    "Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCRYPTOITERATIONCOUNT INTEGER, "
    "ZHASMISSINGKEYCHAINITEM INTEGER, ZISPASSWORDPROTECTED INTEGER, ZISRECOVERINGFROMTRASH INTEGER, "
    "ZISSHAREDIRTY INTEGER, ZMARKEDFORDELETION INTEGER, ZMINIMUMSUPPORTEDNOTESVERSION INTEGER, "
    "ZNEEDSINITIALFETCHFROMCLOUD INTEGER, ZNEEDSTOBEFETCHEDFROMCLOUD INTEGER, "
    "ZNEEDSTOFETCHUSERSPECIFICRECORDASSETS INTEGER, ZNEEDSTOSAVEUSERSPECIFICRECORD INTEGER, "
    "ZNEEDSTOUPDATEUSERSPECIFICRECORDREFERENCEACTIONS INTEGER, ZCLOUDSTATE INTEGER, "
    "ZINVITATION INTEGER, ZLOCKEDNOTESMODE INTEGER, ZSUPPORTSV1NEO INTEGER, ZACCOUNT INTEGER, "
    "ZCHECKEDFORLOCATION INTEGER, ZDIDRUNPAPERFORMDETECTION INTEGER, ZFILESIZE INTEGER, "
    "ZHANDWRITINGSUMMARYVERSION INTEGER, ZHASMARKUPDATA INTEGER, ZHASPAPERFORM INTEGER, "
    "ZIMAGECLASSIFICATIONSUMMARYVERSION INTEGER, ZIMAGEFILTERTYPE INTEGER, "
    "ZNEEDSINITIALRELATIONSHIPSETUP INTEGER, ZNEEDSTRANSCRIPTION INTEGER, "
    "ZOCRSUMMARYVERSION INTEGER, ZORIENTATION INTEGER, ZSECTION INTEGER, ZURLEXPIRED INTEGER, "
    "ZACCOUNT1 INTEGER, ZLOCATION INTEGER, ZMEDIA INTEGER, ZNOTE INTEGER, "
    "ZNOTEUSINGTITLEFORNOTETITLE INTEGER, ZPARENTATTACHMENT INTEGER, ZAPPEARANCETYPE INTEGER, "
    "ZSCALEWHENDRAWING INTEGER, ZVERSION INTEGER, ZVERSIONOUTOFDATE INTEGER, ZATTACHMENT INTEGER, "
    "ZSTATE INTEGER, ZACCOUNT2 INTEGER, ZACCOUNT3 INTEGER, ZMENTIONNOTIFICATIONATTEMPTCOUNT INTEGER, "
    "ZMENTIONNOTIFICATIONSTATE INTEGER, ZACCOUNT4 INTEGER, ZNOTE1 INTEGER, "
    "ZPARENTATTACHMENT1 INTEGER, ZTYPE INTEGER, ZACCOUNT5 INTEGER, ZACCOUNT6 INTEGER, "
    "ZATTACHMENT1 INTEGER, ZATTACHMENTVIEWTYPE INTEGER, ZHASCHECKLIST INTEGER, "
    "ZHASCHECKLISTINPROGRESS INTEGER, ZHASEMPHASIS INTEGER, ZHASSYSTEMTEXTATTACHMENTS INTEGER, "
    "ZISPINNED INTEGER, ZISSYSTEMPAPER INTEGER, ZLEGACYNOTEWASPLAINTEXT INTEGER, "
    "ZNOTEHASCHANGES INTEGER, ZPAPERSTYLETYPE INTEGER, ZPREFERREDBACKGROUNDTYPE INTEGER, "
    "ZACCOUNT7 INTEGER, ZFOLDER INTEGER, ZNOTEDATA INTEGER, ZTITLESOURCEATTACHMENT INTEGER, "
    "ZDATEHEADERSTYPE INTEGER, ZSORTORDER INTEGER, ZOWNER INTEGER, ZACCOUNTTYPE INTEGER, "
    "ZDIDCHOOSETOMIGRATE INTEGER, ZDIDFINISHMIGRATION INTEGER, ZDIDMIGRATEONMAC INTEGER, "
    "ZSERVERSIDEUPDATETASKFAILURECOUNT INTEGER, ZSTOREDATASEPARATELY INTEGER, ZACCOUNTDATA INTEGER, "
    "ZCUSTOMNOTESORTTYPEVALUE INTEGER, ZFOLDERTYPE INTEGER, ZIMPORTEDFROMLEGACY INTEGER, "
    "ZACCOUNT8 INTEGER, ZPARENT INTEGER, ZCREATIONDATE TIMESTAMP, ZCROPPINGQUADBOTTOMLEFTX FLOAT, "
    "ZCROPPINGQUADBOTTOMLEFTY FLOAT, ZCROPPINGQUADBOTTOMRIGHTX FLOAT, "
    "ZCROPPINGQUADBOTTOMRIGHTY FLOAT, ZCROPPINGQUADTOPLEFTX FLOAT, ZCROPPINGQUADTOPLEFTY FLOAT, "
    "ZCROPPINGQUADTOPRIGHTX FLOAT, ZCROPPINGQUADTOPRIGHTY FLOAT, ZDURATION FLOAT, "
    "ZMODIFICATIONDATE TIMESTAMP, ZORIGINX FLOAT, ZORIGINY FLOAT, ZPREVIEWUPDATEDATE TIMESTAMP, "
    "ZSIZEHEIGHT FLOAT, ZSIZEWIDTH FLOAT, ZHEIGHT FLOAT, ZMODIFIEDDATE TIMESTAMP, ZSCALE FLOAT, "
    "ZWIDTH FLOAT, ZSTATEMODIFICATIONDATE TIMESTAMP, ZCREATIONDATE1 TIMESTAMP, "
    "ZCREATIONDATE2 TIMESTAMP, ZMODIFICATIONDATEATIMPORT TIMESTAMP, ZCREATIONDATE3 TIMESTAMP, "
    "ZFOLDERMODIFICATIONDATE TIMESTAMP, ZLASTACTIVITYRECENTUPDATESVIEWEDDATE TIMESTAMP, "
    "ZLASTACTIVITYSUMMARYVIEWEDDATE TIMESTAMP, ZLASTATTRIBUTIONSVIEWEDDATE TIMESTAMP, "
    "ZLASTNOTIFIEDDATE TIMESTAMP, ZLASTOPENEDDATE TIMESTAMP, ZLASTVIEWEDMODIFICATIONDATE TIMESTAMP, "
    "ZLEGACYMODIFICATIONDATEATIMPORT TIMESTAMP, ZMODIFICATIONDATE1 TIMESTAMP, "
    "ZLASTSYNCDATE TIMESTAMP, ZCUSTOMNOTESORTTYPEMODIFICATIONDATE TIMESTAMP, "
    "ZDATEFORLASTTITLEMODIFICATION TIMESTAMP, ZPARENTMODIFICATIONDATE TIMESTAMP, "
    "ZIDENTIFIER VARCHAR, ZPASSWORDHINT VARCHAR, ZZONEOWNERNAME VARCHAR, "
    "ZADDITIONALINDEXABLETEXT VARCHAR, ZFALLBACKIMAGEGENERATION VARCHAR, "
    "ZFALLBACKPDFGENERATION VARCHAR, ZFALLBACKSUBTITLEIOS VARCHAR, ZFALLBACKSUBTITLEMAC VARCHAR, "
    "ZFALLBACKTITLE VARCHAR, ZHANDWRITINGSUMMARY VARCHAR, ZIMAGECLASSIFICATIONSUMMARY VARCHAR, "
    "ZOCRSUMMARY VARCHAR, ZPAPERBUNDLEGENERATION VARCHAR, ZREMOTEFILEURLSTRING VARCHAR, "
    "ZSUMMARY VARCHAR, ZTITLE VARCHAR, ZTYPEUTI VARCHAR, ZURLSTRING VARCHAR, ZUSERTITLE VARCHAR, "
    "ZGENERATION VARCHAR, ZDEVICEIDENTIFIER VARCHAR, ZDISPLAYTEXT VARCHAR, "
    "ZSTANDARDIZEDCONTENT VARCHAR, ZALTTEXT VARCHAR, ZTOKENCONTENTIDENTIFIER VARCHAR, "
    "ZTYPEUTI1 VARCHAR, ZCONTENTHASHATIMPORT VARCHAR, ZFILENAME VARCHAR, ZGENERATION1 VARCHAR, "
    "ZHOSTAPPLICATIONIDENTIFIER VARCHAR, ZLEGACYCONTENTHASHATIMPORT VARCHAR, "
    "ZLEGACYIMPORTDEVICEIDENTIFIER VARCHAR, ZLEGACYMANAGEDOBJECTIDURIREPRESENTATION VARCHAR, "
    "ZSELECTEDINKCOLORSTRING VARCHAR, ZSELECTEDINKIDENTIFIER VARCHAR, ZSNIPPET VARCHAR, "
    "ZTHUMBNAILATTACHMENTIDENTIFIER VARCHAR, ZTITLE1 VARCHAR, ZWIDGETSNIPPET VARCHAR, "
    "ZACCOUNTNAMEFORACCOUNTLISTSORTING VARCHAR, ZNESTEDTITLEFORSORTING VARCHAR, ZNAME VARCHAR, "
    "ZSERVERSIDEUPDATETASKLASTATTEMPTEDBUILD VARCHAR, "
    "ZSERVERSIDEUPDATETASKLASTATTEMPTEDVERSION VARCHAR, "
    "ZSERVERSIDEUPDATETASKLASTCOMPLETEDBUILD VARCHAR, "
    "ZSERVERSIDEUPDATETASKLASTCOMPLETEDVERSION VARCHAR, ZUSERRECORDNAME VARCHAR, "
    "ZSMARTFOLDERQUERYJSON VARCHAR, ZTITLE2 VARCHAR, ZATTRIBUTEDSNIPPET BLOB, ZATTRIBUTEDTITLE BLOB, "
    "ZREPLICAIDTOBUNDLEIDENTIFIER BLOB, ZACTIVITYEVENTSDATA BLOB, "
    "ZASSETCRYPTOINITIALIZATIONVECTOR BLOB, ZASSETCRYPTOTAG BLOB, ZCRYPTOINITIALIZATIONVECTOR BLOB, "
    "ZCRYPTOSALT BLOB, ZCRYPTOTAG BLOB, ZCRYPTOWRAPPEDKEY BLOB, ZENCRYPTEDVALUESJSON BLOB, "
    "ZREPLICAIDTONOTESVERSIONDATA BLOB, ZSERVERRECORDDATA BLOB, ZSERVERSHAREDATA BLOB, "
    "ZUNAPPLIEDENCRYPTEDRECORDDATA BLOB, ZUSERSPECIFICSERVERRECORDDATA BLOB, "
    "ZCRYPTOPASSPHRASEVERIFIER BLOB, ZMERGEABLEDATA BLOB, "
    "ZFALLBACKIMAGECRYPTOINITIALIZATIONVECTOR BLOB, ZFALLBACKIMAGECRYPTOTAG BLOB, "
    "ZFALLBACKPDFCRYPTOINITIALIZATIONVECTOR BLOB, ZFALLBACKPDFCRYPTOTAG BLOB, "
    "ZLINKPRESENTATIONARCHIVEDMETADATA BLOB, ZMARKUPMODELDATA BLOB, ZMERGEABLEDATA1 BLOB, "
    "ZMERGEABLEPREFERREDVIEWSIZE BLOB, ZMETADATADATA BLOB, ZSYNAPSEDATA BLOB, "
    "ZTEMPORARYTRANSCRIPTDATA BLOB, ZCRYPTOMETADATAINITIALIZATIONVECTOR BLOB, "
    "ZCRYPTOMETADATATAG BLOB, ZENCRYPTEDMETADATA BLOB, ZMETADATA BLOB, "
    "ZLASTNOTIFIEDTIMESTAMPDATA BLOB, ZLASTVIEWEDTIMESTAMPDATA BLOB, ZOUTLINESTATEDATA BLOB, "
    "ZREPLICAIDTOUSERIDDICTDATA BLOB, ZCRYPTOVERIFIER BLOB, "
    "ZSERVERSIDEUPDATETASKCONTINUATIONTOKEN BLOB, ZMERGEABLEDATA2 BLOB"
    " );")

ZICCLOUDSYNCINGOBJECT_IOS13 = _without(ZICCLOUDSYNCINGOBJECT_IOS15, ADDED_IN_IOS15)
NOTESTORE_OBJECTS = {"ios9": _without(ZICCLOUDSYNCINGOBJECT_IOS13, SEARCH_SUMMARIES),
                     "ios13": ZICCLOUDSYNCINGOBJECT_IOS13, "ios15": ZICCLOUDSYNCINGOBJECT_IOS15,
                     "ios17": ZICCLOUDSYNCINGOBJECT_IOS17}
# Entity numbers of the objects sharing ZICCLOUDSYNCINGOBJECT, as Z_PRIMARYKEY names them.
ENTITIES = {"ICAttachment": 5, "ICInlineAttachment": 9, "ICMedia": 11, "ICNote": 12, "ICAccount": 14,
            "ICFolder": 15, "ICNoteData": 19}
FOLDERS = ["Notes", "Rezepte 🍲", "Work & \"Life\""]

WORDS = ["Einkaufsliste", "Milch", "café", "naïve", "Zoë's", "日本語のメモ", "🎉", "Party", "<script>alert(1)</script>",
         'say "hi"', "Fish & Chips", "a < b > c", "What?", "50% off", "semi;colon", "tab\tstop", "Ünal", "Łódź",
         "100 €", "line", "and", "then", "meeting", "at", "noon", "&amp; literal"]
SIZES = {"sample": (12, 5, 3), "small": (10, 6, 3), "large": (400, 120, 60)}


def _layout(version):
    key = version_key(version)
    if key < (7,):
        return "notes.sqlite/ios6"
    if key < (9,):
        return "notes.sqlite/ios8"
    return f"NoteStore.sqlite/{_store_generation(key)}+notes.sqlite/ios8"


def _store_generation(key):
    if key < (13,):
        return "ios9"
    if key < (15,):
        return "ios13"
    if key < (17,):
        return "ios15"
    return "ios17"


def _escape(rng, text):
    out = []
    for ch in text:
        if ch == "&":
            out.append("&amp;")
        elif ch == "<":
            out.append("&lt;")
        elif ch == ">":
            out.append("&gt;")
        elif ch == '"':
            out.append(rng.choice(['"', "&quot;"]))
        elif ch == "'":
            out.append(rng.choice(["'", "&apos;", "&#39;"]))
        elif ord(ch) > 127 and rng.randint(0, 3) == 0:
            out.append(rng.choice([f"&#{ord(ch)};", f"&#x{ord(ch):X};"]))
        else:
            out.append(ch)
    return "".join(out)


def _lines(rng, serial, long_text):
    lines = [f"Note {serial} " + " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 5)))]
    for _ in range(rng.randint(0, 4)):
        if rng.randint(0, 4) == 0:
            lines.append("")
        else:
            lines.append(" ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 8))))
    if long_text:
        lines.append(" ".join(f"{rng.choice(WORDS)}{i}" for i in range(900)))
    lines.append(f"end {serial}")
    return lines


def _html(rng, lines):
    """The body as the device writes it: one <div> per line, <div><br></div> for an empty
    line, and the last line after the last tag."""
    parts = []
    for line in lines[:-1]:
        parts.append("<div><br></div>" if line == "" else f"<div>{_escape(rng, line)}</div>")
    parts.append(_escape(rng, lines[-1]))
    return "".join(parts)


def _note(rng, serial, base_time, long_text=False):
    lines = _lines(rng, serial, long_text)
    title = lines[0].split("\t")[0][:60].strip()
    modified = base_time - rng.randint(3600, 400 * 86400) - MAC_EPOCH + rng.randint(0, 999) / 1000.0
    return {"title": title, "text": "\n".join(lines), "html": _html(rng, lines), "mac": modified,
            "created": modified - rng.randint(0, 86400)}


def _old_note_row(note, pk, layout):
    row = {"Z_PK": pk, "Z_ENT": 4, "Z_OPT": 3, "ZCONTENTTYPE": 0, "ZDELETEDFLAG": 0, "ZEXTERNALFLAGS": 0,
           "ZEXTERNALSEQUENCENUMBER": 0, "ZEXTERNALSERVERINTID": -1, "ZINTEGERID": 1000 + pk,
           "ZISBOOKKEEPINGENTRY": 0, "ZBODY": pk, "ZSTORE": 1, "ZCREATIONDATE": note["created"],
           "ZMODIFICATIONDATE": note["mac"], "ZAUTHOR": None, "ZGUID": f"GUID-{pk:08d}",
           "ZSERVERID": None, "ZSUMMARY": note["text"][:80], "ZTITLE": note["title"]}
    if layout.endswith("ios8"):
        row["ZCONTAINSCJK"] = 1 if any(ord(c) > 0x3000 for c in note["text"]) else 0
    return row


def _body_row(note, pk):
    return {"Z_PK": pk, "Z_ENT": 5, "Z_OPT": 1, "ZOWNER": pk, "ZCONTENT": note["html"],
            "ZEXTERNALCONTENTREF": None, "ZEXTERNALREPRESENTATION": None}


def _values(connection, table, pk):
    values = list(connection.execute(f'SELECT * FROM "{table}" WHERE Z_PK = ?', (pk,)).fetchone())
    values[0] = None
    return values


def _truth(note, deleted=False):
    return {"title": note["title"], "date": note["mac"], "html": note["html"], "text": note["text"],
            "deleted": 1 if deleted else 0}


def _older_store(rng, base_time, layout, sizes, wal_history=False):
    live_count, deleted_count, late_count = sizes
    old_layout = "ios6" if layout.startswith("notes.sqlite/ios6") else "ios8"
    db = DatabaseFile(page_size=4096, auto_vacuum=2, journal_mode="wal" if wal_history else "delete")
    db.script(OLD_TABLES % (ZNOTE_IOS6 if old_layout == "ios6" else ZNOTE_IOS7))
    serial = iter(range(1, 10 ** 6))
    planned = [(_note(rng, next(serial), base_time, long_text=(i == 2)), False) for i in range(live_count)]
    planned += [(_note(rng, next(serial), base_time, long_text=(i == 1)), True) for i in range(deleted_count)]
    order = sorted(range(len(planned)), key=lambda i: rng.randint(0, 10 ** 6))
    db.insert("ZSTORE", {"Z_PK": 1, "Z_ENT": 7, "Z_OPT": 1, "ZACCOUNT": 1, "ZNAME": "Notes"})
    pks, doomed, next_pk = {}, [], iter(range(1, 10 ** 6))
    db.db.execute("BEGIN")
    for i in order:
        note, is_doomed = planned[i]
        pk = next(next_pk)
        pks[i] = pk
        db.insert("ZNOTE", _old_note_row(note, pk, "ios8" if old_layout == "ios8" else "ios6"))
        db.insert("ZNOTEBODY", _body_row(note, pk))
        if is_doomed:
            doomed.append((pk, note))
    db.db.execute("COMMIT")

    removed = []

    def delete(items):
        for pk, note in items:
            body_values = _values(db.db, "ZNOTEBODY", pk)
            note_values = _values(db.db, "ZNOTE", pk)
            db.delete("ZNOTEBODY", "Z_PK = ?", (pk,))
            db.delete("ZNOTE", "Z_PK = ?", (pk,))
            removed.append((note, body_values, note_values))

    half = len(doomed) // 2
    delete(doomed[:half])
    late = []
    db.db.execute("BEGIN")
    for _ in range(late_count):
        note, pk = _note(rng, next(serial), base_time), next(next_pk)
        db.insert("ZNOTE", _old_note_row(note, pk, old_layout))
        db.insert("ZNOTEBODY", _body_row(note, pk))
        late.append(note)
    db.db.execute("COMMIT")
    delete(doomed[half:])
    top = db.db.execute("SELECT max(Z_PK) FROM ZNOTE").fetchone()[0] or 0
    db.insert_many("Z_PRIMARYKEY", [{"Z_ENT": 4, "Z_NAME": "Note", "Z_SUPER": 0, "Z_MAX": top},
                                    {"Z_ENT": 5, "Z_NAME": "NoteBody", "Z_SUPER": 0, "Z_MAX": top}])
    db.insert("Z_METADATA", {"Z_VERSION": 1, "Z_UUID": rng.uuid_text(), "Z_PLIST": b"bplist00" + rng.bytes(48)})
    live_by_pk = {pks[i]: planned[i][0] for i in order if not planned[i][1]}
    live = [live_by_pk[pk] for pk in sorted(live_by_pk)] + late
    data = db.finish()
    deleted = []
    for note, body_values, note_values in removed:
        entry = _truth(note, deleted=True)
        entry["intact"] = survives(data, body_values)
        entry["note_intact"] = survives(data, note_values)
        deleted.append(entry)
    wal = None
    if wal_history:
        wal, live, in_wal = _wal_history(rng, data, live, live_by_pk, serial, top, base_time, old_layout)
        deleted += in_wal
    truth = {"layout": "notes.sqlite/" + old_layout, "domain": OLD_STORE[0], "path": OLD_STORE[1],
             "live": [_truth(n) for n in live], "deleted": deleted}
    return data, wal, truth


def _wal_history(rng, data, live, live_by_pk, serial, top, base_time, layout):
    """The -wal of the notes written, edited and deleted since the last checkpoint: two new
    notes (one deleted again, so it stands only in superseded frames), one note retitled (its
    old row is no deleted note) and one older note deleted. Returns the log, the live notes
    after it, and the truth of the notes it deleted."""
    added = [(top + 1 + i, _note(rng, next(serial), base_time)) for i in range(2)]
    (edited_pk, edited), (doomed_pk, doomed) = sorted(live_by_pk.items())[:2]
    edited_title = f"{edited['title']} (edited)"
    removed = []

    def insert(connection):
        for pk, note in added:
            for table, row in (("ZNOTE", _old_note_row(note, pk, layout)), ("ZNOTEBODY", _body_row(note, pk))):
                names = ",".join(row)
                connection.execute(f"INSERT INTO {table} ({names}) VALUES ({','.join('?' * len(row))})",
                                   list(row.values()))

    def delete(connection):
        for pk, note in ((doomed_pk, doomed), added[0]):
            removed.append((note, _values(connection, "ZNOTEBODY", pk), _values(connection, "ZNOTE", pk)))
            connection.execute("DELETE FROM ZNOTEBODY WHERE Z_PK = ?", (pk,))
            connection.execute("DELETE FROM ZNOTE WHERE Z_PK = ?", (pk,))

    wal = wal_companion(data, [[insert], [("UPDATE ZNOTE SET ZTITLE = ? WHERE Z_PK = ?", (edited_title, edited_pk))],
                               [delete]], rng, keep_deleted=True)
    edited["title"] = edited_title
    in_wal = []
    for note, body_values, note_values in removed:
        entry = _truth(note, deleted=True)
        entry["intact"] = survives(data, body_values) or survives(wal, body_values)
        entry["note_intact"] = survives(data, note_values) or survives(wal, note_values)
        entry["wal"] = True
        in_wal.append(entry)
    return wal, [n for n in live if n is not doomed] + [added[1][1]], in_wal


# ---- the newer store: the note text inside a protocol-buffer message, gzip-compressed


def _varint(value):
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        if value:
            out.append(byte | 0x80)
        else:
            out.append(byte)
            return bytes(out)


def _field(number, payload):
    """A length-delimited field (bytes) or a varint field (int)."""
    if isinstance(payload, int):
        return _varint(number << 3) + _varint(payload)
    return _varint((number << 3) | 2) + _varint(len(payload)) + payload


def _attachment(rng, serial):
    """One attachment: its type, the file name of its media (None when it has none) and its
    title (None when it has none). What the note names it by: file name, else title, else type."""
    kind = rng.randint(0, 3)
    if kind == 0:
        return {"uti": "public.jpeg", "file": f"IMG_{4000 + serial}.jpeg", "title": None}
    if kind == 1:
        return {"uti": "com.adobe.pdf", "file": f"Rechnung März {serial}.pdf", "title": None}
    if kind == 2:
        return {"uti": "public.url", "file": None, "title": f"Zoë's page {serial} & more"}
    return {"uti": "com.apple.drawing.2", "file": None, "title": None}


def _attachment_name(attachment):
    return attachment["file"] or attachment["title"] or attachment["uti"]


def _with_attachments(rng, note, attachments):
    """The note's text with an object replacement character where each attachment sits (after
    its first line), and the text the reader shows: each mark replaced by the name in brackets."""
    lines = note["text"].split("\n")
    marks = "".join("\ufffc" for _ in attachments)
    shown = "".join(f"[{_attachment_name(a)}]" for a in attachments)
    stored = "\n".join(lines[:1] + [marks] + lines[1:]) if attachments else note["text"]
    visible = "\n".join(lines[:1] + [shown] + lines[1:]) if attachments else note["text"]
    return stored, visible


def note_protobuf(text, rng, attachments=()):
    """Store message { 2: document { 2: version, 3: note { 2: text, 5: attribute runs } } }. A run
    holds its length in characters (field 1); a run over an attachment's mark names it in field 12
    { 1: identifier, 2: type }."""
    raw = text.encode("utf-8")
    runs = []
    pending = list(attachments)
    plain = 0
    for ch in text:
        if ch == "\ufffc" and pending:
            if plain:
                runs.append(_field(1, plain) + _field(2, _field(1, 0)))
                plain = 0
            a = pending.pop(0)
            runs.append(_field(1, 1) + _field(12, _field(1, a["identifier"].encode()) + _field(2, a["uti"].encode())))
        else:
            plain += 1
    if plain or not runs:
        runs.append(_field(1, max(plain, rng.randint(1, 40))) + _field(2, _field(1, 0)))
    note = _field(2, raw) + b"".join(_field(5, run) for run in runs)
    document = _field(2, 0) + _field(3, note)
    return _field(2, document)


class _Connection:
    """An open connection with DatabaseFile's insert, for rows written into a -wal."""

    def __init__(self, connection):
        self.db = connection

    insert = DatabaseFile.insert


def _new_store(rng, base_time, sizes, generation, wal_history=False):
    live_count, deleted_count, late_count = sizes
    db = DatabaseFile(page_size=4096, auto_vacuum=2, journal_mode="wal")
    db.script(NEW_TABLES.replace("%OBJECTS%", NOTESTORE_OBJECTS[generation]))
    columns = {row[1] for row in db.db.execute("PRAGMA table_info(ZICCLOUDSYNCINGOBJECT)")}
    # Notes got their creation date a column of its own with system 15.
    created_column = "ZCREATIONDATE3" if "ZCREATIONDATE3" in columns else "ZCREATIONDATE1"
    pk = iter(range(1, 10 ** 6))
    # Accounts, folders, attachments and their media share the table with the notes.
    db.insert("ZICCLOUDSYNCINGOBJECT", {"Z_PK": next(pk), "Z_ENT": ENTITIES["ICAccount"], "Z_OPT": 1,
                                        "ZNAME": "iCloud", "ZIDENTIFIER": rng.uuid_text()})
    folders = {}
    for name in FOLDERS:
        folders[name] = next(pk)
        db.insert("ZICCLOUDSYNCINGOBJECT", {"Z_PK": folders[name], "Z_ENT": ENTITIES["ICFolder"], "Z_OPT": 1,
                                            "ZTITLE2": name, "ZIDENTIFIER": rng.uuid_text()})
    data_pk = iter(range(1, 10 ** 6))
    serial = iter(range(5000, 10 ** 6))
    count = live_count + deleted_count + 5

    def add(i, kind, target=db):
        note = _note(rng, next(serial), base_time, long_text=(i == 1))
        note_pk = next(pk)
        folder = rng.choice(FOLDERS)
        attachments = []
        if kind == "body" and i % 3 == 0:
            for k in range(rng.randint(1, 2)):
                attachments.append({**_attachment(rng, note_pk * 10 + k), "identifier": rng.uuid_text()})
        stored, visible = _with_attachments(rng, note, attachments)
        snippet = note["text"].split("\n")[1] if "\n" in note["text"] else ""
        marked = 1 if i % 7 == 3 else 0   # in "Recently Deleted"
        title = note["title"]
        if kind == "untitled":
            title = None
        locked = kind == "locked"
        row = {"Z_PK": note_pk, "Z_ENT": ENTITIES["ICNote"], "Z_OPT": 2, "ZMARKEDFORDELETION": marked,
               "ZFOLDER": folders[folder], "ZNOTEDATA": None, created_column: note["created"],
               "ZMODIFICATIONDATE1": note["mac"], "ZTITLE1": title, "ZSNIPPET": None if locked else snippet,
               "ZIDENTIFIER": rng.uuid_text(), "ZISPASSWORDPROTECTED": 1 if locked else 0}
        if locked:
            row.update({"ZCRYPTOITERATIONCOUNT": 20000, "ZCRYPTOSALT": rng.bytes(16),
                        "ZCRYPTOWRAPPEDKEY": rng.bytes(24), "ZPASSWORDHINT": "the usual"})
        target.insert("ZICCLOUDSYNCINGOBJECT", row)
        for a in attachments:
            media = None
            if a["file"]:
                media = next(pk)
                target.insert("ZICCLOUDSYNCINGOBJECT", {"Z_PK": media, "Z_ENT": ENTITIES["ICMedia"], "Z_OPT": 1,
                                                    "ZFILENAME": a["file"], "ZIDENTIFIER": rng.uuid_text()})
            target.insert("ZICCLOUDSYNCINGOBJECT", {"Z_PK": next(pk), "Z_ENT": ENTITIES["ICAttachment"], "Z_OPT": 1,
                                                "ZNOTE": note_pk, "ZMEDIA": media, "ZTYPEUTI": a["uti"],
                                                "ZTITLE": a["title"], "ZIDENTIFIER": a["identifier"]})
        content = visible
        data_row = None
        if kind != "none":
            blob = gzip.compress(note_protobuf(stored, rng, attachments), mtime=0)
            if kind == "truncated":
                blob, content = blob[: len(blob) // 2], ""
            elif kind == "garbage":
                blob, content = gzip.compress(b"\x12\xff\xff\xff\xff\x0f" + rng.bytes(20), mtime=0), ""
            elif locked:
                # Encrypted with a key made from the password: nothing to read without it.
                blob, content = b"\x00" + rng.bytes(len(blob) + 15), ""
            data_row = {"Z_PK": next(data_pk), "Z_ENT": ENTITIES["ICNoteData"], "Z_OPT": 1, "ZNOTE": note_pk,
                        "ZDATA": blob}
            if locked:
                data_row.update({"ZCRYPTOINITIALIZATIONVECTOR": rng.bytes(16), "ZCRYPTOTAG": rng.bytes(16)})
            target.insert("ZICNOTEDATA", data_row)
            target.db.execute("UPDATE ZICCLOUDSYNCINGOBJECT SET ZNOTEDATA = ? WHERE Z_PK = ?", (data_row["Z_PK"], note_pk))
        else:
            content = snippet
        shown_title = title if title else _title_of_text(content)
        truth = {"title": shown_title, "date": note["created"], "text": content, "deleted": marked,
                 "folder": folder, "attachments": [_attachment_name(a) for a in attachments],
                 "locked": 1 if locked else 0}
        return note_pk, data_row, truth

    # The odd ones: a truncated body, a malformed one, none in this file, a locked note and
    # one without a title of its own.
    odd = {live_count: "truncated", live_count + 1: "garbage", live_count + 2: "none", live_count + 3: "locked",
           live_count + 4: "untitled"}
    planned = [odd.get(i, "body") for i in range(live_count + 5)] + ["body"] * deleted_count
    order = sorted(range(len(planned)), key=lambda i: rng.randint(0, 10 ** 6))
    made, doomed = {}, []
    db.db.execute("BEGIN")
    for i in order:
        made[i] = add(i, planned[i])
        if i >= live_count + 5:
            doomed.append(made[i])
    db.db.execute("COMMIT")
    removed = []

    def delete(items):
        for note_pk, data_row, truth in items:
            data_values = _values(db.db, "ZICNOTEDATA", data_row["Z_PK"])
            note_values = _values(db.db, "ZICCLOUDSYNCINGOBJECT", note_pk)
            db.delete("ZICNOTEDATA", "Z_PK = ?", (data_row["Z_PK"],))
            db.delete("ZICCLOUDSYNCINGOBJECT", "Z_PK = ? OR ZNOTE = ?", (note_pk, note_pk))
            removed.append((truth, data_values, note_values))

    half = len(doomed) // 2
    delete(doomed[:half])
    late = []
    db.db.execute("BEGIN")
    for j in range(late_count):
        late.append(add(count + j, "body"))
    db.db.execute("COMMIT")
    delete(doomed[half:])
    top = db.db.execute("SELECT max(Z_PK) FROM ZICCLOUDSYNCINGOBJECT").fetchone()[0] or 0
    db.insert_many("Z_PRIMARYKEY", [{"Z_ENT": ent, "Z_NAME": name, "Z_SUPER": 0, "Z_MAX": top}
                                    for name, ent in sorted(ENTITIES.items(), key=lambda e: e[1])])
    db.insert("Z_METADATA", {"Z_VERSION": 1, "Z_UUID": rng.uuid_text(), "Z_PLIST": b"bplist00" + rng.bytes(48)})
    live_items = sorted([made[i] for i in range(live_count + 5)] + late, key=lambda item: item[0])
    live = [truth for _, _, truth in live_items]
    data = db.finish()
    deleted = []
    for truth, data_values, note_values in removed:
        entry = dict(truth, deleted=1)
        entry["intact"] = survives(data, data_values)
        entry["note_intact"] = survives(data, note_values)
        deleted.append(entry)
    wal = None
    if wal_history:
        wal, live, in_wal = _new_wal_history(rng, data, live_items, lambda i, target: add(count + late_count + i,
                                                                                              "body", target))
        deleted += in_wal
    truth = {"layout": "NoteStore.sqlite/" + generation, "domain": NEW_STORE[0], "path": NEW_STORE[1],
             "live": live, "deleted": deleted}
    return data, wal, truth


def _new_wal_history(rng, data, live_items, add):
    """The -wal of the newer store after two notes were written (one deleted again, so it
    stands only in superseded frames), one note retitled (its old row is no deleted note) and
    one older note deleted with its body and attachments. Returns the log, the live notes
    after it and the truth of the notes it deleted."""
    plain = [item for item in live_items if item[1] is not None and item[2]["text"] and not item[2]["locked"]
             and item[2]["title"] and not item[2]["deleted"]]
    (edited_pk, _, edited), (doomed_pk, doomed_data, doomed) = plain[:2]
    edited_title = edited["title"] + " (edited)"
    added, removed = [], []

    def insert(connection):
        for i in range(2):
            added.append(add(i, _Connection(connection)))

    def delete(connection):
        for note_pk, data_row, truth in ((doomed_pk, doomed_data, doomed), added[0]):
            removed.append((truth, _values(connection, "ZICNOTEDATA", data_row["Z_PK"]),
                            _values(connection, "ZICCLOUDSYNCINGOBJECT", note_pk)))
            connection.execute("DELETE FROM ZICNOTEDATA WHERE Z_PK = ?", (data_row["Z_PK"],))
            connection.execute("DELETE FROM ZICCLOUDSYNCINGOBJECT WHERE Z_PK = ? OR ZNOTE = ?", (note_pk, note_pk))

    wal = wal_companion(data, [[insert], [("UPDATE ZICCLOUDSYNCINGOBJECT SET ZTITLE1 = ? WHERE Z_PK = ?",
                                           (edited_title, edited_pk))], [delete]], rng, keep_deleted=True)
    edited["title"] = edited_title
    in_wal = []
    for truth, data_values, note_values in removed:
        entry = dict(truth, deleted=1, wal=True)
        entry["intact"] = survives(data, data_values) or survives(wal, data_values)
        entry["note_intact"] = survives(data, note_values) or survives(wal, note_values)
        in_wal.append(entry)
    live = [truth for pk, _, truth in live_items if pk != doomed_pk] + [added[1][2]]
    return wal, live, in_wal


def _title_of_text(text):
    """A title-less note is named by its first line."""
    return text.split("\n")[0]


@register("notes")
def notes(context):
    sizes = SIZES.get(context.profile, SIZES["small"])
    rng = context.rng
    layout = _layout(context.props.product_version)
    entries, truth = [], {"layout": layout}
    if layout.startswith("NoteStore"):
        generation = layout.split("+")[0].split("/")[1]
        data, wal, truth["newer"] = _new_store(rng.derive("newer"), context.base_time, sizes, generation,
                                               context.wal_history)
        entries.append(database_entry(*NEW_STORE, data, context.base_time - 300))
        if wal is not None:
            entries.append(database_entry(NEW_STORE[0], NEW_STORE[1] + "-wal", wal, context.base_time - 300))
    data, wal, truth["older"] = _older_store(rng.derive("older"), context.base_time, layout, sizes,
                                             context.wal_history)
    entries.append(database_entry(*OLD_STORE, data, context.base_time - 900))
    if wal is not None:
        entries.append(database_entry(OLD_STORE[0], OLD_STORE[1] + "-wal", wal, context.base_time - 900))
    return Contribution(entries=entries, truth=truth)

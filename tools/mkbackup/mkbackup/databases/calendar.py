"""Library/Calendar/Calendar.sqlitedb: calendars, events and reminders.

Systems from 5 on keep events and reminders in one CalendarItem table (a
reminder has entity_type 3 and lives in a calendar whose
supported_entity_types is 8) with locations in their own table; older
systems have an Event table whose location is plain text. Some events and
reminders are deleted the way the device does it, and one live event is
edited, which leaves a stale copy of its old cell in free space.
"""

from ..properties import version_key
from . import Contribution, register
from .sqlite_file import DatabaseFile, database_entry, text_survives

HOME = "HomeDomain"
PATH = "Library/Calendar/Calendar.sqlitedb"
MAC_EPOCH = 978307200
EVENT_ENTITY = 2
REMINDER_ENTITY = 3
EVENTS_ONLY = 4
REMINDERS_ONLY = 8

COMMON = """
CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));
CREATE TABLE Store (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, default_alarm_offset INTEGER, type INTEGER, constraint_path TEXT, disabled INTEGER, external_id TEXT, persistent_id TEXT, flags INTEGER, creator_bundle_id TEXT, creator_code_signing_identity TEXT, only_creator_can_modify INTEGER, external_mod_tag TEXT);
"""

NEWER = COMMON + """
CREATE TABLE Calendar (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, store_id INTEGER, title TEXT, flags INTEGER, color TEXT, symbolic_color_name TEXT, color_is_display INTEGER, type TEXT, supported_entity_types INTEGER, external_id TEXT, external_mod_tag TEXT, external_id_tag TEXT, external_rep BLOB, display_order INTEGER, UUID TEXT, shared_owner_name TEXT, shared_owner_email TEXT, sharing_status INTEGER, sharing_invitation_response INTEGER, published_URL TEXT, is_published INTEGER, invitation_status INTEGER, sync_token TEXT, self_identity_id INTEGER, self_identity_email TEXT, owner_identity_id INTEGER, owner_identity_email TEXT, notes TEXT, bulk_requests BLOB, subcal_account_id TEXT, push_key TEXT, digest BLOB);
CREATE TABLE CalendarItem (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, summary TEXT, location_id INTEGER, description TEXT, start_date REAL, start_tz TEXT, end_date REAL, all_day INTEGER, calendar_id INTEGER, orig_item_id INTEGER, orig_date REAL, organizer_id INTEGER, self_attendee_id INTEGER, status INTEGER, invitation_status INTEGER, availability INTEGER, privacy_level INTEGER, url TEXT, last_modified REAL, sequence_num INTEGER, birthday_id INTEGER, modified_properties INTEGER, external_tracking_status INTEGER, external_id TEXT, external_mod_tag TEXT, unique_identifier TEXT, external_schedule_id TEXT, external_rep BLOB, response_comment TEXT, hidden INTEGER, has_recurrences INTEGER, has_attendees INTEGER, UUID TEXT, entity_type INTEGER, priority INTEGER, due_date REAL, due_tz TEXT, due_all_day INTEGER, completion_date REAL, creation_date REAL, conference TEXT, display_order INTEGER, created_by_id INTEGER, modified_by_id INTEGER, shared_item_created_date REAL, shared_item_created_tz TEXT, shared_item_modified_date REAL, shared_item_modified_tz TEXT, invitation_changed_properties INTEGER, default_alarm_removed INTEGER, phantom_master INTEGER, participation_status_modified_date REAL);
CREATE TABLE Location (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, title TEXT, address TEXT, latitude INTEGER, longitude INTEGER, address_book_id TEXT, radius INTEGER, item_owner_id INTEGER, alarm_owner_id INTEGER);
CREATE TABLE OccurrenceCache (day REAL, event_id INTEGER, calendar_id INTEGER, store_id INTEGER, occurrence_date REAL, occurrence_start_date REAL, occurrence_end_date REAL);
"""

# Columns later systems append to CalendarItem (SQLite's ADD COLUMN keeps the older ones in
# place, so a record grows at its end): travel time and its advisory, the start location,
# suggestions and junk marks from iOS 10 to 13; conference links and structured location
# data later. A fresh database of such a system has them from the start.
ADDED_13 = ("travel_time INTEGER, travel_advisory_behavior INTEGER, start_location_id INTEGER, "
            "suggestion_info_id INTEGER, junk_status INTEGER, disallow_propose_new_time INTEGER")
ADDED_16 = ADDED_13 + ", conference_url_detected TEXT, image_id INTEGER, special_day_string TEXT"
ADDED_18 = ADDED_16 + ", structured_data BLOB, local_structured_data BLOB"


def _newer(version):
    """The newer schema text, CalendarItem widened for the system's version."""
    key = version_key(version)
    added = (ADDED_18 if key >= version_key("18") else ADDED_16 if key >= version_key("16")
             else ADDED_13 if key >= version_key("13") else "")
    if not added:
        return NEWER
    return NEWER.replace("participation_status_modified_date REAL);",
                         f"participation_status_modified_date REAL, {added});")


OLDER = COMMON + """
CREATE TABLE Calendar (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, store_id INTEGER, title TEXT, flags INTEGER, color TEXT, type TEXT, supported_entity_types INTEGER, external_id TEXT, external_mod_tag TEXT, external_id_tag TEXT, external_rep BLOB, display_order INTEGER, UUID TEXT);
CREATE TABLE Event (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, summary TEXT, location TEXT, description TEXT, start_date REAL, start_tz TEXT, end_date REAL, all_day INTEGER, calendar_id INTEGER, orig_event_id INTEGER, orig_start_date REAL, organizer_id INTEGER, organizer_is_self INTEGER, organizer_external_id TEXT, self_attendee_id INTEGER, status INTEGER, availability INTEGER, privacy_level INTEGER, url TEXT, last_modified REAL, sequence_num INTEGER, birthday_id INTEGER, modified_properties INTEGER, external_tracking_status INTEGER, external_id TEXT, external_mod_tag TEXT, unique_identifier TEXT, external_schedule_id TEXT, external_rep BLOB, response_comment TEXT, hidden INTEGER, has_recurrences INTEGER, has_attendees INTEGER);
"""

TOPICS = ["Zahnarzt", "Team stand-up", "Réunion budget", "会議", "Yoga 🧘", "Dinner with \"Sam\"",
          "Flight LH 400", "Elternabend", "Code review, part 2", "<script>alert(1)</script>",
          "Ужин", "Piano lesson", "Car service", "Birthday 🎂", "Quarterly review"]
PEOPLE = ["Anna", "José", "Zoë", "李雷", "O'Brien", "Mads", "Priya", "Łukasz", "", "Ngozi"]
PLACES = ["Café Müller, Hauptstraße 5", "Room 4.12", "東京駅", "12 Baker St", "Zoom",
          "Gate B22 \"Terminal 1\"", "Home"]
TASKS = ["Buy milk", "Pay rent", "Call mom ☎", "Renew passport", "Backup laptop",
         "Book tickets, 2 adults", "Return \"library\" books", "Steuererklärung", "Water plants"]
CALENDARS = [("Home", EVENTS_ONLY), ("Work: Projects", EVENTS_ONLY), ("Reminders", REMINDERS_ONLY),
             ("Shopping/Errands", REMINDERS_ONLY), ("Geburtstage", EVENTS_ONLY)]


def _counts(profile):
    return {"sample": (24, 12), "small": (36, 18), "large": (2400, 800)}.get(profile, (24, 12))


def _unique(rng, used, make):
    text = make()
    while text in used:
        text = f"{make()} {rng.randint(2, 999)}"
    used.add(text)
    return text


def _description(rng, index):
    if index % 9 == 4:
        # Longer than a page: the row continues on overflow pages.
        return "Agenda: " + "Punkt, «Zitat» und \"Anführung\"; " * rng.randint(150, 220)
    return rng.choice([None, "", "Bring the slides", "Notiz: 5 € mitbringen", "Line one\nline two",
                       "Quote \"this\"", "Ключ?"])


def _mac_time(rng, base_time):
    # Fractions of a second, as the device stores them, to catch any loss of precision.
    return float(base_time - MAC_EPOCH + rng.randint(-200 * 86400, 90 * 86400)) + rng.randint(1, 999) / 1000


def build(context):
    rng = context.rng
    newer = version_key(context.props.product_version) >= version_key("5")
    db = DatabaseFile(page_size=4096, auto_vacuum=2, journal_mode="wal")
    db.script(_newer(context.props.product_version) if newer else OLDER)
    db.insert("Store", {"name": "Default", "type": 0, "disabled": 0, "flags": 0})
    calendars = []
    for order, (title, types) in enumerate(CALENDARS):
        if not newer and types == REMINDERS_ONLY:
            continue  # the older systems have no reminders
        row = {"store_id": 1, "title": title, "flags": 0, "color": "#FF2968", "type": "Local",
               "supported_entity_types": types, "display_order": order, "UUID": rng.uuid_text()}
        calendars.append({"id": db.insert("Calendar", row), "title": title, "types": types})
    # A calendar without a title is not listed; its events are not either.
    db.insert("Calendar", {"store_id": 1, "title": None, "supported_entity_types": EVENTS_ONLY})
    event_calendars = [c for c in calendars if c["types"] == EVENTS_ONLY]
    reminder_lists = [c for c in calendars if c["types"] == REMINDERS_ONLY]

    locations = {}
    if newer:
        db.db.execute("BEGIN")
        for place in PLACES:
            locations[db.insert("Location", {"title": place, "address": place, "latitude": 0,
                                             "longitude": 0})] = place
        db.db.execute("COMMIT")

    used = set()
    event_count, reminder_count = _counts(context.profile)
    table = "CalendarItem" if newer else "Event"
    items = []
    for index in range(event_count):
        start = _mac_time(rng, context.base_time)
        calendar = rng.choice(event_calendars)
        summary = _unique(rng, used, lambda: f"{rng.choice(TOPICS)} {rng.choice(PEOPLE)}".strip())
        description = _description(rng, index)
        end = None if index % 11 == 3 else start + rng.randint(15, 240) * 60
        all_day = index % 7 == 0
        if all_day:
            # Whole days are floating midnights; the end is the midnight after the last day.
            start = float(int(start) // 86400 * 86400)
            end = start + (1 + index % 3) * 86400
        row = {"summary": summary, "description": description, "start_date": start, "end_date": end,
               "start_tz": "_float" if all_day else "Europe/Berlin", "all_day": int(all_day),
               "calendar_id": calendar["id"],
               "status": rng.choice([0, 1, 2, 3]), "availability": rng.choice([0, 1, 2, 3]),
               "UUID" if newer else "unique_identifier": rng.uuid_text(), "hidden": 0}
        if newer:
            row["location_id"] = rng.choice([0] + list(locations))
            row["entity_type"] = EVENT_ENTITY
            row["priority"] = 0
        else:
            row["location"] = rng.choice([None, *PLACES])
        items.append((row, calendar))
    for index in range(reminder_count if newer else 0):
        start = _mac_time(rng, context.base_time)
        calendar = rng.choice(reminder_lists)
        completed = index % 3 == 1
        row = {"summary": _unique(rng, used, lambda: f"{rng.choice(TASKS)} {rng.choice(PEOPLE)}".strip()),
               "description": _description(rng, index), "start_date": start if index % 4 else None,
               "end_date": None, "due_date": None if index % 5 == 2 else start + rng.randint(1, 72) * 3600,
               "calendar_id": calendar["id"], "location_id": rng.choice([0, 0, *locations]),
               "status": 0, "availability": 0, "entity_type": REMINDER_ENTITY,
               "priority": rng.choice([0, 1, 5, 9]), "UUID": rng.uuid_text(), "hidden": 0,
               "completion_date": start + 3600.5 if completed else None}
        items.append((row, calendar))
    order = list(range(len(items)))
    for i in range(len(order) - 1, 0, -1):
        j = rng.randint(0, i)
        order[i], order[j] = order[j], order[i]
    db.db.execute("BEGIN")
    ids = {}
    for i in order:
        ids[i] = db.insert(table, items[i][0])
    db.db.execute("COMMIT")

    # Deleted items: every fourth event and every third reminder, one at a time as the user does.
    doomed = [i for i, (row, _) in enumerate(items)
              if (row.get("entity_type", EVENT_ENTITY) == EVENT_ENTITY and i % 4 == 1)
              or (row.get("entity_type") == REMINDER_ENTITY and i % 3 == 0)]
    for i in doomed:
        db.delete(table, "ROWID = ?", (ids[i],))
    # An edit rewrites the cell; the old copy of a live row must not come back as deleted.
    edited = next(i for i, (row, _) in enumerate(items) if i not in doomed)
    new_summary = items[edited][0]["summary"] + " (moved)"
    db.db.execute(f"UPDATE {table} SET summary = ? WHERE ROWID = ?", (new_summary, ids[edited]))
    items[edited][0]["summary"] = new_summary
    data = db.finish()

    summaries = [row["summary"] for row, _ in items]

    def truth_of(i, deleted):
        row, calendar = items[i]
        location = locations.get(row.get("location_id"), "") if newer else (row.get("location") or "")
        entry = {"rowid": ids[i], "calendar": calendar["title"], "summary": row["summary"],
                 "description": row["description"] or "", "location": location,
                 "start_date": row["start_date"], "end_date": row["end_date"]}
        if row.get("entity_type") == REMINDER_ENTITY:
            entry.update(due_date=row["due_date"], priority=row["priority"],
                         completed=int(row["completion_date"] is not None),
                         completion_date=row["completion_date"])
        else:
            entry.update(status=row["status"], availability=row["availability"], all_day=row["all_day"])
        if deleted:
            entry["intact"] = text_survives(data, row["summary"], summaries)
        return entry

    def kind(i):
        return "reminders" if items[i][0].get("entity_type") == REMINDER_ENTITY else "events"

    truth = {"layout": table, "events": [], "reminders": [], "deleted_events": [], "deleted_reminders": []}
    for i in sorted(ids, key=lambda i: ids[i]):
        if i in doomed:
            truth["deleted_" + kind(i)].append(truth_of(i, True))
        else:
            truth[kind(i)].append(truth_of(i, False))
    entry = database_entry(HOME, PATH, data, context.base_time - rng.randint(60, 86400))
    return Contribution(entries=[entry], truth=truth)


@register("calendar")
def calendar(context):
    return build(context)

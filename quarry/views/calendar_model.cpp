#include "quarry/views/calendar_model.h"

#include "quarry/views/icalendar.h"
#include "quarry/views/record_text.h"
#include "quarry/views/table_report.h"
#include "sieve/time_zone.h"

namespace quarry::views {

void CalendarTraits::Take(const Record& record, const ViewContext&, std::vector<Item>& out) {
  out.push_back({RecordText(record.Summary), RecordText(record.Location), RecordText(record.StartDate),
                 RecordText(record.EndDate), RecordText(record.Description), record.Status, record.Deleted != 0,
                 record.AllDay != 0});
}

QStringList CalendarTraits::Headers(const ViewContext& context) {
  return {context.Text("IDS_RECOVERY_CALENDAR_HEADER_TITLE"), context.Text("IDS_RECOVERY_CALENDAR_HEADER_LOCATION"),
          context.Text("IDS_RECOVERY_CALENDAR_HEADER_STARTSDATE"), context.Text("IDS_RECOVERY_CALENDAR_HEADER_ENDSDATE"),
          context.Text("IDS_RECOVERY_CALENDAR_HEADER_NOTE")};
}

QString CalendarTraits::Cell(const Item& event, int column) {
  switch (column) {
    case 0: return ListLine(event.Summary);
    case 1: return ListLine(event.Location);
    case 2: return event.Start;
    case 3: return event.End;
    case 4: return ListLine(event.Description);
    default: return {};
  }
}

bool CalendarTraits::Matches(const Item& event, const QString& lowerText) {
  return AnyContains(lowerText, event.Summary, event.Location, event.Start, event.End, event.Description);
}

DetailRows CalendarTraits::Detail(const Item& event, const ViewContext& context) {
  const QStringList headers = Headers(context);
  DetailRows rows{{headers[0], event.Summary}, {headers[1], event.Location}, {headers[2], event.Start},
                  {headers[3], event.End},     {headers[4], event.Description}};
  if (event.AllDay) {
    rows.push_back({context.Text("IDS_RECOVERY_CALENDAR_ALLDAY"),
                    event.End.isEmpty() || event.End == event.Start ? event.Start : event.Start + QStringLiteral(" – ") + event.End});
  }
  return rows;
}

QString EventsICalendar(const std::vector<EventItem>& events, bool utc) {
  ICalendarWriter ics(utc);
  for (std::size_t k = 0; k < events.size(); ++k) {
    const EventItem& e = events[k];
    ics.Begin(QStringLiteral("VEVENT"));
    ics.Raw(QStringLiteral("UID"), ICalUid(static_cast<qsizetype>(k), {e.Summary, e.Start, e.End, e.Location}));
    ics.Stamp(e.Start.isEmpty() ? e.End : e.Start);
    if (e.AllDay) {
      // Whole days: DATE values, the end being the day after the last one covered.
      if (ics.Day(QStringLiteral("DTSTART"), e.Start) && e.End >= e.Start) ics.Day(QStringLiteral("DTEND"), e.End, 1);
    } else {
      // An event needs its start; one that ends before it starts keeps only the start.
      const bool started = ics.Date(QStringLiteral("DTSTART"), e.Start.isEmpty() ? e.End : e.Start);
      if (started && !e.Start.isEmpty() && e.End > e.Start) ics.Date(QStringLiteral("DTEND"), e.End);
    }
    ics.Text(QStringLiteral("SUMMARY"), e.Summary);
    ics.Text(QStringLiteral("DESCRIPTION"), e.Description);
    ics.Text(QStringLiteral("LOCATION"), e.Location);
    static const char* const kStatus[] = {"", "CONFIRMED", "TENTATIVE", "CANCELLED"};
    if (e.Status > 0 && e.Status < 4) ics.Raw(QStringLiteral("STATUS"), QLatin1String(kStatus[e.Status]));
    if (e.Deleted) ics.DeletedMarks();
    ics.End(QStringLiteral("VEVENT"));
  }
  return ics.Finish();
}

std::unique_ptr<CategoryExport> CalendarTraits::Export(std::vector<Item> checked, const ViewContext& context) {
  Table table = MakeTable(context, "IDS_RECOVERY_MAIN_CALENDAR",
                          {{"IDS_RECOVERY_CALENDAR_HEADER_TITLE", "Title"},
                           {"IDS_RECOVERY_CALENDAR_HEADER_LOCATION", "Location"},
                           {"IDS_RECOVERY_CALENDAR_HEADER_STARTSDATE", "Starts", true},
                           {"IDS_RECOVERY_CALENDAR_HEADER_ENDSDATE", "Ends", true},
                           {"IDS_RECOVERY_CALENDAR_HEADER_NOTE", "Note"}},
                          checked, [](const EventItem& e) {
                            return TableRow{{e.Summary, e.Location, e.Start, e.End, e.Description}, e.Deleted};
                          });
  const auto count = static_cast<qsizetype>(checked.size());
  const bool utc = sieve::UtcTimes();
  return std::make_unique<DocumentsExport>(
      QStringLiteral("Calendar"), count, [table = std::move(table), events = std::move(checked), utc] {
        std::vector<ExportDocument> documents = TableDocuments(table);
        documents.push_back({QStringLiteral("ICS"), QStringLiteral(".ics"), EventsICalendar(events, utc),
                             ByteOrderMark::Without, false});
        return documents;
      });
}

}  // namespace quarry::views

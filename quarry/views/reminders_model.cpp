#include "quarry/views/reminders_model.h"

#include "quarry/views/icalendar.h"
#include "quarry/views/record_text.h"
#include "quarry/views/table_report.h"
#include "sieve/time_zone.h"

namespace quarry::views {

void ReminderTraits::Take(const Record& record, const ViewContext& context, std::vector<Item>& out) {
  ReminderItem item;
  item.Summary = RecordText(record.Summary);
  item.Start = RecordText(record.StartDate);
  item.Due = RecordText(record.EndDate);
  item.Date = item.Due.isEmpty() ? item.Start : item.Due;
  item.Description = RecordText(record.Description);
  item.Location = RecordText(record.Location);
  item.Completed = record.Completed != 0;
  item.CompletedOn = RecordText(record.CompletionDate);
  item.StatusText = context.Text(item.Completed ? "IDS_RECOVERY_REMINDER_COMPLETE" : "IDS_RECOVERY_REMINDER_UNCOMPLETE");
  item.Priority = record.Priority >= 0 && record.Priority <= 9 ? record.Priority : 0;
  // The list the phone makes itself is stored under a placeholder name.
  item.ListName = record.ListTitle == "DEFAULT_TASK_CALENDAR_NAME" ? context.Text("IDS_RECOVERY_REMINDER_REMINDER")
                                                                  : RecordText(record.ListTitle);
  item.Deleted = record.Deleted != 0;
  out.push_back(std::move(item));
}

QStringList ReminderTraits::Headers(const ViewContext& context) {
  return {context.Text("IDS_RECOVERY_REMINDER_HEADER_TITLE"), context.Text("IDS_RECOVERY_REMINDER_HEADER_LIST"),
          context.Text("IDS_RECOVERY_REMINDER_HEADER_STATUS"), context.Text("IDS_RECOVERY_REMINDER_HEADER_DATE")};
}

QString ReminderTraits::Cell(const Item& r, int column) {
  switch (column) {
    case 0: return ListLine(r.Summary);
    case 1: return r.ListName;
    case 2: return r.StatusText;
    case 3: return r.Date;
    default: return {};
  }
}

bool ReminderTraits::Matches(const Item& r, const QString& lowerText) {
  return AnyContains(lowerText, r.Summary, r.ListName, r.StatusText, r.Date, r.Description, r.Location);
}

DetailRows ReminderTraits::Detail(const Item& r, const ViewContext& context) {
  return {{context.Text("IDS_RECOVERY_REMINDER_HEADER_LIST"), r.ListName},
          {context.Text("IDS_RECOVERY_REMINDER_HEADER_STATUS"), r.StatusText},
          {context.Text("IDS_RECOVERY_REMINDER_HEADER_COMPLETED_ON"), r.CompletedOn},
          {context.Text("IDS_RECOVERY_REMINDER_HEADER_DATE"), r.Due},
          {context.Text("IDS_RECOVERY_CALENDAR_HEADER_STARTSDATE"), r.Start},
          {context.Text("IDS_RECOVERY_CALENDAR_HEADER_LOCATION"), r.Location},
          {context.Text("IDS_RECOVERY_CALENDAR_HEADER_NOTE"), r.Description}};
}

QString RemindersICalendar(const std::vector<ReminderItem>& reminders, bool utc) {
  ICalendarWriter ics(utc);
  for (std::size_t k = 0; k < reminders.size(); ++k) {
    const ReminderItem& r = reminders[k];
    ics.Begin(QStringLiteral("VTODO"));
    ics.Raw(QStringLiteral("UID"), ICalUid(static_cast<qsizetype>(k), {r.Summary, r.Start, r.Due, r.ListName}));
    ics.Stamp(r.Date);
    // A to-do may not be due before it starts: then only the due date is kept.
    if (r.Due.isEmpty() || r.Start <= r.Due) ics.Date(QStringLiteral("DTSTART"), r.Start);
    ics.Date(QStringLiteral("DUE"), r.Due);
    ics.Text(QStringLiteral("SUMMARY"), r.Summary);
    ics.Text(QStringLiteral("DESCRIPTION"), r.Description);
    ics.Text(QStringLiteral("LOCATION"), r.Location);
    ics.Raw(QStringLiteral("STATUS"), r.Completed ? QStringLiteral("COMPLETED") : QStringLiteral("NEEDS-ACTION"));
    if (r.Completed) ics.UtcDate(QStringLiteral("COMPLETED"), r.CompletedOn);
    if (r.Priority > 0) ics.Raw(QStringLiteral("PRIORITY"), QString::number(r.Priority));
    ics.Text(QStringLiteral("CATEGORIES"), r.ListName);
    if (r.Deleted) ics.DeletedMarks();
    ics.End(QStringLiteral("VTODO"));
  }
  return ics.Finish();
}

std::unique_ptr<CategoryExport> ReminderTraits::Export(std::vector<Item> checked, const ViewContext& context) {
  // The report keeps the note too, which the list leaves to the detail pane.
  Table table = MakeTable(context, "IDS_RECOVERY_MAIN_REMINDER",
                          {{"IDS_RECOVERY_REMINDER_HEADER_TITLE", "Title"},
                           {"IDS_RECOVERY_REMINDER_HEADER_LIST", "List"},
                           {"IDS_RECOVERY_REMINDER_HEADER_STATUS", "Status"},
                           {"IDS_RECOVERY_REMINDER_HEADER_DATE", "Date", true},
                           {"IDS_RECOVERY_CALENDAR_HEADER_NOTE", "Note"}},
                          checked, [](const ReminderItem& r) {
                            return TableRow{{r.Summary, r.ListName, r.StatusText, r.Date, r.Description}, r.Deleted};
                          });
  const auto count = static_cast<qsizetype>(checked.size());
  const bool utc = sieve::UtcTimes();
  return std::make_unique<DocumentsExport>(
      QStringLiteral("Reminders"), count, [table = std::move(table), reminders = std::move(checked), utc] {
        std::vector<ExportDocument> documents = TableDocuments(table);
        documents.push_back({QStringLiteral("ICS"), QStringLiteral(".ics"), RemindersICalendar(reminders, utc),
                             ByteOrderMark::Without, false});
        return documents;
      });
}

}  // namespace quarry::views

#include "quarry/views/calls_model.h"

#include <cmath>

#include "quarry/views/record_text.h"
#include "sieve/extractors/call_info.h"
#include "quarry/views/table_report.h"

namespace quarry::views {


bool CallOutgoing(const sieve::CallRecord& record) {
  if (record.Direction == "OUT") return true;
  if (record.Direction == "IN") return false;
  // Bit 0 is set for a call this phone placed, in both layouts' flags.
  return (record.Flags & 1) != 0;
}

QString CallDurationText(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return {};
  const auto whole = static_cast<qint64>(seconds);
  return QStringLiteral("%1:%2:%3")
      .arg(whole / 3600)
      .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

void CallTraits::Take(const Record& record, const ViewContext& context, std::vector<Item>& out) {
  CallItem item;
  item.Name = RecordText(record.Name);
  item.Phone = RecordText(record.Address);
  // A call whose number was withheld (or never known) says so instead of showing a blank.
  if (item.Phone.isEmpty()) item.Phone = context.Text("IDS_RECOVERY_CALL_NO_NUMBER");
  item.Date = RecordText(record.Date);
  item.Outgoing = CallOutgoing(record);
  item.Deleted = record.Deleted != 0;
  const double seconds = static_cast<double>(record.Seconds);
  int answered = record.Answered;
  // Without the record's word, a call that lasted was answered and one that did not was not.
  if (answered < 0) answered = seconds > 0 ? 1 : 0;
  if (item.Outgoing) {
    item.Type = context.Text(answered ? "IDS_RECOVERY_CALLINFO_OUTGOING" : "IDS_RECOVERY_CALLINFO_CANCELED");
  } else {
    item.Type = context.Text(answered ? "IDS_RECOVERY_CALLINFO_INCOMING" : "IDS_RECOVERY_CALLINFO_MISSED");
  }
  // FaceTime and other apps' calls say so beside the direction; phone calls stay as they were.
  const QString service = RecordText(sieve::CallServiceName(record));
  if (!service.isEmpty()) item.Type += QStringLiteral(" (%1)").arg(service);
  if (answered || seconds > 0) item.Duration = CallDurationText(seconds);
  out.push_back(std::move(item));
}

QStringList CallTraits::Headers(const ViewContext& context) {
  return {context.Text("IDS_RECOVERY_CALL_HEADER_NAME"), context.Text("IDS_RECOVERY_CALL_HEADER_PHONE"),
          context.Text("IDS_RECOVERY_CALL_HEADER_DATE"), context.Text("IDS_RECOVERY_CALL_HEADER_TYPE"),
          context.Text("IDS_RECOVERY_CALL_HEADER_DURATION")};
}

QString CallTraits::Cell(const Item& call, int column) {
  switch (column) {
    case 0: return call.Name;
    case 1: return call.Phone;
    case 2: return call.Date;
    case 3: return call.Type;
    case 4: return call.Duration;
    default: return {};
  }
}

bool CallTraits::Matches(const Item& call, const QString& lowerText) {
  return AnyContains(lowerText, call.Name, call.Phone, call.Date, call.Type);
}

std::unique_ptr<CategoryExport> CallTraits::Export(std::vector<Item> checked, const ViewContext& context) {
  Table table = MakeTable(context, "IDS_RECOVERY_MAIN_RECENT_CALL",
                          {{"IDS_RECOVERY_CALL_HEADER_NAME", "Name"},
                           {"IDS_RECOVERY_CALL_HEADER_PHONE", "Phone"},
                           {"IDS_RECOVERY_CALL_HEADER_DATE", "Date", true},
                           {"IDS_RECOVERY_CALL_HEADER_TYPE", "Type"},
                           {"IDS_RECOVERY_CALL_HEADER_DURATION", "Duration"}},
                          checked, [](const CallItem& c) {
                            return TableRow{{c.Name, c.Phone, c.Date, c.Type, c.Duration}, c.Deleted};
                          });
  return MakeTableExport(QStringLiteral("Call History"), std::move(table));
}

}  // namespace quarry::views

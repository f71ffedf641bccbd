// The calendar view: one row per event (title, location, start, end, note) with
// the event in the detail pane; exported as the table report, CSV and an
// iCalendar file.
#pragma once

#include <vector>

#include "quarry/views/list_model.h"
#include "sieve/records.h"

namespace quarry::views {

struct EventItem {
  QString Summary;
  QString Location;
  QString Start;
  QString End;
  QString Description;
  int Status = 0;  // the calendar's event status: 1 confirmed, 2 tentative, 3 cancelled
  bool Deleted = false;
  bool AllDay = false;  // Start and End are days ("YYYY-MM-DD"), End the last one covered
};

struct CalendarTraits {
  using Record = sieve::CalendarRecord;
  using Item = EventItem;

  static void Take(const Record& record, const ViewContext& context, std::vector<Item>& out);
  static QStringList Headers(const ViewContext& context);
  static QString Cell(const Item& item, int column);
  static bool Matches(const Item& item, const QString& lowerText);
  static std::unique_ptr<CategoryExport> Export(std::vector<Item> checked, const ViewContext& context);
  static DetailRows Detail(const Item& item, const ViewContext& context);
};

// The events as an iCalendar file (VEVENTs); `utc`: the dates are UTC texts.
QString EventsICalendar(const std::vector<EventItem>& events, bool utc);

class CalendarModel : public ListModel<CalendarTraits> {
 public:
  explicit CalendarModel(ViewContext context = {}, QObject* parent = nullptr) : ListModel(std::move(context), parent) {}
};

}  // namespace quarry::views

// The reminders view: one row per reminder (title, list, status, date) with the
// reminder in the detail pane; exported as the table report, CSV and an
// iCalendar file of to-dos.
#pragma once

#include <vector>

#include "quarry/views/list_model.h"
#include "sieve/records.h"

namespace quarry::views {

struct ReminderItem {
  QString Summary;
  QString ListName;    // the default list by its name in the window's language
  QString StatusText;  // complete or not, in the window's language
  QString Date;        // the due date, else the start date
  QString Start;
  QString Due;
  QString CompletedOn;  // "" when not completed or not known
  QString Description;
  QString Location;
  bool Completed = false;
  int Priority = 0;  // 0 none, 1 (highest) to 9
  bool Deleted = false;
};

struct ReminderTraits {
  using Record = sieve::ReminderRecord;
  using Item = ReminderItem;

  static void Take(const Record& record, const ViewContext& context, std::vector<Item>& out);
  static QStringList Headers(const ViewContext& context);
  static QString Cell(const Item& item, int column);
  static bool Matches(const Item& item, const QString& lowerText);
  static std::unique_ptr<CategoryExport> Export(std::vector<Item> checked, const ViewContext& context);
  static DetailRows Detail(const Item& item, const ViewContext& context);
};

// The reminders as an iCalendar file (VTODOs); `utc`: the dates are UTC texts.
QString RemindersICalendar(const std::vector<ReminderItem>& reminders, bool utc);

class RemindersModel : public ListModel<ReminderTraits> {
 public:
  explicit RemindersModel(ViewContext context = {}, QObject* parent = nullptr) : ListModel(std::move(context), parent) {}
};

}  // namespace quarry::views

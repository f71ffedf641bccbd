// The call history view: one row per call with name, number, date, type and
// duration; exported as the table report and CSV.
#pragma once

#include <vector>

#include "quarry/views/list_model.h"
#include "sieve/records.h"

namespace quarry::views {

struct CallItem {
  QString Name;
  QString Phone;
  QString Date;
  QString Type;      // incoming, outgoing, missed or cancelled, in the window's language
  QString Duration;  // "h:mm:ss", "" for a call that was not answered
  bool Outgoing = false;
  bool Deleted = false;
};

// True for a call this phone placed: from Direction, or for a recovered row without
// one, from the direction bit of its flags.
bool CallOutgoing(const sieve::CallRecord& record);
// "h:mm:ss" of whole seconds; "" for a negative or unreadable length.
QString CallDurationText(double seconds);

struct CallTraits {
  using Record = sieve::CallRecord;
  using Item = CallItem;

  static void Take(const Record& record, const ViewContext& context, std::vector<Item>& out);
  static QStringList Headers(const ViewContext& context);
  static QString Cell(const Item& item, int column);
  static bool Matches(const Item& item, const QString& lowerText);
  static std::unique_ptr<CategoryExport> Export(std::vector<Item> checked, const ViewContext& context);
};

class CallsModel : public ListModel<CallTraits> {
 public:
  explicit CallsModel(ViewContext context = {}, QObject* parent = nullptr) : ListModel(std::move(context), parent) {}
};

}  // namespace quarry::views

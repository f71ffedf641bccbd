#include "quarry/views/notes_model.h"

#include "quarry/views/record_text.h"
#include "quarry/views/table_report.h"

namespace quarry::views {

void NoteTraits::Take(const Record& record, const ViewContext&, std::vector<Item>& out) {
  NoteItem item;
  item.Title = RecordText(record.Title);
  item.Date = RecordText(record.Date);
  item.Content = RecordText(record.Content);
  item.Deleted = record.Deleted != 0;
  // A note without a body shows its title as its text; one without a title is named
  // by its first line that says something.
  if (item.Content.isEmpty()) item.Content = item.Title;
  if (item.Title.trimmed().isEmpty()) {
    for (const QString& line : item.Content.split(QLatin1Char('\n'))) {
      if (!line.trimmed().isEmpty()) {
        item.Title = line.trimmed();
        break;
      }
    }
  }
  out.push_back(std::move(item));
}

QStringList NoteTraits::Headers(const ViewContext& context) {
  return {context.Text("IDS_RECOVERY_NOTE_HEADER_TITLE"), context.Text("IDS_RECOVERY_NOTE_HEADER_DATE"),
          context.Text("IDS_RECOVERY_NOTE_HEADER_NOTE")};
}

QString NoteTraits::Cell(const Item& note, int column) {
  switch (column) {
    case 0: return ListLine(note.Title);
    case 1: return note.Date;
    case 2: return ListLine(note.Content);
    default: return {};
  }
}

bool NoteTraits::Matches(const Item& note, const QString& lowerText) {
  return AnyContains(lowerText, note.Title, note.Content, note.Date);
}

DetailRows NoteTraits::Detail(const Item& note, const ViewContext& context) {
  return {{context.Text("IDS_RECOVERY_TITLENOTEBAR_TITLE"), note.Title},
          {context.Text("IDS_RECOVERY_NOTE_HEADER_DATE"), note.Date},
          {context.Text("IDS_RECOVERY_TITLENOTEBAR_NOTE"), note.Content}};
}

std::unique_ptr<CategoryExport> NoteTraits::Export(std::vector<Item> checked, const ViewContext& context) {
  Table table = MakeTable(context, "IDS_RECOVERY_MAIN_NOTES",
                          {{"IDS_RECOVERY_NOTE_HEADER_TITLE", "Title"},
                           {"IDS_RECOVERY_NOTE_HEADER_DATE", "Date", true},
                           {"IDS_RECOVERY_NOTE_HEADER_NOTE", "Note"}},
                          checked, [](const NoteItem& n) { return TableRow{{n.Title, n.Date, n.Content}, n.Deleted}; });
  return MakeTableExport(QStringLiteral("Notes"), std::move(table));
}

}  // namespace quarry::views

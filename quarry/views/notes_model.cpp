#include "quarry/views/notes_model.h"

#include "quarry/views/record_text.h"
#include "quarry/views/table_report.h"

namespace quarry::views {

void NoteTraits::Take(const Record& record, const ViewContext& context, std::vector<Item>& out) {
  NoteItem item;
  item.Title = RecordText(record.Title);
  item.Date = RecordText(record.Date);
  item.Content = RecordText(record.Content);
  item.Folder = RecordText(record.Folder);
  QStringList attachments;
  for (const std::string& name : record.Attachments) attachments << RecordText(name);
  item.Attachments = attachments.join(QLatin1Char('\n'));
  item.Deleted = record.Deleted != 0;
  // A locked note's text is encrypted: say so rather than show it empty.
  if (record.Locked != 0 && item.Content.isEmpty()) item.Content = context.Text("IDS_RECOVERY_NOTE_LOCKED");
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
  return AnyContains(lowerText, note.Title, note.Content, note.Date, note.Folder, note.Attachments);
}

DetailRows NoteTraits::Detail(const Item& note, const ViewContext& context) {
  DetailRows rows = {{context.Text("IDS_RECOVERY_TITLENOTEBAR_TITLE"), note.Title},
                     {context.Text("IDS_RECOVERY_NOTE_HEADER_DATE"), note.Date}};
  // Only the newer store has folders and attachments.
  if (!note.Folder.isEmpty()) rows.push_back({context.Text("IDS_RECOVERY_NOTE_FOLDER"), note.Folder});
  if (!note.Attachments.isEmpty()) rows.push_back({context.Text("IDS_RECOVERY_NOTE_ATTACHMENTS"), note.Attachments});
  rows.push_back({context.Text("IDS_RECOVERY_TITLENOTEBAR_NOTE"), note.Content});
  return rows;
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

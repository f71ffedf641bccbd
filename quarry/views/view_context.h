// What every category model and export needs from outside: the texts of the
// chosen language and the backup's stored files.
#pragma once

#include <memory>

#include "quarry/views/file_source.h"
#include "quarry/views/view_texts.h"

namespace quarry::views {

struct ViewContext {
  TextLookup texts;                         // empty: the English dictionary
  std::shared_ptr<const FileSource> files;  // null: stored files read as they are

  QString Text(const char* key) const { return ViewText(texts, QLatin1String(key)); }
  const FileSource& Files() const { return files ? *files : *PlainFileSource(); }
};

}  // namespace quarry::views

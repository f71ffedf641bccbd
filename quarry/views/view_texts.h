// Texts the views show and write, looked up by dictionary key. The program
// passes its language dictionary; without one the English texts serve.
#pragma once

#include <QString>
#include <functional>

namespace quarry::views {

using TextLookup = std::function<QString(const QString& key)>;

// The English text of a key the views use; the key itself when unknown.
QString EnglishViewText(const QString& key);

// `lookup` when it is set, EnglishViewText otherwise; an empty answer falls
// back to the English text as well.
QString ViewText(const TextLookup& lookup, const QString& key);

}  // namespace quarry::views

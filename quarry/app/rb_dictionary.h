// The program's dictionaries: the chosen language's and the English one, and the
// lookup every window text goes through.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>

#include "quarry/views/dictionary.h"

class QWidget;

namespace quarry {

// The process-wide dictionary of the chosen language.
CRBDictionary& AppDictionary();
// The English dictionary, asked for keys the chosen language lacks.
CRBDictionary& FallbackDictionary();
// The display text of key in the process-wide dictionary 1, else in the
// English one; key itself only when both lack it.
QString Translate(const QString& key);
// Replaces the text of every child widget (buttons, labels, group boxes, check
// boxes, window titles) by Translate of that text.
void TranslateWindowTree(QWidget* window);
// Loads the dictionary of the settings' language from programFolder/dic and
// the English one beside it, and sets the default locale (numbers, sizes) to
// the language loaded. A language without its dictionary gives English, and
// `tell` (when set) gets one message saying so. Returns the chosen language's result.
CRBDictionary::FolderResult LoadAppDictionary(const std::function<void(const QString&)>& tell);

}  // namespace quarry

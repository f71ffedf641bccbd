// The program's message boxes: centred on the window of `parent`, in the
// window's style, without the platform's stock pictures (which looked out of
// place beside our artwork). A warning is told apart by its text colour.
#pragma once

#include <QString>

class QWidget;

namespace quarry {

void InformUser(QWidget* parent, const QString& title, const QString& text);
void WarnUser(QWidget* parent, const QString& title, const QString& text);
// Yes or No, No the default; true for Yes.
bool AskUser(QWidget* parent, const QString& title, const QString& text);

}  // namespace quarry

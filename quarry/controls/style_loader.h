// The program's one style sheet (":/quarry/quarry.qss").
#pragma once

#include <QString>

class QApplication;

namespace quarry {

// The style sheet text; empty when the resource is missing.
QString LoadStyleSheet();
// Applies it to the application.
void ApplyStyleSheet(QApplication& app);

}  // namespace quarry

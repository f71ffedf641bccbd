// Dialogs whose word-wrapped texts arrive after they are shown: a top-level window
// does not grow with its labels by itself, so texts would be cut off.
#pragma once

class QWidget;

namespace quarry {

// Makes `window` tall enough for its layout at its current width; never shrinks it.
void FitHeightToText(QWidget* window);

}  // namespace quarry

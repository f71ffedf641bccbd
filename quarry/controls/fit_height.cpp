#include "quarry/controls/fit_height.h"

#include <QLayout>
#include <QWidget>

namespace quarry {

void FitHeightToText(QWidget* window) {
  QLayout* layout = window->layout();
  if (layout == nullptr) return;
  layout->activate();
  const int needed = layout->hasHeightForWidth() ? layout->totalHeightForWidth(window->width())
                                                 : layout->totalSizeHint().height();
  if (needed > window->height()) window->resize(window->width(), needed);
}

}  // namespace quarry

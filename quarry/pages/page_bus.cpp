#include "quarry/pages/page_bus.h"

#include <QVariant>
#include <QWidget>

namespace quarry {

namespace {
const char* const kBusProperty = "quarryPageBus";
}

PageBus::PageBus(QObject* parent) : QObject(parent) {}

PageBus* PageBus::Instance() {
  static PageBus bus;
  return &bus;
}

void PageBus::Attach(QWidget* window, PageBus* bus) {
  window->setProperty(kBusProperty, QVariant::fromValue<QObject*>(bus));
}

PageBus* PageBus::Of(const QWidget* widget) {
  for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
    if (auto* bus = qobject_cast<PageBus*>(w->property(kBusProperty).value<QObject*>())) return bus;
  }
  return Instance();
}

}  // namespace quarry

#include "quarry/pages/supported_devices.h"

#include <QGridLayout>
#include <QLabel>

#include "quarry/app/rb_dictionary.h"

namespace quarry {

QWidget* MakeSupportedDevices(QWidget* parent) {
  auto* box = new QWidget(parent);
  box->setObjectName(QStringLiteral("supportedDevices"));
  auto* grid = new QGridLayout(box);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(12);
  grid->setVerticalSpacing(3);
  auto* heading = new QLabel(Translate(QStringLiteral("IDS_HOME_SUPPORT")), box);
  heading->setObjectName(QStringLiteral("supportedHeading"));
  grid->addWidget(heading, 0, 0, 1, 2);
  const char* const rows[][2] = {{"IDS_HOME_IPHONE", "IDS_HOME_IPHONELIST"},
                                 {"IDS_HOME_IPAD", "IDS_HOME_IPADLIST"},
                                 {"IDS_HOME_IPOD", "IDS_HOME_IPODLIST"},
                                 {"IDS_HOME_IOS", "IDS_HOME_IOSLIST"}};
  int row = 1;
  for (const auto& [caption, list] : rows) {
    auto* name = new QLabel(Translate(QLatin1String(caption)), box);
    name->setObjectName(QStringLiteral("supportedCaption"));
    name->setAlignment(Qt::AlignRight | Qt::AlignTop);
    auto* items = new QLabel(Translate(QLatin1String(list)), box);
    items->setObjectName(QStringLiteral("supportedList"));
    items->setWordWrap(true);
    grid->addWidget(name, row, 0);
    grid->addWidget(items, row, 1);
    ++row;
  }
  grid->setColumnStretch(1, 1);
  return box;
}

}  // namespace quarry

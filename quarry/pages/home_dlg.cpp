#include "quarry/pages/home_dlg.h"

#include <QGridLayout>
#include <QLabel>
#include "quarry/controls/svg_picture.h"

#include "quarry/app/rb_dictionary.h"
#include "quarry/controls/image_button.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/page_ids.h"
#include "quarry/pages/supported_devices.h"

namespace quarry {

CHomeDlg::CHomeDlg(QWidget* parent) : CFunctionDlg(parent) { setObjectName(QStringLiteral("homePage")); }

int CHomeDlg::DevicePageFor(int deviceState) {
  if (deviceState == 1) return page::kDeviceConnected;
  if (deviceState == 2) return page::kTrust;
  return page::kNoDevice;
}

void CHomeDlg::InitPage() {
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(48, 28, 48, 28);
  layout->setHorizontalSpacing(40);
  layout->setVerticalSpacing(14);

  auto* heading = new QLabel(Translate(QStringLiteral("IDS_HOME_SELECT_MODE")), this);
  heading->setObjectName(QStringLiteral("pageHeading"));
  heading->setAlignment(Qt::AlignCenter);
  layout->setRowStretch(0, 1);
  layout->addWidget(heading, 1, 0, 1, 2);

  auto* art = new CSvgPicture(QStringLiteral(":/quarry/home_art.svg"), QSize(360, 120), this);
  layout->addWidget(art, 2, 0, 1, 2, Qt::AlignCenter);

  deviceButton_ = new CImageButton(QStringLiteral(":/quarry/mode_device.svg"),
                                   Translate(QStringLiteral("IDS_HOME_BUTTON_DEVICE")), QStringLiteral("home"), this);
  deviceButton_->setObjectName(QStringLiteral("homeDeviceButton"));
  fileButton_ = new CImageButton(QStringLiteral(":/quarry/mode_file.svg"),
                                 Translate(QStringLiteral("IDS_HOME_BUTTON_ITUNES")), QStringLiteral("home"), this);
  fileButton_->setObjectName(QStringLiteral("homeFileButton"));
  layout->addWidget(deviceButton_, 3, 0);
  layout->addWidget(fileButton_, 3, 1);

  auto* deviceText = new QLabel(Translate(QStringLiteral("IDS_HOME_DEVICE")), this);
  auto* fileText = new QLabel(Translate(QStringLiteral("IDS_HOME_FILE")), this);
  for (QLabel* text : {deviceText, fileText}) {
    text->setObjectName(QStringLiteral("homeDescription"));
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  }
  layout->addWidget(deviceText, 4, 0);
  layout->addWidget(fileText, 4, 1);
  layout->setRowStretch(5, 2);
  layout->addWidget(MakeSupportedDevices(this), 6, 0, 1, 2);

  // Which device page depends on the device state the window keeps.
  connect(deviceButton_, &QPushButton::clicked, this, &CHomeDlg::deviceModeChosen);
  connect(fileButton_, &QPushButton::clicked, this, [this] { emit PageBus::Of(this)->showPage(page::kBackupList); });
}

}  // namespace quarry

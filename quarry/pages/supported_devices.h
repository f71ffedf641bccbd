// The lists of supported devices under their heading, shown on the home page
// and the device pages.
#pragma once

class QWidget;

namespace quarry {

QWidget* MakeSupportedDevices(QWidget* parent);

}  // namespace quarry

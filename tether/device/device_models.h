// Names people know a device by ("iPhone 12") for the product types lockdownd reports
// ("iPhone13,2"), and the second line the device pages show under its name.
#pragma once

#include <string>

namespace tether {

// The marketing name of a common model, else the product type itself.
std::string ModelName(const std::string& productType);

// "iPhone 12, iOS 16.5": the model, then the system and its version when known
// ("iPadOS" for an iPad from version 13 on).
std::string DeviceKindText(const std::string& productType, const std::string& productVersion);

}  // namespace tether

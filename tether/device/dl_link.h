// The DeviceLink side of a mobilebackup2 connection: the device's DL messages, our
// status replies and the raw file streams between them, each with our own result
// instead of the library's codes.
#pragma once

#include <libimobiledevice/mobilebackup2.h>
#include <plist/plist.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tether {

// The DL error codes the device understands in status replies and per-file errors.
int DlErrorFromErrno(int error);

// Reading the fields of a DL message (a plist array whose item 0 is its name).
std::string DlString(plist_t message, std::uint32_t index);
// A progress percentage field; a negative number when it is missing.
double DlProgress(plist_t message, std::uint32_t index);
std::uint64_t DlUint(plist_t message, std::uint32_t index);
// The strings of an array field (missing or other items are left out).
std::vector<std::string> DlStrings(plist_t message, std::uint32_t index);
// The node at `index`, owned by the message, or nullptr.
plist_t DlItem(plist_t message, std::uint32_t index);

class DlLink {
 public:
  enum class Receive { Message, Timeout, Broken };

  explicit DlLink(mobilebackup2_client_t client) : client_(client) {}

  // The next DL message (its name in `name`; the caller frees `message`).
  Receive Next(plist_t& message, std::string& name);
  // A status reply: code 0 with an empty text is success. `extra` (consumed) is the
  // dictionary or value sent with it; nullptr sends an empty dictionary.
  bool Status(int code, const std::string& text = {}, plist_t extra = nullptr);

  // Exactly `size` bytes, or false when the connection broke.
  bool ReadExact(void* data, std::size_t size);
  bool WriteAll(const void* data, std::size_t size);
  bool ReadU32(std::uint32_t& value);
  bool WriteU32(std::uint32_t value);

 private:
  mobilebackup2_client_t client_;
};

}  // namespace tether

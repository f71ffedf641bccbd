#include "tether/device/dl_link.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>

#include "tether/plist.h"

namespace tether {

int DlErrorFromErrno(int error) {
  switch (error) {
    case ENOENT: return -6;
    case EEXIST: return -7;
    case ENOTDIR: return -8;
    case EISDIR: return -9;
    case ELOOP: return -10;
    case EIO: return -11;
    case ENOSPC: return -15;
    default: return -1;
  }
}

plist_t DlItem(plist_t message, std::uint32_t index) {
  if (message == nullptr || plist_get_node_type(message) != PLIST_ARRAY) return nullptr;
  if (index >= plist_array_get_size(message)) return nullptr;
  return plist_array_get_item(message, index);
}

std::string DlString(plist_t message, std::uint32_t index) {
  std::string result;
  PlistStringValue(DlItem(message, index), result);
  return result;
}

double DlProgress(plist_t message, std::uint32_t index) {
  plist_t node = DlItem(message, index);
  if (node == nullptr) return -1;
  if (plist_get_node_type(node) == PLIST_REAL) {
    double value = 0;
    plist_get_real_val(node, &value);
    return value;
  }
  if (plist_get_node_type(node) == PLIST_UINT) {
    std::uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return static_cast<double>(value);
  }
  return -1;
}

std::uint64_t DlUint(plist_t message, std::uint32_t index) {
  plist_t node = DlItem(message, index);
  std::uint64_t value = 0;
  if (node != nullptr && plist_get_node_type(node) == PLIST_UINT) plist_get_uint_val(node, &value);
  return value;
}

std::vector<std::string> DlStrings(plist_t message, std::uint32_t index) {
  std::vector<std::string> result;
  plist_t node = DlItem(message, index);
  if (node == nullptr || plist_get_node_type(node) != PLIST_ARRAY) return result;
  for (std::uint32_t i = 0; i < plist_array_get_size(node); ++i) {
    std::string text;
    if (PlistStringValue(plist_array_get_item(node, i), text)) result.push_back(std::move(text));
  }
  return result;
}

DlLink::Receive DlLink::Next(plist_t& message, std::string& name) {
  message = nullptr;
  name.clear();
  char* dlName = nullptr;
  const mobilebackup2_error_t result = mobilebackup2_receive_message(client_, &message, &dlName);
  if (dlName != nullptr) {
    name = dlName;
    std::free(dlName);
  }
  if (result == MOBILEBACKUP2_E_RECEIVE_TIMEOUT) return Receive::Timeout;
  if (result != MOBILEBACKUP2_E_SUCCESS || message == nullptr) {
    if (message != nullptr) plist_free(message);
    message = nullptr;
    return Receive::Broken;
  }
  return Receive::Message;
}

bool DlLink::Status(int code, const std::string& text, plist_t extra) {
  if (extra == nullptr) extra = plist_new_dict();
  const mobilebackup2_error_t result =
      mobilebackup2_send_status_response(client_, code, text.empty() ? nullptr : text.c_str(), extra);
  plist_free(extra);
  return result == MOBILEBACKUP2_E_SUCCESS;
}

bool DlLink::ReadExact(void* data, std::size_t size) {
  char* at = static_cast<char*>(data);
  // A few empty reads in a row mean the other side is gone.
  int idle = 0;
  while (size > 0) {
    std::uint32_t got = 0;
    const std::uint32_t want = size > (1u << 30) ? (1u << 30) : static_cast<std::uint32_t>(size);
    if (mobilebackup2_receive_raw(client_, at, want, &got) != MOBILEBACKUP2_E_SUCCESS) return false;
    if (got == 0) {
      if (++idle > 3) return false;
      continue;
    }
    idle = 0;
    at += got;
    size -= got;
  }
  return true;
}

bool DlLink::WriteAll(const void* data, std::size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    std::uint32_t sent = 0;
    const std::uint32_t want = size > (1u << 30) ? (1u << 30) : static_cast<std::uint32_t>(size);
    if (mobilebackup2_send_raw(client_, at, want, &sent) != MOBILEBACKUP2_E_SUCCESS || sent == 0) return false;
    at += sent;
    size -= sent;
  }
  return true;
}

bool DlLink::ReadU32(std::uint32_t& value) {
  std::uint32_t wire = 0;
  if (!ReadExact(&wire, sizeof wire)) return false;
  value = ntohl(wire);
  return true;
}

bool DlLink::WriteU32(std::uint32_t value) {
  const std::uint32_t wire = htonl(value);
  return WriteAll(&wire, sizeof wire);
}

}  // namespace tether

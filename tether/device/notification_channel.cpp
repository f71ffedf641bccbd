#include "tether/device/notification_channel.h"

#include <plist/plist.h>

#include <chrono>
#include <cstdlib>

#include "tether/plist.h"

namespace tether {

namespace {

// Short, so that a post waits little for the listener to let go of the connection.
constexpr unsigned kReceiveMs = 25;
// A connection that fails this often in a row at once is gone.
constexpr int kMaxFailures = 20;

std::string StringItem(plist_t dict, const char* key) {
  std::string result;
  PlistStringValue(plist_dict_get_item(dict, key), result);
  return result;
}

}  // namespace

NotificationChannel::NotificationChannel(property_list_service_client_t client, Listener listener)
    : client_(client), listener_(std::move(listener)), thread_(&NotificationChannel::Listen, this) {}

NotificationChannel::~NotificationChannel() {
  stop_ = true;
  thread_.join();
  Send("Shutdown", nullptr);
  property_list_service_client_free(client_);
}

bool NotificationChannel::Send(const char* command, const char* name) {
  plist_t message = plist_new_dict();
  plist_dict_set_item(message, "Command", plist_new_string(command));
  if (name != nullptr) plist_dict_set_item(message, "Name", plist_new_string(name));
  ++senders_;
  const std::lock_guard<std::mutex> lock(mutex_);
  --senders_;
  const bool sent = property_list_service_send_xml_plist(client_, message) == PROPERTY_LIST_SERVICE_E_SUCCESS;
  plist_free(message);
  return sent;
}

void NotificationChannel::Listen() {
  int failures = 0;
  while (!stop_ && failures < kMaxFailures) {
    while (senders_ > 0 && !stop_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    plist_t message = nullptr;
    const auto started = std::chrono::steady_clock::now();
    property_list_service_error_t result;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      result = property_list_service_receive_plist_with_timeout(client_, &message, kReceiveMs);
    }
    if (result == PROPERTY_LIST_SERVICE_E_SUCCESS && message != nullptr) {
      failures = 0;
      const bool relayed = plist_get_node_type(message) == PLIST_DICT &&
                           StringItem(message, "Command") == "RelayNotification";
      const std::string name = relayed ? StringItem(message, "Name") : std::string();
      plist_free(message);
      if (!name.empty() && listener_) listener_(name);
      continue;
    }
    if (message != nullptr) plist_free(message);
    // A quiet connection waits out the timeout; a broken one fails at once.
    const bool fast = std::chrono::steady_clock::now() - started < std::chrono::milliseconds(kReceiveMs / 2);
    failures = result != PROPERTY_LIST_SERVICE_E_RECEIVE_TIMEOUT && fast ? failures + 1 : 0;
    if (fast) std::this_thread::sleep_for(std::chrono::milliseconds(kReceiveMs));
  }
}

}  // namespace tether

// The device's notification proxy, spoken directly over its property-list service:
// the device's notifications reach us within a fraction of a second (the library's
// own callback thread in 1.3.0 looks only once a second and a half), and posting
// needs no thread of the library's.
#pragma once

#include <libimobiledevice/property_list_service.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tether {

class NotificationChannel {
 public:
  using Listener = std::function<void(const std::string&)>;

  // Takes over `client` and listens on a thread of its own; `listener` runs there.
  NotificationChannel(property_list_service_client_t client, Listener listener);
  // Says goodbye to the proxy and ends the thread.
  ~NotificationChannel();
  NotificationChannel(const NotificationChannel&) = delete;
  NotificationChannel& operator=(const NotificationChannel&) = delete;

  bool Observe(const std::string& name) { return Send("ObserveNotification", name.c_str()); }
  bool Post(const std::string& name) { return Send("PostNotification", name.c_str()); }

 private:
  bool Send(const char* command, const char* name);
  void Listen();

  property_list_service_client_t client_;
  Listener listener_;
  std::mutex mutex_;  // one request or receive on the connection at a time
  std::atomic<int> senders_{0};  // the listener steps aside while one waits
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace tether

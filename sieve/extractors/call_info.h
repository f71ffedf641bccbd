// The phone and FaceTime call log: live calls read through SQLite from "call_history.db"
// (systems before 8) or "CallHistory.storedata" (8 and later), plus the deleted calls the
// page engine recovers from the same file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sieve/extractors/database_info.h"
#include "sieve/records.h"

namespace sieve {

// A call's length as "h:mm:ss" ("0:01:05", "2:00:00"), whole seconds; "0:00:00" for
// anything that is not a positive length.
std::string CallDurationText(double seconds);

// How a call went, for showing beside its direction: "FaceTime Video", "FaceTime Audio", the
// name of the app that placed it (the last part of its bundle id), or "" for a phone call and
// for layouts that do not say.
std::string CallServiceName(const CallRecord& call);

class CCallInfo : public CDatabaseInfo {
 public:
  int read(std::string backupFolder) override;

  std::size_t RecordCount(_InfoType type) const override;
  void* RecordAt(_InfoType type, std::size_t index) override;

  // A contact's name replaces the call's own name; without a match the call keeps it.
  void FillContactNames(const ContactNameLookup& lookup) override;

 private:
  int ReadLive(const std::string& path, bool immutable, bool store);
  void AddRecovered(const std::string& path, bool store);

  std::vector<std::unique_ptr<CallRecord>> calls_;
};

}  // namespace sieve

// Voicemail: the rows of "voicemail.db". They are read with every scan but no record kind
// carries them to the program yet.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sieve/extractors/database_info.h"
#include "sieve/records.h"

namespace sieve {

class CVoiceMailInfo : public CDatabaseInfo {
 public:
  ~CVoiceMailInfo() override;

  int read(std::string backupFolder) override;

  const std::vector<std::unique_ptr<VoicemailRecord>>& Records() const { return records_; }

 private:
  std::vector<std::unique_ptr<VoicemailRecord>> records_;
};

}  // namespace sieve

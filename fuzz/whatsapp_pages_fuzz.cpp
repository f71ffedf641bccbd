// Feeds arbitrary bytes to the WhatsApp message engine as a ChatStorage.sqlite file: the
// shape taken from the file's own ZWAMESSAGE columns, the carving, and the live-row
// comparisons that drop copies of live messages.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sieve/extractors/whatsapp_undelete.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sieve::CWhatAppUndelete engine;
  engine.LoadBytes(std::vector<std::uint8_t>(data, data + size));
  std::size_t sink = 0;
  if (engine.scan() > 0) {
    for (const auto& message : engine.Messages()) sink += message.chatJid.size() + message.text.size();
  }
  return sink == static_cast<std::size_t>(-1) ? 1 : 0;
}

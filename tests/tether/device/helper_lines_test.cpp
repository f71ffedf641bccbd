// The helper's lines as the supervisor reads them: what the helper writes comes back
// whole, and nothing else can pass for progress, an error or the end.
#include <gtest/gtest.h>

#include "tether/device/helper_lines.h"

namespace tether {
namespace {

TEST(HelperLines, WhatTheHelperWritesIsReadBackAndNothingElse) {
  HelperEvent error;
  error.type = HelperEvent::Type::Error;
  error.error = {DeviceErrorKind::DeviceReported, 208, "Device locked \"quoted\"\n\\ (MBErrorDomain/208) ✓"};
  const auto back = ParseHelperLine(FormatHelperLine(error));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->type, HelperEvent::Type::Error);
  EXPECT_EQ(back->error.kind, DeviceErrorKind::DeviceReported);
  EXPECT_EQ(ErrorNumber(back->error), 208);
  EXPECT_EQ(back->error.text, error.error.text);
  HelperEvent done;
  done.type = HelperEvent::Type::Done;
  done.text = "/tmp/a \"b\"/00008030-001A2B3C4D5E6F70";
  EXPECT_EQ(ParseHelperLine(FormatHelperLine(done))->text, done.text);
  HelperEvent diskFull = error;
  diskFull.error = {DeviceErrorKind::DiskFull, 0, "full"};
  EXPECT_EQ(ErrorNumber(ParseHelperLine(FormatHelperLine(diskFull))->error), -105);

  const char* refused[] = {
      "", "progress 50", "{\"progress\": 101}", "{\"progress\": -1}", "{\"progress\": nan}",
      "{\"progress\": 5} trailing", "{\"done\": 1}", "{\"done\": \"unterminated}", "{\"passcode\": maybe}",
      "{\"error\": \"text\"}", "{\"unknown\": 1}", "libusb: warning", "{\"error\": {\"code\": }}",
  };
  for (const char* line : refused) EXPECT_FALSE(ParseHelperLine(line)) << line;
  // An error line is a failure even when its kind is one we do not know.
  const auto odd = ParseHelperLine(R"({"error": {"kind": "none", "code": 0, "text": "x"}})");
  ASSERT_TRUE(odd);
  EXPECT_NE(ErrorNumber(odd->error), 0);
}

}  // namespace
}  // namespace tether

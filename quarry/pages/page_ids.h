// Numeric ids of the main window's pages and of the results page's views.
#pragma once

namespace quarry::page {

inline constexpr int kHome = 100007;
inline constexpr int kBackupList = 100009;
inline constexpr int kNoDevice = 100018;
inline constexpr int kDeviceConnected = 100019;
inline constexpr int kConnecting = 100020;
inline constexpr int kTrust = 110021;
inline constexpr int kDeviceBackup = 100024;
inline constexpr int kRecoveryMode = 110022;
inline constexpr int kRecoveryModeExit = 110023;
inline constexpr int kResults = 100031;
// The category views inside the results page.
inline constexpr int kFirstCategoryView = 100057;
inline constexpr int kLastCategoryView = 100075;

// Values of PageBus::scanState.
inline constexpr int kScanStarted = 0;
inline constexpr int kScanEnded = 1;

}  // namespace quarry::page

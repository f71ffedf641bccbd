// The recovery without a window: scans one backup and writes the checked
// items of the chosen categories, as the window's Recover does, printing
// progress to standard error.
//
//   quarry --recover BACKUP --out DIR [--categories LIST] [--deleted-only]
//          [--password-file FILE | --key-file FILE] [--utc]
#pragma once

#include <QStringList>
#include <string>

namespace quarry::app {

enum HeadlessExit : int {
  kHeadlessOk = 0,
  kHeadlessFailure = 1,
  kHeadlessUsage = 2,
  kHeadlessWrongPassword = 3,  // or a wrong key
  kHeadlessNotABackup = 4,  // missing folder, or a folder that is not a backup
};

// The usage of the headless form ("quarry --recover ...") with the category
// names it takes; Qt-free so that --help works without a display.
std::string HeadlessUsage();

// True when the arguments (without the program name) ask for the headless form.
bool IsHeadlessRequest(const QStringList& arguments);

// Runs the headless recovery; returns the exit status. The recovery folder's
// path goes to standard output, everything else to standard error.
int RunHeadlessRecovery(const QStringList& arguments);

}  // namespace quarry::app

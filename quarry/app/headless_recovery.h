// The recovery without a window: scans one backup and writes the checked
// items of the chosen categories, as the window's Recover does, printing
// progress to standard error.
//
//   quarry --recover BACKUP --out DIR [--categories LIST] [--deleted-only]
//          [--password-file FILE | --key-file FILE] [--utc]
#pragma once

#include <QStringList>
#include <string>

#include "sieve/run_outcome.h"

namespace quarry::app {

// The exit statuses of `sieve`: both programs tell a user the same thing with the same code.
enum HeadlessExit : int {
  kHeadlessOk = sieve::kExitOk,
  kHeadlessFailure = sieve::kExitFailure,
  kHeadlessUsage = sieve::kExitUsage,
  kHeadlessWrongPassword = sieve::kExitWrongPassword,  // or a wrong key
  kHeadlessNotABackup = sieve::kExitNotABackup,        // missing folder, or a folder that is not a backup
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

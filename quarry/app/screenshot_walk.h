// The hidden "--screenshot-walk DIR" of tools/screenshots: walks the window
// through home, backup list, scan results, contacts, the recovery dialog, the
// options, help and about dialogs and a maximised window, and saves a PNG of
// each; when the list also holds an encrypted backup and one without an index,
// also the password prompt (and while it checks), and a scan that failed; then
// the recovery-mode pages, the repair dialog and the device diagnostics.
#pragma once

#include <QString>

namespace quarry {

class CSalvageDlg;

// Starts the walk on the running event loop; the program quits when it ends.
// The backup list shows AppSettings().BackupsFolder().
void StartScreenshotWalk(CSalvageDlg* window, const QString& folder);

}  // namespace quarry

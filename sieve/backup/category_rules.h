// Which category extractor wants an index entry, and as what: one of its databases,
// or a file of one of its groups.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sieve/backup/manifest_mbdb.h"

namespace sieve {

enum class ExtractorSlot {
  Calendar,
  CallHistory,
  Contacts,
  CameraRoll,
  VoiceMemos,
  Notes,
  Messages,
  AppDocuments,
  AppVideos,
  AppPictures,
  Safari,
  PhotoStream,
  Voicemail,
  Reminders,
  WhatsApp,
  Music,
};
constexpr int kExtractorSlotCount = 16;

enum class RuleAction { MainDatabase, SecondDatabase, File, Thumbnail };

struct RuleMatch {
  ExtractorSlot slot;
  RuleAction action;
  std::string group;  // the file's group: "Camera Roll", "PhotoStream", "Music", an app's name, or ""
  std::string name;   // the file's name as the category lists it
};

// Appends every match of one entry, in the order the rule groups are tried: application
// files, photo stream, Safari, voicemail, notes, messages, call history, camera roll,
// voice memos, WhatsApp, contacts, music, calendar and reminders. storedFileExists is
// consulted by the application-files group only. Folders match nothing.
void MatchCategoryRules(const CManifestRecord& entry, bool storedFileExists, std::vector<RuleMatch>& out);

// By the text after the path's last ".", compared without regard to case.
bool IsPicturePath(std::string_view path);
bool IsVideoPath(std::string_view path);
bool IsDocumentPath(std::string_view path);

}  // namespace sieve

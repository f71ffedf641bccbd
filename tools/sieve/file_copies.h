// The files that scan records point at (pictures, attachments, recordings,
// media). Their paths are no use as they are: pictures and decrypted
// recordings sit in the reader's private folder, removed when sieve ends, and
// the stored files of an encrypted backup are ciphertext. With --files-to DIR
// each such file is copied, decrypted, into DIR and the record names the copy.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>

#include "sieve/file_key.h"
#include "sieve/itunes_backup_reader.h"
#include "tools/sieve/json_writer.h"

namespace sieve::cli {

class FileCopies {
 public:
  // `folder` "" makes no copies.
  FileCopies(CItunesBackupReader& reader, int index, std::string folder);

  // Creates the folder (mode 0700) when it is not there; throws CommandError.
  void Prepare() const;

  // Writes the members for the file at `path` into the open object: `name` with
  // the path of a copy in the folder when one could be made, and "stored_path"
  // for the stored file of a plain backup, which is the file itself. Paths of
  // the private folder, ciphertext and device paths of files the backup does
  // not hold give neither. `hint` names the copy (the record's file name; the
  // path's last part when empty).
  // `storedName` keys the stored file's path; "" leaves it out (a record's second file).
  void Write(JsonWriter& json, std::string_view name, const std::string& path, const OptionalFileKey& key,
             std::string_view hint = {}, std::string_view storedName = "stored_path");

  std::size_t Made() const { return made_.size(); }
  std::size_t Failed() const { return failed_; }

 private:
  std::string Copy(const std::string& path, const OptionalFileKey& key, std::string_view hint);
  // Links the complete file at `temporary` into the folder under a new name after
  // `hint`, unique: "name", "name-2.ext"...; "" with `error` (errno) when it cannot.
  std::string PlaceUnder(const std::string& temporary, std::string_view hint, int& error);

  CItunesBackupReader& reader_;
  int index_;
  std::string folder_;
  std::string backupFolder_;
  bool encrypted_;
  std::map<std::string, std::string> made_;  // source path -> its copy
  std::set<std::string> failedSources_;
  std::size_t failed_ = 0;
};

// `hint` made into a file name that is safe in any folder: no "/", no control
// characters, no leading dot, at most 200 bytes; "file" when nothing is left.
std::string SafeCopyName(std::string_view hint);

}  // namespace sieve::cli

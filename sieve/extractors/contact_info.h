// The address book: live people with their phone numbers, e-mails, web pages and pictures,
// and deleted people recovered from the free space of the file. Answers the name lookups
// of messages and calls.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/extractors/database_info.h"
#include "sieve/records.h"

namespace sieve {

namespace sqlite {
class Database;
}
class CContactSqlite;
struct RecoveredPerson;

class CContactInfo : public CDatabaseInfo {
 public:
  CContactInfo();
  ~CContactInfo() override;

  // 0, or the SQLite code of a failed open of the address book (the list stays as it was).
  int read(std::string backupFolder) override;

  std::size_t RecordCount(_InfoType type) const override;
  void* RecordAt(_InfoType type, std::size_t index) override;

  // The first contact, in list order, with this phone number (compared by its digits) or
  // e-mail address (compared whole, without regard to case); "" when none. The name is
  // First, Middle and Last joined as people write them (sieve/person_name.h).
  std::string FindContactName(std::string_view address) const override;

  const std::vector<std::unique_ptr<ContactRecord>>& Records() const { return records_; }

 private:
  // What a contact is found by: its phone numbers (digits) and e-mail addresses (lower case).
  struct LookupKeys {
    std::vector<std::string> phones;
    std::vector<std::string> emails;
  };
  struct Entry;

  void ReadLivePeople(sqlite::Database& book, sqlite::Database* images, std::vector<Entry>& out);
  void RecoverPeople(const std::string& path, std::vector<Entry>& out) const;
  std::string WritePicture(sqlite::Database& images, std::int64_t rowid);
  std::string LabelText(std::int64_t label) const;

  std::vector<std::unique_ptr<ContactRecord>> records_;
  std::vector<LookupKeys> keys_;  // parallel to records_
  std::vector<std::pair<std::int64_t, std::string>> labels_;  // ABMultiValueLabel rowid -> text
  int pictureCounter_ = 0;
};

}  // namespace sieve

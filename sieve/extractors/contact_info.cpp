#include "sieve/extractors/contact_info.h"

#include <sqlite3.h>

#include <fstream>
#include <map>
#include <set>
#include <utility>

#include "sieve/extractors/contact_fields.h"
#include "sieve/extractors/contact_sqlite.h"
#include "sieve/person_name.h"
#include "sieve/private_folder.h"
#include "sieve/reader/time_text.h"
#include "sieve/sqlite/database.h"

namespace sieve {

struct CContactInfo::Entry {
  std::unique_ptr<ContactRecord> record;
  LookupKeys keys;
};

namespace {

// Picture tables of the images database, the full-size picture first.
constexpr const char* kPictureQueries[] = {
    "SELECT data FROM ABFullSizeImage WHERE record_id = ?1 ORDER BY ROWID LIMIT 1",
    "SELECT data FROM ABThumbnailImage WHERE record_id = ?1 ORDER BY ROWID LIMIT 1",
};

const char* PictureExtension(const std::vector<std::uint8_t>& data) {
  if (data.size() >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return ".jpg";
  return ".png";
}

void AddKey(std::int64_t property, const std::string& value, std::vector<std::string>& phones,
            std::vector<std::string>& emails) {
  if (property == kPropertyPhone) {
    if (std::string key = PhoneKey(value); !key.empty()) phones.push_back(std::move(key));
  } else if (property == kPropertyEmail) {
    if (std::string key = EmailKey(value); !key.empty()) emails.push_back(std::move(key));
  }
}

void CopyNames(const PersonTexts& texts, ContactRecord& record) {
  record.First = texts[kFirst];
  record.Last = texts[kLast];
  record.Middle = texts[kMiddle];
  record.Organization = texts[kOrganization];
  record.Department = texts[kDepartment];
  record.Note = texts[kNote];
  record.Birthday = BirthdayText(texts[kBirthday]);
  record.JobTitle = texts[kJobTitle];
  record.Prefix = texts[kPrefix];
  record.Suffix = texts[kSuffix];
}

// What names a live person, for their deleted values: not their note, birthday or picture.
void CopyOwner(const ContactRecord& owner, ContactRecord& record) {
  record.First = owner.First;
  record.Last = owner.Last;
  record.Middle = owner.Middle;
  record.Organization = owner.Organization;
  record.Department = owner.Department;
  record.JobTitle = owner.JobTitle;
  record.Prefix = owner.Prefix;
  record.Suffix = owner.Suffix;
  record.Nickname = owner.Nickname;
}

// Columns of ABPerson that older or trimmed tables may lack; NULL stands in for them.
std::string PersonQuery(sqlite::Database& book) {
  std::string sql = "SELECT ROWID, First, Last, Middle, Organization, Department, Note, Birthday, JobTitle, Prefix, Suffix";
  for (const char* column : {"Nickname", "CreationDate", "ModificationDate"}) {
    sql += ", ";
    sql += book.HasColumn("ABPerson", column) ? column : "NULL";
  }
  return sql + " FROM ABPerson ORDER BY ROWID";
}

std::string TextOf(const std::vector<std::pair<std::int64_t, std::string>>& table, std::int64_t rowid) {
  for (const auto& [id, text] : table) {
    if (id == rowid) return text;
  }
  return {};
}

std::vector<std::pair<std::int64_t, std::string>> RowidTexts(sqlite::Database& book, const char* table) {
  std::vector<std::pair<std::int64_t, std::string>> rows;
  if (sqlite::Statement query = book.Prepare(std::string("SELECT ROWID, value FROM ") + table); query.Ok()) {
    while (query.Step()) rows.emplace_back(query.Int64(0), query.Text(1));
  }
  return rows;
}

}  // namespace

CContactInfo::CContactInfo() = default;
CContactInfo::~CContactInfo() = default;

std::string CContactInfo::LabelText(std::int64_t label) const { return TextOf(labels_, label); }

std::string CContactInfo::WritePicture(sqlite::Database& images, std::int64_t rowid) {
  if (context_ == nullptr || context_->privateFolder == nullptr) return {};
  for (const char* query : kPictureQueries) {
    sqlite::Statement statement = images.Prepare(query);
    if (!statement.Ok()) continue;
    statement.Bind(1, rowid);
    if (!statement.Step()) continue;
    const std::vector<std::uint8_t> data = statement.Blob(0);
    if (data.empty()) continue;
    const std::string path = context_->privateFolder->NewFilePath("outaddrimage" + std::to_string(pictureCounter_) +
                                                                  PictureExtension(data));
    if (path.empty()) return {};
    ++pictureCounter_;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return out ? path : std::string{};
  }
  return {};
}

void CContactInfo::ReadLivePeople(sqlite::Database& book, sqlite::Database* images, std::vector<Entry>& out) {
  labels_ = RowidTexts(book, "ABMultiValueLabel");
  const auto entryKeys = RowidTexts(book, "ABMultiValueEntryKey");
  sqlite::Statement people = book.Prepare(PersonQuery(book));
  if (!people.Ok()) return;
  sqlite::Statement values =
      book.Prepare("SELECT UID, property, label, value FROM ABMultiValue WHERE record_id = ?1 ORDER BY UID");
  // A street address keeps its parts (street, city, ...) in entries of its own.
  sqlite::Statement parts =
      book.Prepare("SELECT key, value FROM ABMultiValueEntry WHERE parent_id = ?1 ORDER BY key");
  while (people.Step()) {
    Entry entry;
    entry.record = std::make_unique<ContactRecord>();
    ContactRecord& r = *entry.record;
    const std::int64_t rowid = people.Int64(0);
    r.RowID = static_cast<std::int32_t>(rowid);
    PersonTexts texts;
    for (std::size_t i = 0; i < kPersonTextCount; ++i) texts[i] = people.Text(static_cast<int>(i) + 1);
    CopyNames(texts, r);
    r.Nickname = people.Text(11);
    r.CreationDate = MacTimeTextFromDouble(people.Double(12));
    r.ModificationDate = MacTimeTextFromDouble(people.Double(13));
    if (images != nullptr) r.ImagePath = WritePicture(*images, rowid);
    if (values.Ok()) {
      values.Reset();
      values.Bind(1, rowid);
      while (values.Step()) {
        ContactValue v;
        v.Property = static_cast<std::int32_t>(values.Int64(1));
        v.Label = values.IsNull(2) ? std::string() : LabelText(values.Int64(2));
        v.Value = values.Text(3);
        // Others keeps an address's parts in the order of their key rows, as it always had.
        std::string listed = v.Value;
        if (v.Value.empty() && v.Property == kPropertyAddress && parts.Ok()) {
          parts.Reset();
          parts.Bind(1, values.Int64(0));
          while (parts.Step()) {
            std::string part = parts.Text(1);
            if (part.empty()) continue;
            if (!listed.empty()) listed += ", ";
            listed += part;
            v.Parts.emplace_back(TextOf(entryKeys, parts.Int64(0)), std::move(part));
          }
          OrderAddressParts(v.Parts);
          v.Value = JoinAddressParts(v.Parts);
        }
        if (v.Value.empty()) continue;
        PlaceMultiValue(r, v.Property, ClassifyLabel(v.Label), listed);
        AddKey(v.Property, v.Value, entry.keys.phones, entry.keys.emails);
        r.Values.push_back(std::move(v));
      }
    }
    out.push_back(std::move(entry));
  }
}

void CContactInfo::RecoverPeople(const std::string& path, std::vector<Entry>& out) const {
  CContactSqlite engine;
  if (engine.Load(path) != 0 || engine.Recover() < 0) return;
  // Every value a live contact shows, so a deleted copy of it is not reported again.
  std::set<std::string> liveValues;
  std::map<std::int64_t, const ContactRecord*> liveByRowid;
  for (const Entry& entry : out) {
    const ContactRecord& r = *entry.record;
    for (const ContactValue& v : r.Values) liveValues.insert(v.Value);
    liveValues.insert(r.Others.begin(), r.Others.end());
    liveByRowid.emplace(r.RowID, &r);
  }
  for (const RecoveredPerson& person : engine.People()) {
    Entry entry;
    entry.record = std::make_unique<ContactRecord>();
    ContactRecord& r = *entry.record;
    r.Deleted = 1;
    if (person.found) {
      CopyNames(person.texts, r);
      r.Nickname = person.nickname;
      r.CreationDate = MacTimeTextFromDouble(person.creationDate);
      r.ModificationDate = MacTimeTextFromDouble(person.modificationDate);
    } else if (const auto owner = liveByRowid.find(person.rowid); owner != liveByRowid.end()) {
      // Deleted values of a live person are still that person's.
      CopyOwner(*owner->second, r);
    } else {
      r.Unowned = 1;
    }
    std::size_t ownValues = 0;
    for (const RecoveredMultiValue& v : person.values) {
      const bool shownLive = liveValues.count(v.value) != 0;
      if (!shownLive) ++ownValues;
      // A person not found is only their values: one a live contact shows is an older copy.
      if (shownLive && !person.found) continue;
      ContactValue value;
      value.Property = static_cast<std::int32_t>(v.property);
      value.Label = v.label < 0 ? std::string() : LabelText(v.label);
      value.Value = v.value;
      PlaceMultiValue(r, v.property, ClassifyLabel(value.Label), v.value);
      AddKey(v.property, v.value, entry.keys.phones, entry.keys.emails);
      r.Values.push_back(std::move(value));
    }
    // Every value still on a live contact: an earlier copy of that contact.
    if (!person.values.empty() && ownValues == 0) continue;
    out.push_back(std::move(entry));
  }
}

int CContactInfo::read(std::string /*backupFolder*/) {
  const OpenableDatabase bookFile = PrepareDatabase(MainDatabase, "AddressBook.sqlitedb");
  if (!bookFile.ok) return SQLITE_CANTOPEN;
  sqlite::Database book;
  if (const int rc = book.Open(bookFile.path, bookFile.immutable); rc != SQLITE_OK) return rc;
  // Without its pictures the address book is still worth reading.
  sqlite::Database images;
  if (SecondDatabase.IsSet()) {
    const OpenableDatabase imagesFile = PrepareDatabase(SecondDatabase, "AddressBookImages.sqlitedb");
    if (!imagesFile.ok || images.Open(imagesFile.path, imagesFile.immutable) != SQLITE_OK) images.Close();
  }
  pictureCounter_ = 0;
  std::vector<Entry> entries;
  ReadLivePeople(book, images.IsOpen() ? &images : nullptr, entries);
  book.Close();
  images.Close();
  RecoverPeople(bookFile.path, entries);

  records_.clear();
  keys_.clear();
  for (Entry& entry : entries) {
    records_.push_back(std::move(entry.record));
    keys_.push_back(std::move(entry.keys));
  }
  return 0;
}

std::size_t CContactInfo::RecordCount(_InfoType type) const { return type == INFO_CONTACT ? records_.size() : 0; }

void* CContactInfo::RecordAt(_InfoType type, std::size_t index) {
  if (index >= RecordCount(type)) return nullptr;
  return records_[index].get();
}

std::string CContactInfo::FindContactName(std::string_view address) const {
  const std::string email = EmailKey(address);
  const std::string phone = email.empty() ? PhoneKey(address) : std::string{};
  if (email.empty() && phone.empty()) return {};
  for (std::size_t i = 0; i < records_.size(); ++i) {
    bool match = false;
    if (!email.empty()) {
      for (const std::string& key : keys_[i].emails) match = match || key == email;
    } else {
      for (const std::string& key : keys_[i].phones) match = match || SamePhone(key, phone);
    }
    if (!match) continue;
    const ContactRecord& r = *records_[i];
    std::string name = JoinPersonName({r.First, r.Middle, r.Last});
    // A company's card has no personal name; its organization names it.
    if (name.empty()) name = r.Organization;
    if (!name.empty()) return name;
  }
  return {};
}

}  // namespace sieve

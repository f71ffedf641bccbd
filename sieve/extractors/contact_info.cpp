#include "sieve/extractors/contact_info.h"

#include <sqlite3.h>

#include <fstream>
#include <set>
#include <utility>

#include "sieve/extractors/contact_fields.h"
#include "sieve/extractors/contact_sqlite.h"
#include "sieve/reader/private_folder.h"
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

}  // namespace

CContactInfo::CContactInfo() = default;
CContactInfo::~CContactInfo() = default;

std::string CContactInfo::LabelText(std::int64_t label) const {
  for (const auto& [rowid, text] : labels_) {
    if (rowid == label) return text;
  }
  return {};
}

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
  labels_.clear();
  if (sqlite::Statement labels = book.Prepare("SELECT ROWID, value FROM ABMultiValueLabel"); labels.Ok()) {
    while (labels.Step()) labels_.emplace_back(labels.Int64(0), labels.Text(1));
  }
  sqlite::Statement people = book.Prepare(
      "SELECT ROWID, First, Last, Middle, Organization, Department, Note, Birthday, JobTitle, Prefix, Suffix "
      "FROM ABPerson ORDER BY ROWID");
  if (!people.Ok()) return;
  sqlite::Statement values =
      book.Prepare("SELECT UID, property, label, value FROM ABMultiValue WHERE record_id = ?1 ORDER BY UID");
  // A street address keeps its parts (street, city, ...) in entries of its own.
  sqlite::Statement parts = book.Prepare("SELECT value FROM ABMultiValueEntry WHERE parent_id = ?1 ORDER BY key");
  while (people.Step()) {
    Entry entry;
    entry.record = std::make_unique<ContactRecord>();
    ContactRecord& r = *entry.record;
    const std::int64_t rowid = people.Int64(0);
    r.RowID = static_cast<std::int32_t>(rowid);
    PersonTexts texts;
    for (std::size_t i = 0; i < kPersonTextCount; ++i) texts[i] = people.Text(static_cast<int>(i) + 1);
    CopyNames(texts, r);
    if (images != nullptr) r.ImagePath = WritePicture(*images, rowid);
    if (values.Ok()) {
      values.Reset();
      values.Bind(1, rowid);
      while (values.Step()) {
        const std::int64_t property = values.Int64(1);
        std::string value = values.Text(3);
        if (value.empty() && property == kPropertyAddress && parts.Ok()) {
          parts.Reset();
          parts.Bind(1, values.Int64(0));
          while (parts.Step()) {
            const std::string part = parts.Text(0);
            if (part.empty()) continue;
            if (!value.empty()) value += ", ";
            value += part;
          }
        }
        if (value.empty()) continue;
        const LabelKind label = values.IsNull(2) ? LabelKind::Other : ClassifyLabel(LabelText(values.Int64(2)));
        PlaceMultiValue(r, property, label, value);
        AddKey(property, value, entry.keys.phones, entry.keys.emails);
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
  for (const Entry& entry : out) {
    const ContactRecord& r = *entry.record;
    for (const std::string* field : {&r.HomePhone, &r.WorkPhone, &r.Phone, &r.HomeEmail, &r.WorkEmail, &r.HomePage}) {
      if (!field->empty()) liveValues.insert(*field);
    }
    liveValues.insert(r.Others.begin(), r.Others.end());
  }
  for (const RecoveredPerson& person : engine.People()) {
    Entry entry;
    entry.record = std::make_unique<ContactRecord>();
    ContactRecord& r = *entry.record;
    r.Deleted = 1;
    if (person.found) CopyNames(person.texts, r);
    std::size_t ownValues = 0;
    for (const RecoveredMultiValue& v : person.values) {
      const bool shownLive = liveValues.count(v.value) != 0;
      if (!shownLive) ++ownValues;
      // A person not found is only their values: one a live contact shows is an older copy.
      if (shownLive && !person.found) continue;
      PlaceMultiValue(r, v.property, v.label < 0 ? LabelKind::Other : ClassifyLabel(LabelText(v.label)), v.value);
      AddKey(v.property, v.value, entry.keys.phones, entry.keys.emails);
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
    std::string name = r.First + r.Middle + r.Last;
    // A company's card has no personal name; its organization names it.
    if (name.empty()) name = r.Organization;
    if (!name.empty()) return name;
  }
  return {};
}

int CContactInfo::dump(std::string path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return 1;
  for (const auto& record : records_) {
    const ContactRecord& r = *record;
    out << "RowID=" << r.RowID << '\n' << (r.Deleted != 0 ? "DEL=1" : "DEL=0") << '\n';
    const std::pair<const char*, const std::string*> fields[] = {
        {"firstName=", &r.First},         {"LastName=", &r.Last},           {"MiddleName=", &r.Middle},
        {"Birthday=", &r.Birthday},       {"Note=", &r.Note},               {"JobTitle=", &r.JobTitle},
        {"Organization=", &r.Organization}, {"Department=", &r.Department}, {"Suffix=", &r.Suffix},
        {"Prefix=", &r.Prefix},           {"home_phoneNumber=", &r.HomePhone}, {"work_phoneNumber=", &r.WorkPhone},
        {"phoneNumber=", &r.Phone},       {"home_Email=", &r.HomeEmail},    {"work_Email=", &r.WorkEmail},
        {"HomePage=", &r.HomePage},       {"addr=", &r.Address}};
    for (const auto& [key, value] : fields) out << key << *value << '\n';
    for (const std::string& other : r.Others) out << "other Phone Number=" << other << '\n';
    out << '\n';
  }
  return out ? 0 : 1;
}

}  // namespace sieve

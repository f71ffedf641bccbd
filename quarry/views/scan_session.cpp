#include "quarry/views/scan_session.h"

#include "quarry/views/contacts_model.h"

namespace quarry::views {

ScanSession::ScanSession(sieve::CItunesBackupReader& reader, int index) : reader_(reader), index_(index) {}

ScanSession::~ScanSession() { reader_.SetCallBack(nullptr, nullptr); }

int ScanSession::Run() {
  running_ = true;
  for (auto& count : found_) count = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    pendingContacts_.clear();
  }
  // Flags of an earlier scan must not stop or hold this one.
  reader_.SetStop(index_, 0);
  reader_.SetPause(index_, 0);
  reader_.SetCallBack(&ScanSession::OnRecord, this);
  const int result = reader_.ReadBackup(index_);
  reader_.SetCallBack(nullptr, nullptr);
  running_ = false;
  return result;
}

float ScanSession::Progress() const { return reader_.GetPrg(index_); }

void ScanSession::SetPaused(bool paused) { reader_.SetPause(index_, paused ? 1 : 0); }

void ScanSession::Stop() { reader_.SetStop(index_, 1); }

std::int64_t ScanSession::FoundCount(sieve::_InfoType type) const {
  const int t = static_cast<int>(type);
  return t >= 0 && t < sieve::kInfoTypeCount ? found_[static_cast<std::size_t>(t)].load() : 0;
}

void ScanSession::OnRecord(void* record, sieve::_InfoType type, void* user) {
  if (record == nullptr || user == nullptr) return;
  static_cast<ScanSession*>(user)->Take(record, type);
}

void ScanSession::Take(const void* record, sieve::_InfoType type) {
  const int t = static_cast<int>(type);
  if (t < 0 || t >= sieve::kInfoTypeCount) return;
  std::int64_t added = 1;
  switch (type) {
    case sieve::INFO_CONTACT: {
      const std::lock_guard<std::mutex> lock(mutex_);
      pendingContacts_.push_back(*static_cast<const sieve::ContactRecord*>(record));
      break;
    }
    case sieve::INFO_APP_DOCUMENT:
    case sieve::INFO_APP_PICTURE:
    case sieve::INFO_APP_VIDEO:
    case sieve::INFO_MUSIC:
      added = static_cast<std::int64_t>(static_cast<const sieve::MediaGroup*>(record)->Files.size());
      break;
    default:
      break;
  }
  found_[static_cast<std::size_t>(t)] += added;
}

int ScanSession::Deliver(const ScanTargets& targets) {
  std::vector<sieve::ContactRecord> contacts;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    contacts.swap(pendingContacts_);
  }
  if (targets.Contacts != nullptr) {
    for (const auto& record : contacts) targets.Contacts->AddContact(record);
  }
  return static_cast<int>(contacts.size());
}

}  // namespace quarry::views

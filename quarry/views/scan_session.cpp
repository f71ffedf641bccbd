#include "quarry/views/scan_session.h"

#include <QElapsedTimer>
#include <algorithm>
#include <vector>

#include "quarry/views/category_model.h"

namespace quarry::views {

ScanSession::ScanSession(sieve::CItunesBackupReader& reader, int index) : reader_(reader), index_(index) {}

ScanSession::~ScanSession() { reader_.SetCallBack(nullptr, nullptr); }

int ScanSession::Run() {
  running_ = true;
  for (auto& count : found_) count = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    pending_.clear();
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
  // The record belongs to the reader and changes after this call: a copy goes over.
  sieve::VisitRecord(record, type, [&](auto kind, const auto& r) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      pending_.emplace_back(static_cast<int>(kind.value), sieve::AnyRecord(r));
    }
    found_[static_cast<std::size_t>(kind.value)] += sieve::RecordItemCount(record, type);
  });
}

bool ScanSession::Pending() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return !pending_.empty();
}

int ScanSession::Deliver(const ScanTargets& targets, int budgetMs) {
  QElapsedTimer clock;
  clock.start();
  int delivered = 0;
  std::vector<CategoryModel*> held;
  for (;;) {
    // One at a time, so that the budget holds also when one record is large (a
    // conversation of thousands of messages), and the scan thread is never held up.
    std::pair<int, sieve::AnyRecord> next;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (pending_.empty()) break;
      next = std::move(pending_.front());
      pending_.pop_front();
    }
    if (CategoryModel* model = targets[static_cast<std::size_t>(next.first)]) {
      if (std::find(held.begin(), held.end(), model) == held.end()) {
        model->HoldFinds(true);
        held.push_back(model);
      }
      model->AddRecord(next.second);
    }
    ++delivered;
    if (budgetMs >= 0 && clock.elapsed() >= budgetMs) break;
  }
  for (CategoryModel* model : held) model->HoldFinds(false);
  return delivered;
}

}  // namespace quarry::views

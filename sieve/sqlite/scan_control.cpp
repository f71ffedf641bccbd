#include "sieve/sqlite/scan_control.h"

namespace sieve::sqlite {
namespace {

thread_local const ScanControl* current = nullptr;

}  // namespace

ThreadScanControl::ThreadScanControl(const ScanControl& control) : outer_(current) { current = &control; }

ThreadScanControl::~ThreadScanControl() { current = outer_; }

const ScanControl* ThreadScanControl::Current() { return current; }

bool ThreadScanControl::StopRequested() { return current != nullptr && current->Stop(); }

}  // namespace sieve::sqlite

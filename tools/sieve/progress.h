// The progress bar of scan and unpack on standard error, drawn only when that
// is a terminal and neither -q nor -v was given.
#pragma once

#include <cstdio>
#include <string>

namespace sieve::cli {

// "[#####...............]  25%  0:03 elapsed, about 0:09 left" in `width` bar cells.
std::string ProgressLine(float percent, double elapsedSeconds, int width = 30);

class ProgressBar {
 public:
  explicit ProgressBar(std::FILE* stream);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  bool Enabled() const { return enabled_; }
  // Redraws the line when what it shows has changed.
  void Update(float percent, double elapsedSeconds);
  // Clears the line so that later messages start on a clean one.
  void Finish();

 private:
  std::FILE* stream_;
  bool enabled_;
  std::string shown_;
};

}  // namespace sieve::cli

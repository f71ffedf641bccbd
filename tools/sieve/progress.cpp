#include "tools/sieve/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "tools/sieve/text_output.h"

namespace sieve::cli {
namespace {

std::string Clock(double seconds) {
  const long total = std::lround(std::max(0.0, seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

}  // namespace

std::string ProgressLine(float percent, double elapsedSeconds, int width) {
  const double p = std::clamp(std::isfinite(percent) ? static_cast<double>(percent) : 0.0, 0.0, 100.0);
  const int filled = static_cast<int>(p * width / 100.0);
  std::string line = "[";
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(width - filled), '.');
  char number[16];
  std::snprintf(number, sizeof number, "] %3d%%  ", static_cast<int>(p));
  line += number;
  line += Clock(elapsedSeconds) + " elapsed";
  // A guess from the pace so far; meaningless before the first few percent.
  if (p >= 3.0 && p < 100.0) {
    line += ", about " + Clock(elapsedSeconds * (100.0 - p) / p) + " left";
  }
  return line;
}

ProgressBar::ProgressBar(std::FILE* stream)
    // With -v the steps are the progress: lines of their own would break into the bar's.
    : stream_(stream), enabled_(!Quiet() && !Verbose() && ::isatty(fileno(stream)) == 1) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(float percent, double elapsedSeconds) {
  if (!enabled_) return;
  const std::string line = ProgressLine(percent, elapsedSeconds);
  if (line == shown_) return;
  // Erase to the end of the line: the new text can be shorter than the old.
  std::fprintf(stream_, "\r%s\x1b[K", line.c_str());
  std::fflush(stream_);
  shown_ = line;
}

void ProgressBar::Finish() {
  if (!enabled_ || shown_.empty()) return;
  std::fputs("\r\x1b[K", stream_);
  std::fflush(stream_);
  shown_.clear();
}

}  // namespace sieve::cli

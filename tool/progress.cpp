// The progress line of a batch (see progress.h).
#include "progress.h"

#include <cmath>

namespace dwt97::tool {

namespace {
constexpr int kBarWidth = 24;
}  // namespace

Progress::Progress(std::FILE* out, std::size_t total, bool shown)
    : out_(out), total_(total), shown_(shown), start_(Clock::now()) {}

int Progress::format(char* line, std::size_t size, std::size_t done, std::size_t total,
                     double seconds) {
  char bar[kBarWidth + 1];
  const std::size_t filled = total == 0 ? 0 : done * kBarWidth / total;
  for (int k = 0; k < kBarWidth; ++k) bar[k] = static_cast<std::size_t>(k) < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  if (done == 0 || rate <= 0) {
    return std::snprintf(line, size, "[%s] %zu/%zu pictures", bar, done, total);
  }
  const double left = static_cast<double>(total - done) / rate;
  const long whole = std::lround(left);
  return std::snprintf(line, size, "[%s] %zu/%zu pictures, %.1f/s, %ld:%02ld left", bar, done,
                       total, rate, whole / 60, whole % 60);
}

void Progress::update(std::size_t done) {
  if (!shown_) return;
  const Clock::time_point now = Clock::now();
  if (drawn_ != Clock::time_point{} && now - drawn_ < std::chrono::milliseconds(100)) return;
  char line[128];
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const int width = format(line, sizeof line, done, total_, seconds);
  // Blanks over what a longer line before left.
  std::fprintf(out_, "\r%s%*s", line, width_ > width ? width_ - width : 0, "");
  std::fflush(out_);
  width_ = width > width_ ? width : width_;
  drawn_ = now;
}

void Progress::clear() {
  if (!shown_ || width_ == 0) return;
  std::fprintf(out_, "\r%*s\r", width_, "");
  std::fflush(out_);
  width_ = 0;
}

}  // namespace dwt97::tool

// The progress line of a batch on a terminal: pictures done of all,
// pictures per second and the time left, redrawn in place at most ten times
// a second and cleared at the end.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>

namespace dwt97::tool {

class Progress {
 public:
  // A line on `out` for `total` pictures; drawn only when `shown`.
  Progress(std::FILE* out, std::size_t total, bool shown);
  ~Progress() { clear(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Redraws the line for `done` pictures, unless it was drawn less than a
  // tenth of a second ago.
  void update(std::size_t done);

  // Erases the line (before other words go to `out`, and at the end).
  void clear();

  // The line's text for `done` of `total` pictures `seconds` after the
  // start.
  static int format(char* line, std::size_t size, std::size_t done, std::size_t total,
                    double seconds);

 private:
  using Clock = std::chrono::steady_clock;
  std::FILE* out_;
  std::size_t total_;
  bool shown_;
  Clock::time_point start_;
  Clock::time_point drawn_{};
  int width_ = 0;  // the line on the terminal now, 0: none
};

}  // namespace dwt97::tool

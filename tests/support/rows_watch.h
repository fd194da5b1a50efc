// An observer of a picture read (dwt97::PictureRowsObserver, or the row
// telling of dwt97::bmpReadPlane) that checks the rules as it is told: started
// once, first, on a zero-filled buffer; rows strictly increasing, never past
// the height, never after stopping; stopping at most once, after started.
// Each row is copied as it is told, so that a row written again after it was
// told shows against the final buffer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dwt97/picture.h"

namespace testsupport {

struct RowsWatch {
  std::optional<dwt97::Error> refusal;  // what started() returns
  bool zeroFilledAtStart = true;        // false for a bitmap file, loaded whole first
  int started = 0, stopped = 0;
  std::uint32_t told = 0;
  std::vector<std::uint8_t> copies;  // the rows told, as they were when told
  std::vector<std::string> faults;   // the rules broken, as they were

  dwt97::PictureRowsObserver observer() { return {onStarted, onRows, onStopping, this}; }

  // For bmpReadPlane(), which tells only rows: the rows it fills.
  void watchPlane(const std::uint8_t* const* plane, std::int32_t width, std::uint16_t height) {
    started = 1;
    rows_.assign(plane, plane + height);
    width_ = static_cast<std::size_t>(width);
  }

  static void onRows(void* context, std::uint32_t rows) {
    auto* w = static_cast<RowsWatch*>(context);
    if (w->started != 1 || w->stopped != 0) w->faults.push_back("rows told outside the read");
    if (rows <= w->told || rows > w->rows_.size()) {
      w->faults.push_back("rows " + std::to_string(rows) + " after " + std::to_string(w->told));
      return;
    }
    for (std::uint32_t r = w->told; r < rows; ++r) {
      w->copies.insert(w->copies.end(), w->rows_[r], w->rows_[r] + w->width_);
    }
    w->told = rows;
  }

  // After a successful read into `rows`: every row told, each as it ends.
  void expectRead(const std::uint8_t* const* rows) const {
    EXPECT_EQ(faults, std::vector<std::string>{});
    EXPECT_EQ(started, 1);
    EXPECT_EQ(stopped, 0);
    ASSERT_EQ(told, rows_.size());
    std::vector<std::uint8_t> final;
    for (std::size_t r = 0; r < rows_.size(); ++r)
      final.insert(final.end(), rows[r], rows[r] + width_);
    EXPECT_TRUE(final == copies) << "a row changed after it was told";
  }
  void expectRead(const Bitmap& bmp) const {
    std::vector<const std::uint8_t*> rows;
    for (std::size_t r = 0; r < bmp.height; ++r) rows.push_back(bmp.data + r * width_);
    expectRead(rows.data());
  }

  // After a failed read: stopped once if it had started (not when started()
  // refused it, and then no rows told).
  void expectFailed() const {
    EXPECT_EQ(faults, std::vector<std::string>{});
    EXPECT_EQ(stopped, refusal ? 0 : started);
    if (refusal) {
      EXPECT_EQ(told, 0u);
    }
  }

 private:
  static std::optional<dwt97::Error> onStarted(void* context, const Bitmap* bmp) {
    auto* w = static_cast<RowsWatch*>(context);
    if (w->started++ != 0 || w->told != 0 || w->stopped != 0) w->faults.push_back("started again");
    w->width_ = static_cast<std::size_t>(bmp->width);
    w->rows_.clear();
    for (std::size_t r = 0; r < bmp->height; ++r) w->rows_.push_back(bmp->data + r * w->width_);
    const std::uint8_t* begin = bmp->data;
    const std::uint8_t* end = bmp->data + w->width_ * bmp->height;
    if (w->zeroFilledAtStart && std::any_of(begin, end, [](std::uint8_t v) { return v; })) {
      w->faults.push_back("rows written before started");
    }
    return w->refusal;
  }

  static void onStopping(void* context) {
    auto* w = static_cast<RowsWatch*>(context);
    if (w->started != 1 || w->stopped++ != 0) w->faults.push_back("stopping out of turn");
  }

  std::vector<const std::uint8_t*> rows_;
  std::size_t width_ = 0;
};

}  // namespace testsupport

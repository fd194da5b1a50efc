// The table of picture files that the picture tests share: each case is a
// file's bytes and either the grey picture it must read as or the failure it
// must be refused with, checked through the library from memory and from a
// file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "dwt97/picture.h"
#include "picture_builder.h"
#include "rows_watch.h"
#include "test_support.h"

namespace testsupport {

using dwt97::Failure;

// A failure as an expectation reads it: its stable name, or "accepted".
inline std::string failureOf(const std::optional<dwt97::Error>& error) {
  return error ? dwt97::failureName(error->failure) : "accepted";
}
using dwt97::PictureFormat;
using testsupport::Bytes;

struct Case {
  std::string name;
  Bytes file;
  PictureFormat format;
  std::optional<Failure> failure;  // expected, or none: then the picture
  std::uint32_t width = 0, height = 0;
  Bytes grey;  // top row first
};

inline Case refused(const std::string& name, Bytes file, PictureFormat format, Failure failure) {
  return Case{name, std::move(file), format, failure, 0, 0, {}};
}

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes cut(const Bytes& file, std::size_t length) {
  return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
}

// The reads of `c` (parsed, and loaded from `path`) told to a RowsWatch:
// the same result as without one, the rows told by the rules; and a read
// that started() refuses returns that refusal with nothing left. Adds the
// format to `stopped` when a failure came after the start.
inline void expectObserved(const Case& c, const std::string& path,
                           const std::optional<dwt97::Error>& unobserved,
                           std::set<PictureFormat>* stopped) {
  for (const bool load : {false, true}) {
    SCOPED_TRACE(load ? "loaded, observed" : "parsed, observed");
    for (const bool refuse : {false, true}) {
      RowsWatch watch;
      if (refuse) watch.refusal = dwt97::Error{Failure::outOfMemory, "observer"};
      Bitmap bmp;
      PictureFormat format = PictureFormat::bmp;
      const std::optional<dwt97::Error> failure =
          load ? dwt97::loadPicture(&bmp, &format, path.c_str(), watch.observer())
               : dwt97::parsePicture(&bmp, &format, c.file.data(), c.file.size(), watch.observer());
      EXPECT_EQ(format, c.format);
      if (failure) {
        watch.expectFailed();
        EXPECT_EQ(bmp.data, nullptr);
        if (watch.started && !refuse) stopped->insert(c.format);
      } else {
        watch.expectRead(bmp);
        EXPECT_EQ(Bytes(bmp.data, bmp.data + c.grey.size()), c.grey);
      }
      bmpRelease(&bmp);
      if (!refuse) {
        EXPECT_EQ(failureOf(failure), failureOf(unobserved));
      } else if (!unobserved) {
        ASSERT_TRUE(failure.has_value());
        EXPECT_STREQ(failure->operation, "observer");
        EXPECT_EQ(watch.started, 1);
      }
    }
  }
}

// Every case through the library's parser and its file loader: the same
// grey picture, or the same failure with nothing left allocated. In a build
// without a format's library its files are refused as such. The reads are
// also observed (expectObserved), and each format read whose files the
// cases refuse must be refused after a start by one of them.
inline void expectCases(const std::vector<Case>& cases) {
  testsupport::TempDir dir;
  std::set<PictureFormat> refusedFormats, stoppedFormats;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<Failure> expected = c.failure;
    if (!dwt97::canReadPicture(c.format) && c.format != PictureFormat::other) {
      expected = c.format == PictureFormat::png    ? Failure::pngNotBuilt
                 : c.format == PictureFormat::jpeg ? Failure::jpegNotBuilt
                                                   : Failure::tiffNotBuilt;
    }
    testsupport::writeFile(dir.file("picture"), c.file);
    Bitmap loaded;
    PictureFormat loadedFormat = PictureFormat::bmp;
    const std::optional<dwt97::Error> loadFailure =
        dwt97::loadPicture(&loaded, &loadedFormat, dir.file("picture").c_str());
    Bitmap bmp;
    PictureFormat format = PictureFormat::bmp;
    const std::optional<dwt97::Error> failure =
        dwt97::parsePicture(&bmp, &format, c.file.data(), c.file.size());
    EXPECT_EQ(format, c.format);
    EXPECT_EQ(loadedFormat, c.format);
    EXPECT_EQ(failureOf(loadFailure), failureOf(failure));
    if (!failure && !loadFailure) {
      EXPECT_EQ(Bytes(loaded.data, loaded.data + c.grey.size()), c.grey);
    }
    bmpRelease(&loaded);
    expectObserved(c, dir.file("picture"), failure, &stoppedFormats);
    if (failure && c.format != PictureFormat::bmp && c.format != PictureFormat::other &&
        dwt97::canReadPicture(c.format)) {
      refusedFormats.insert(c.format);
    }
    ASSERT_EQ(failure.has_value(), expected.has_value()) << failureOf(failure);
    if (failure) {
      EXPECT_EQ(failureOf(failure), failureOf(dwt97::Error{*expected, failure->operation}));
      // A failure is the format's reader's, as its message says.
      EXPECT_STREQ(failure->operation, dwt97::pictureLoadOperation(c.format));
      EXPECT_EQ(bmp.data, nullptr);
      continue;
    }
    EXPECT_EQ(static_cast<std::uint32_t>(bmp.width), c.width);
    EXPECT_EQ(bmp.height, c.height);
    EXPECT_EQ(Bytes(bmp.data, bmp.data + c.grey.size()), c.grey);
    // The record is that of a top-down 8-bit bitmap.
    EXPECT_TRUE(bmp.topDown);
    EXPECT_EQ(bmp.rawHeader[25] & 0x80, 0x80);  // the stored height negative, as it says
    EXPECT_EQ(bmp.bitsPerPixel, 8);
    bmpRelease(&bmp);
  }
  for (const PictureFormat format : refusedFormats) {
    EXPECT_EQ(stoppedFormats.count(format), 1u)
        << "no case of format " << static_cast<int>(format) << " fails after its start";
  }
}

}  // namespace testsupport

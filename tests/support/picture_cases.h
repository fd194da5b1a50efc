// The table of picture files that the picture tests share: each case is a
// file's bytes and either the grey picture it must read as or the failure it
// must be refused with, checked through the library from memory and from a
// file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dwt97/picture.h"
#include "picture_builder.h"
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

// Every case through the library's parser and its file loader: the same
// grey picture, or the same failure with nothing left allocated. In a build
// without a format's library its files are refused as such.
inline void expectCases(const std::vector<Case>& cases) {
  testsupport::TempDir dir;
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
}

}  // namespace testsupport

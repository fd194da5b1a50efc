// One picture's run, from its input to its output, as the lone run and the
// batch share it: where the picture comes from, what the run leaves to be
// printed (its report, or its failure's message) and when.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dwt97/bitmap.h"
#include "dwt97/failure.h"
#include "dwt97/picture.h"
#include "options.h"

namespace dwt97::tool {

// A picture's run: its input and output, and the output's format.
struct Job {
  const char* input;   // a path, or "-" for standard input
  const char* output;  // a path, or detail::standardOutputPath()
  Format format;
};

// The header report of a run, kept to be printed when its turn comes: a
// bitmap's header, another picture's format and size, or a .npy array's
// size and levels.
struct Report {
  enum class Kind { none, bitmap, picture, array } kind = Kind::none;
  Bitmap header{};  // without its pixels
  PictureFormat format = PictureFormat::bmp;
  int levels = 0;
};

// The report of a loaded picture (a bitmap's header or a picture's), or of
// a .npy array of `width` x `height` coefficients of `levels` levels.
Report pictureReport(const Bitmap& bmp, PictureFormat format);
Report arrayReport(std::int32_t width, std::int32_t height, int levels);

// Prints the report on standard output.
void printReport(const Report& report);

// What a run does once its result is made and before it saves: the lone run
// prints the report and pauses, a batch keeps it. Returns -1 for the save to
// go on, or the status the run ends with.
using BeforeSave = std::function<int(const Report&)>;

// How a run ended: its status and, when it failed, its message (one line).
struct Ending {
  int status = 0;
  std::string message;
};

// The ending of a run that failed with `error`.
Ending failedWith(const Error& error);

// The picture's run: loaded, transformed as the options say, handed to
// `beforeSave`, saved.
Ending runPicture(const Options& options, const Job& job, const BeforeSave& beforeSave);

// The whole of standard input, or its read failure (the operation
// `operation`).
std::optional<Error> readStandardInput(std::vector<std::uint8_t>* bytes, const char* operation);

// Loads the picture of `job.input` (a file, or standard input by its
// content) into `bmp` and its format into `format`, telling `observer` of
// its rows as they are decoded; a bitmap file is loaded whole, untold.
std::optional<Error> loadInput(const Job& job, Bitmap* bmp, PictureFormat* format,
                               const PictureRowsObserver& observer = {});

// The runs of each kind (transform.cpp and coefficients.cpp).
Ending transform(const Options& options, const Job& job, const BeforeSave& beforeSave);
Ending analyze(const Options& options, const Job& job, const BeforeSave& beforeSave);
Ending synthesize(const Options& options, const Job& job, const BeforeSave& beforeSave);

}  // namespace dwt97::tool

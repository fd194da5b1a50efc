// The tool's run into sub-band bytes (see run.h): the picture read into one
// picture-sized buffer while the fused transform follows the reader there,
// its finished rows streaming into the output's temporary; then the report,
// and the temporary put in place.
#include <cstdlib>

#include "dwt97/filterbank.h"
#include "platform/platform.h"
#include "run.h"

namespace dwt97::tool {
namespace {

// The picture, its rows, the transform following the reader and the save
// under way, released however the run ends.
struct Held {
  Bitmap bmp{};
  std::uint8_t** rows = nullptr;
  BmpSaveSession* session = nullptr;
  DwtFeed* feed = nullptr;
  // Set when the levels asked for are more than the picture has: nothing is
  // started, and the run fails once the picture is read.
  bool tooManyLevels = false;

  void abandonFeed() {
    if (feed != nullptr) dwt97::dwtFeedAbandon(feed);
    feed = nullptr;
  }
  ~Held() {
    abandonFeed();  // before the buffer it reads goes
    if (session != nullptr) bmpSaveAbandon(session);
    std::free(rows);
    bmpRelease(&bmp);
  }
};

// What the run does as the picture is read: once its size is known, the
// rows over its buffer, the output's temporary and the transform; as its
// rows come, the transform is told; should the read fail, the transform
// stops before the buffer goes.
struct Follower {
  const Options& options;
  const Job& job;
  Held& held;

  std::optional<Error> start(const Bitmap& bmp) {
    const std::int32_t width = bmp.width, height = bmp.height;
    if (options.levels > dwtMostLevels(width, height)) {
      held.tooManyLevels = true;
      return std::nullopt;
    }
    held.rows = static_cast<std::uint8_t**>(
        std::malloc(static_cast<std::size_t>(height) * sizeof(std::uint8_t*)));
    if (held.rows == nullptr) return Error{Failure::outOfMemory, "main"};
    planeRowsOver(held.rows, bmp.data, height, width);
    // The result's rows go to a temporary file beside the output as the
    // transform finishes them, so that writing overlaps computing; the file
    // takes the output's name only after the report (and the pause). Should
    // the temporary not be creatable now, the result is saved the ordinary
    // way afterwards, which reports why it cannot be. With several levels no
    // row is final before the last level, so the whole result goes to the
    // file at the end.
    if (job.format != Format::png &&
        dwt97::bmpSaveStart(&bmp, job.output, job.format == Format::pgm, &held.session)) {
      held.session = nullptr;
    }
    const bool streaming = held.session != nullptr && options.levels == 1;
    return dwt97::dwtFeedStart(held.rows, width, height, options.threads,
                               streaming ? bmpSaveRows : nullptr, held.session, &held.feed);
  }

  static std::optional<Error> started(void* context, const Bitmap* bmp) {
    return static_cast<Follower*>(context)->start(*bmp);
  }
  static void rowsRead(void* context, std::uint32_t rows) {
    DwtFeed* feed = static_cast<Follower*>(context)->held.feed;
    if (feed != nullptr) dwt97::dwtFeedRows(feed, static_cast<std::int32_t>(rows));
  }
  static void stopping(void* context) { static_cast<Follower*>(context)->held.abandonFeed(); }

  PictureRowsObserver observer() { return {started, rowsRead, stopping, this}; }
};

// Reads the picture while the transform follows. A bitmap file is read by
// the bitmap loader, then its pixels again into the same buffer, the
// transform following the second read; another picture, or one from
// standard input, is decoded with the transform following the decoder.
std::optional<Error> readFollowed(const Job& job, Follower& follower, PictureFormat* picture) {
  Held& held = follower.held;
  if (const auto error = loadInput(job, &held.bmp, picture, follower.observer())) return error;
  if (*picture != PictureFormat::bmp || isStandardStream(job.input)) return std::nullopt;
  if (const auto error = follower.start(held.bmp)) return error;
  if (held.tooManyLevels) return std::nullopt;
  return dwt97::bmpReadPlane(&held.bmp, job.input, held.rows, Follower::rowsRead, &follower);
}

// Saves the result the ordinary way, after the report: when no session
// could be started before (it reports why now), or for PNG.
std::optional<Error> saveWhole(const Held& held, Format format, const char* output) {
  if (format == Format::png) return dwt97::bmpSavePngPlane(&held.bmp, output, held.rows);
  if (format == Format::pgm) return dwt97::bmpSavePgmPlane(&held.bmp, output, held.rows);
  return dwt97::bmpSavePlane(&held.bmp, output, held.rows);
}

}  // namespace

Ending transform(const Options& options, const Job& job, const BeforeSave& beforeSave) {
  Held held;
  Follower follower{options, job, held};
  PictureFormat picture = PictureFormat::bmp;
  // A failure (the read's, or memory running out) abandons the transform and
  // the save as the run ends: no temporary outlives it.
  if (const auto error = readFollowed(job, follower, &picture)) return failedWith(*error);
  const Bitmap& bmp = held.bmp;
  const std::int32_t width = bmp.width, height = bmp.height;
  if (held.tooManyLevels) {
    return failedWith({Failure::tooManyLevels, "main", dwtMostLevels(width, height)});
  }
  DwtFeed* feed = held.feed;
  held.feed = nullptr;  // finishing releases it
  if (const auto error = dwt97::dwtFeedFinish(feed)) return failedWith(*error);
  // Further levels work on the first level's low band, in place.
  if (options.levels > 1) {
    if (const auto error = dwt97::dwtForward2dInRows(held.rows, width / 2, height / 2,
                                                     options.levels - 1, options.threads)) {
      return failedWith(*error);
    }
    if (held.session != nullptr) bmpSaveRows(held.session, held.rows, 0, height);
  }
  if (const int status = beforeSave(pictureReport(bmp, picture)); status >= 0) {
    return {status, {}};
  }
  BmpSaveSession* session = held.session;
  held.session = nullptr;  // bmpSaveFinish releases it, whatever happens
  const std::optional<Error> saved =
      session != nullptr ? dwt97::bmpSaveFinish(session) : saveWhole(held, job.format, job.output);
  if (saved) return failedWith(*saved);
  return {};
}

}  // namespace dwt97::tool

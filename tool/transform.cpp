// The tool's run into sub-band bytes (see run.h): the picture loaded into
// one picture-sized buffer, transformed there by the fused transform while
// its finished rows stream into the output's temporary, then the report,
// and the temporary put in place.
#include <cstdlib>

#include "dwt97/filterbank.h"
#include "platform/platform.h"
#include "run.h"

namespace dwt97::tool {
namespace {

// The picture, its rows and the save under way, released however the run
// ends.
struct Held {
  Bitmap bmp{};
  std::uint8_t** rows = nullptr;
  BmpSaveSession* session = nullptr;
  ~Held() {
    if (session != nullptr) bmpSaveAbandon(session);
    std::free(rows);
    bmpRelease(&bmp);
  }
};

// Saves the result the ordinary way, after the report: when no session
// could be started before (it reports why now), for PNG, or for a pipe.
std::optional<Error> saveWhole(const Held& held, Format format, const char* output) {
  if (format == Format::png) return dwt97::bmpSavePngPlane(&held.bmp, output, held.rows);
  if (format == Format::pgm) return dwt97::bmpSavePgmPlane(&held.bmp, output, held.rows);
  return dwt97::bmpSavePlane(&held.bmp, output, held.rows);
}

}  // namespace

Ending transform(const Options& options, const Job& job, const BeforeSave& beforeSave) {
  Held held;
  Bitmap& bmp = held.bmp;
  // A bitmap file is read by the bitmap loader, then its pixels again into
  // the same buffer; another picture, or one from standard input, is read
  // whole.
  PictureFormat picture = PictureFormat::bmp;
  if (const auto error = loadInput(job, &bmp, &picture)) return failedWith(*error);
  const std::int32_t width = bmp.width;
  const std::int32_t height = bmp.height;
  const int mostLevels = dwtMostLevels(width, height);
  if (options.levels > mostLevels) return failedWith({Failure::tooManyLevels, "main", mostLevels});

  // One picture-sized buffer for the whole run: the record's pixel buffer.
  // The second read fills it again, the transform works on it in place
  // (reordering the row pointers so that rows[r] is row r of the result), and
  // the output is written straight from its rows.
  held.rows = static_cast<std::uint8_t**>(
      std::malloc(static_cast<std::size_t>(height) * sizeof(std::uint8_t*)));
  if (held.rows == nullptr) return failedWith({Failure::outOfMemory, "main"});
  planeRowsOver(held.rows, bmp.data, height, width);
  if (picture == PictureFormat::bmp && !isStandardStream(job.input)) {
    if (const auto error = dwt97::bmpReadPlane(&bmp, job.input, held.rows))
      return failedWith(*error);
  }
  // The result's rows go to a temporary file beside the output as the
  // transform finishes them, so that writing overlaps computing; the file
  // takes the output's name only after the report (and the pause). Should
  // the temporary not be creatable now, the result is saved the ordinary way
  // afterwards, which reports why it cannot be. With several levels no row
  // is final before the last level, so the whole result goes to the file at
  // the end.
  if (job.format != Format::png &&
      dwt97::bmpSaveStart(&bmp, job.output, job.format == Format::pgm, &held.session)) {
    held.session = nullptr;
  }
  // A failure here (memory running out) abandons the save as the run ends:
  // no temporary outlives it.
  const std::optional<Error> transformed =
      held.session != nullptr && options.levels == 1
          ? dwt97::dwtForward2dStreaming(held.rows, width, height, options.threads, bmpSaveRows,
                                         held.session)
          : dwt97::dwtForward2dLevels(held.rows, width, height, options.levels, options.threads);
  if (transformed) return failedWith(*transformed);
  if (held.session != nullptr && options.levels > 1) {
    bmpSaveRows(held.session, held.rows, 0, height);
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

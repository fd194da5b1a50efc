// The transform of dwt97_plain: the tool's operations over the plain passes
// (tests/support/reference_passes.cpp), for whole-run comparisons with
// dwt97. They replace the library's own at link time.
#include <cstring>

#include "dwt97/filterbank.h"
#include "dwt97/planes.h"
#include "reference_passes.h"

namespace {

// The plain row pass into a zero-filled scratch plane, then the plain column
// pass back into the cleared plane: the bytes the fused transform gives.
std::optional<dwt97::Error> plainForward2d(SamplePlane plane, std::int32_t width,
                                           std::int32_t height) {
  if (width <= 0 || height <= 0) return std::nullopt;
  dwt97::PlaneBuffer scratch;
  if (auto error = dwt97::planeAllocate(&scratch, width, height)) return error;
  plainForwardRows(scratch.rows, plane, width, height);
  for (std::int32_t r = 0; r < height; ++r)
    std::memset(plane[r], 0, static_cast<std::size_t>(width));
  plainForwardColumns(plane, scratch.rows, width, height);
  dwt97::planeRelease(&scratch);
  return std::nullopt;
}

}  // namespace

// The transform following a reader, the plain way: nothing runs until the
// rows are in, then the plain transform, every row told at once.
struct dwt97::DwtFeed {
  SamplePlane plane;
  std::int32_t width, height;
  DwtResultRows rowsDone;
  void* context;
};

std::optional<dwt97::Error> dwt97::dwtFeedStart(SamplePlane plane, std::int32_t width,
                                                std::int32_t height, int, DwtResultRows rowsDone,
                                                void* context, DwtFeed** feed) {
  *feed = new DwtFeed{plane, width, height, rowsDone, context};
  return std::nullopt;
}

void dwt97::dwtFeedRows(DwtFeed*, std::int32_t) {}

std::optional<dwt97::Error> dwt97::dwtFeedFinish(DwtFeed* feed) {
  const DwtFeed f = *feed;
  delete feed;
  if (auto error = plainForward2d(f.plane, f.width, f.height)) return error;
  if (f.rowsDone != nullptr && f.width > 0 && f.height > 0) {
    f.rowsDone(f.context, f.plane, 0, f.height);
  }
  return std::nullopt;
}

void dwt97::dwtFeedAbandon(DwtFeed* feed) { delete feed; }

// Each level through the plain transform, which works on the band's columns
// alone and keeps the rows where they are.
std::optional<dwt97::Error> dwt97::dwtForward2dInRows(SamplePlane plane, std::int32_t width,
                                                      std::int32_t height, int levels, int) {
  const int most = dwtMostLevels(width, height);
  if (levels > most) return Error{Failure::tooManyLevels, "dwtForward2dLevels", most};
  for (int level = 1; level <= levels; ++level, width /= 2, height /= 2) {
    if (auto error = plainForward2d(plane, width, height)) return error;
  }
  return std::nullopt;
}

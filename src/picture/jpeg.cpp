// JPEG through libjpeg's API (libjpeg-turbo): the decoder's own grey output
// (for a colour file its Y channel) with the default DCT method. The
// library's errors come back here by longjmp instead of ending the process,
// and its messages are never printed. A progressive file may have at most
// kMostScans scans: each scan is another pass over the whole picture, so a
// small hostile file could otherwise keep the decoder busy for minutes (real
// files have about ten). Without the library (DWT97_WITH_JPEG unset) every
// JPEG is refused.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "core/allocator.h"
#include "picture/readers.h"

#if DWT97_WITH_JPEG
#include <climits>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t first

#include <jerror.h>
#include <jpeglib.h>
#endif

namespace dwt97::detail {

#if DWT97_WITH_JPEG

bool jpegBuilt() { return true; }

namespace {

// The most scans of a progressive file, and the most pixels a side the
// decoder takes (its JPEG_MAX_DIMENSION).
constexpr int kMostScans = 100;
constexpr std::uint32_t kMostSide = 65500;

// The error manager: the first error, or a warning that the data is cut or
// corrupt, ends the decode through `jump` with the failure it means.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  Failure failure;
};

Failure failureOf(int code) {
  switch (code) {
    case JERR_INPUT_EMPTY:
    case JERR_INPUT_EOF:
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
      return Failure::jpegTruncated;
    case JERR_OUT_OF_MEMORY:
      return Failure::outOfMemory;
    case JERR_IMAGE_TOO_BIG:
      return Failure::jpegTooLarge;
    case JERR_BAD_PRECISION:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_NOT_COMPILED:
    case JERR_NOTIMPL:
    case JERR_ARITH_NOTIMPL:
      return Failure::jpegUnsupported;
    default:
      return Failure::jpegMalformed;
  }
}

[[noreturn]] void onError(j_common_ptr cinfo) {
  auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
  errors->failure = failureOf(errors->base.msg_code);
  std::longjmp(errors->jump, 1);
}

// Warnings (level -1) that mean lost or damaged picture data end the decode;
// the others (extra bytes between markers and the like) and every trace
// message are dropped.
void onMessage(j_common_ptr cinfo, int level) {
  if (level != -1) return;
  switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
      onError(cinfo);
    default:
      return;
  }
}

void silent(j_common_ptr) {}

// Called between the iMCU rows the decoder reads: a progressive file past
// its scan limit ends the decode.
void countScans(j_common_ptr cinfo) {
  const auto* decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (decompress->progressive_mode && decompress->input_scan_number > kMostScans) {
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    errors->failure = Failure::jpegTooManyScans;
    std::longjmp(errors->jump, 1);
  }
}

// A file read a piece at a time as the decoder asks, so that the whole file
// is never held: the end of the file reads as the decoder's memory source
// reads the end of its bytes (a warning that the data is cut, then an end
// marker), and a read error ends the decode with loadRead.
struct FileSource {
  jpeg_source_mgr base;
  std::FILE* file;
  JOCTET buffer[std::size_t{1} << 16];

  static void nothing(j_decompress_ptr) {}

  static boolean fill(j_decompress_ptr cinfo) {
    auto* source = reinterpret_cast<FileSource*>(cinfo->src);
    std::size_t got = std::fread(source->buffer, 1, sizeof source->buffer, source->file);
    if (got == 0) {
      if (std::ferror(source->file)) {
        auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
        errors->failure = Failure::loadRead;
        std::longjmp(errors->jump, 1);
      }
      WARNMS(cinfo, JWRN_JPEG_EOF);
      source->buffer[0] = 0xFF;
      source->buffer[1] = JPEG_EOI;
      got = 2;
    }
    source->base.next_input_byte = source->buffer;
    source->base.bytes_in_buffer = got;
    return TRUE;
  }

  static void skip(j_decompress_ptr cinfo, long count) {
    jpeg_source_mgr* source = cinfo->src;
    if (count <= 0) return;
    while (static_cast<unsigned long>(count) > source->bytes_in_buffer) {
      count -= static_cast<long>(source->bytes_in_buffer);
      fill(cinfo);
    }
    source->next_input_byte += count;
    source->bytes_in_buffer -= static_cast<std::size_t>(count);
  }

  explicit FileSource(std::FILE* from) : base{}, file(from) {
    base.init_source = nothing;
    base.fill_input_buffer = fill;
    base.skip_input_data = skip;
    base.resync_to_restart = jpeg_resync_to_restart;
    base.term_source = nothing;
  }
};

// The decode proper, with nothing on its frame that a longjmp would skip
// the destruction of. `errors` is set up by the caller; the bytes come from
// `file` when it is given, otherwise from `bytes`.
std::optional<Failure> decode(jpeg_decompress_struct* cinfo, ErrorManager* errors,
                              jpeg_progress_mgr* progress, Bitmap* bmp, const std::uint8_t* bytes,
                              std::size_t count, FileSource* file, RowsTeller* teller) {
  if (setjmp(errors->jump) != 0) return errors->failure;
  jpeg_create_decompress(cinfo);
  cinfo->progress = progress;
  if (file != nullptr) {
    cinfo->src = &file->base;
  } else {
    jpeg_mem_src(cinfo, bytes, static_cast<unsigned long>(count));
  }
  jpeg_read_header(cinfo, TRUE);
  if (cinfo->image_width > kMostSide || cinfo->image_height > kMostSide ||
      !pictureFits(cinfo->image_width, cinfo->image_height)) {
    return Failure::jpegTooLarge;
  }
  cinfo->out_color_space = JCS_GRAYSCALE;
  jpeg_calc_output_dimensions(cinfo);
  if (cinfo->output_components != 1 || !pictureFits(cinfo->output_width, cinfo->output_height)) {
    return Failure::jpegUnsupported;
  }
  if (auto failure = startPicture(bmp, cinfo->output_width, cinfo->output_height, teller)) {
    return failure;
  }
  jpeg_start_decompress(cinfo);
  const std::size_t width = cinfo->output_width;
  // Up to an iMCU row's worth of rows a call (16 rows at most), which the
  // decoder then writes straight into place.
  constexpr JDIMENSION kRowsPerCall = 16;
  JSAMPROW rows[kRowsPerCall];
  while (cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION next = cinfo->output_scanline;
    const JDIMENSION count =
        cinfo->output_height - next < kRowsPerCall ? cinfo->output_height - next : kRowsPerCall;
    for (JDIMENSION k = 0; k < count; ++k) {
      rows[k] = bmp->data + static_cast<std::size_t>(next + k) * width;
    }
    jpeg_read_scanlines(cinfo, rows, count);
    // The decoder never comes back to a row it gave (a progressive file's
    // scans are all taken in before the first).
    teller->rows(cinfo->output_scanline);
  }
  jpeg_finish_decompress(cinfo);
  return std::nullopt;
}

}  // namespace

namespace {

std::optional<Failure> load(Bitmap* bmp, const std::uint8_t* bytes, std::size_t count,
                            FileSource* file, RowsTeller* teller) {
  std::memset(bmp, 0, sizeof *bmp);
  jpeg_decompress_struct cinfo;
  ErrorManager errors;
  cinfo.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = onError;
  errors.base.emit_message = onMessage;
  errors.base.output_message = silent;
  errors.failure = Failure::jpegMalformed;
  jpeg_progress_mgr progress{};
  progress.progress_monitor = countScans;
  const std::optional<Failure> failure =
      decode(&cinfo, &errors, &progress, bmp, bytes, count, file, teller);
  // The source is ours: the library must not release it.
  cinfo.src = nullptr;
  jpeg_destroy_decompress(&cinfo);
  if (failure) teller->abandon(bmp);
  return failure;
}

}  // namespace

std::optional<Failure> jpegLoad(Bitmap* bmp, const std::uint8_t* bytes, std::size_t count,
                                RowsTeller* teller) {
  if (count > ULONG_MAX) {
    std::memset(bmp, 0, sizeof *bmp);
    return Failure::jpegTooLarge;
  }
  return load(bmp, bytes, count, nullptr, teller);
}

std::optional<Failure> jpegLoadFile(Bitmap* bmp, std::FILE* file, RowsTeller* teller) {
  const std::unique_ptr<FileSource> source(new (std::nothrow) FileSource(file));
  if (source == nullptr) {
    std::memset(bmp, 0, sizeof *bmp);
    return Failure::outOfMemory;
  }
  return load(bmp, nullptr, 0, source.get(), teller);
}

#else  // no JPEG library

bool jpegBuilt() { return false; }

std::optional<Failure> jpegLoad(Bitmap* bmp, const std::uint8_t*, std::size_t, RowsTeller*) {
  std::memset(bmp, 0, sizeof *bmp);
  return Failure::jpegNotBuilt;
}

std::optional<Failure> jpegLoadFile(Bitmap* bmp, std::FILE*, RowsTeller*) {
  std::memset(bmp, 0, sizeof *bmp);
  return Failure::jpegNotBuilt;
}

#endif

}  // namespace dwt97::detail

// The exact failure messages, typed out once for every test. Deliberately a
// copy, not the library's table: a changed text must fail a test.
#pragma once

namespace messages {

inline constexpr char kOpen[] = "Error: bmpLoad(), File open fail!\n";
inline constexpr char kNotRegular[] = "Error: bmpLoad(), Not a regular file!\n";
inline constexpr char kShort[] = "Error: bmpLoad(), File too short for a bitmap header!\n";
inline constexpr char kSignature[] =
    "Error: bmpLoad(), Header check failed: bmp->signature == 0x4D42\n";
inline constexpr char kInfoSize[] = "Error: bmpLoad(), Header check failed: bmp->size==40\n";
inline constexpr char kPlanes[] = "Error: bmpLoad(), Header check failed: bmp->planes==1\n";
inline constexpr char kBits[] = "Error: bmpLoad(), Header check failed: bmp->bitsPerPixel==8\n";
inline constexpr char kCompressed[] = "Error: bmpLoad(), Compressed pixel data is not supported!\n";
inline constexpr char kWidth[] = "Error: bmpLoad(), Width must be at least 1!\n";
inline constexpr char kHeightZero[] = "Error: bmpLoad(), Height must not be 0!\n";
inline constexpr char kHeightBig[] = "Error: bmpLoad(), Height beyond 65535 rows!\n";
inline constexpr char kPixelCount[] = "Error: bmpLoad(), Pixel count beyond 32 bits!\n";
inline constexpr char kOffset[] = "Error: bmpLoad(), Pixel data offset out of range!\n";
inline constexpr char kBeyondEnd[] = "Error: bmpLoad(), Pixel data beyond end of file!\n";
inline constexpr char kLoadRead[] = "Error: bmpLoad(), File read fail!\n";
inline constexpr char kReopen[] = "error!";
inline constexpr char kReadPlaneRead[] = "Error: bmpReadPlane(), File read fail!\n";
inline constexpr char kCreate[] = "Error: bmpSave(), File create fail!\n";
inline constexpr char kWrite[] = "Error: bmpSave(), File write fail!\n";
inline constexpr char kOutOfMemory[] = "Error: %s(), Out of memory!\n";
inline constexpr char kSameFile[] = "Error: main(), Input and output are the same file!\n";
inline constexpr char kTooManyLevels[] =
    "Error: %s(), Too many levels for the picture (at most %d)!\n";
inline constexpr char kPgmMalformed[] = "Error: pgmLoad(), Malformed PGM data!\n";
inline constexpr char kPgmMaxval[] = "Error: pgmLoad(), Maxval must be 1 to 65535!\n";
inline constexpr char kPgmSample[] = "Error: pgmLoad(), Sample beyond maxval!\n";
inline constexpr char kPgmTooLarge[] =
    "Error: pgmLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n";
inline constexpr char kPgmTruncated[] = "Error: pgmLoad(), File ends before the last sample!\n";
inline constexpr char kPngMalformed[] = "Error: pngLoad(), Malformed PNG data!\n";
inline constexpr char kPngTooLarge[] =
    "Error: pngLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n";
inline constexpr char kPngTruncated[] = "Error: pngLoad(), File ends before the picture does!\n";
inline constexpr char kPngNotBuilt[] = "Error: pngLoad(), This build reads no PNG files!\n";
inline constexpr char kPngWriteNotBuilt[] =
    "Error: bmpSavePng(), This build writes no PNG files!\n";
inline constexpr char kJpegMalformed[] = "Error: jpegLoad(), Malformed JPEG data!\n";
inline constexpr char kJpegUnsupported[] = "Error: jpegLoad(), Unsupported kind of JPEG!\n";
inline constexpr char kJpegTooLarge[] =
    "Error: jpegLoad(), Picture beyond 65500 pixels a side or 2^31-1 pixels!\n";
inline constexpr char kJpegTruncated[] = "Error: jpegLoad(), File ends before the picture does!\n";
inline constexpr char kJpegNotBuilt[] = "Error: jpegLoad(), This build reads no JPEG files!\n";
inline constexpr char kJpegTooManyScans[] =
    "Error: jpegLoad(), Progressive JPEG of over 100 scans!\n";
inline constexpr char kPpmMalformed[] = "Error: ppmLoad(), Malformed PPM data!\n";
inline constexpr char kPpmMaxval[] = "Error: ppmLoad(), Maxval must be 1 to 65535!\n";
inline constexpr char kPpmSample[] = "Error: ppmLoad(), Sample beyond maxval!\n";
inline constexpr char kPpmTooLarge[] =
    "Error: ppmLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n";
inline constexpr char kPpmTruncated[] = "Error: ppmLoad(), File ends before the last sample!\n";
inline constexpr char kTiffMalformed[] = "Error: tiffLoad(), Malformed TIFF data!\n";
inline constexpr char kTiffUnsupported[] = "Error: tiffLoad(), Unsupported kind of TIFF!\n";
inline constexpr char kTiffTooLarge[] =
    "Error: tiffLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n";
inline constexpr char kTiffTruncated[] = "Error: tiffLoad(), File ends before the picture does!\n";
inline constexpr char kTiffNotBuilt[] = "Error: tiffLoad(), This build reads no TIFF files!\n";
inline constexpr char kGifNotSupported[] = "Error: bmpLoad(), GIF pictures are not supported!\n";
inline constexpr char kWebpNotSupported[] = "Error: bmpLoad(), WebP pictures are not supported!\n";
inline constexpr char kPamNotSupported[] = "Error: bmpLoad(), PAM pictures are not supported!\n";
inline constexpr char kPbmNotSupported[] = "Error: bmpLoad(), PBM pictures are not supported!\n";
inline constexpr char kJpeg2000NotSupported[] =
    "Error: bmpLoad(), JPEG 2000 pictures are not supported!\n";
inline constexpr char kJpegXlNotSupported[] =
    "Error: bmpLoad(), JPEG XL pictures are not supported!\n";
inline constexpr char kHeifNotSupported[] =
    "Error: bmpLoad(), HEIF and AVIF pictures are not supported!\n";
inline constexpr char kPsdNotSupported[] = "Error: bmpLoad(), PSD pictures are not supported!\n";
inline constexpr char kPlaneShapes[] =
    "Error: %s(), Planes of different shapes or of no samples!\n";
inline constexpr char kPlaneOverlap[] = "Error: %s(), Input and output planes overlap!\n";
inline constexpr char kLevelsNegative[] = "Error: %s(), Levels must be 0 or more!\n";
inline constexpr char kCoefficientsOverflow[] =
    "Error: %s(), Samples too large for 32-bit coefficients at these levels!\n";
inline constexpr char kNpyOpen[] = "Error: npyLoad(), File open fail!\n";
inline constexpr char kNpyNotRegularFile[] = "Error: npyLoad(), Not a regular file!\n";
inline constexpr char kNpyRead[] = "Error: npyLoad(), File read fail!\n";
inline constexpr char kNpySignature[] = "Error: npyLoad(), Not a .npy file!\n";
inline constexpr char kNpyHeader[] = "Error: npyLoad(), Malformed .npy header!\n";
inline constexpr char kNpyTruncated[] =
    "Error: npyLoad(), File ends before the last coefficient!\n";
inline constexpr char kNpyShape[] =
    "Error: npyLoad(), Coefficients must be a 2-D array of 1 x 1 or more!\n";
inline constexpr char kNpyComplex[] = "Error: npyLoad(), Complex coefficients are not supported!\n";
inline constexpr char kNpyType[] = "Error: npyLoad(), Coefficients must be float32 or int32!\n";
inline constexpr char kNpyTooLarge[] =
    "Error: npyLoad(), Array beyond 65535 rows or 2^31-1 samples!\n";

}  // namespace messages

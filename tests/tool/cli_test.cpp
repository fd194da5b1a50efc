// The command line, through the real binary: usage errors, help, version,
// paths, output formats and the refusal to save over the input. The
// transform itself is the other suites' business.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "dwt97/picture.h"
#include "dwt97/version.h"
#include "messages.h"
#include "npy_builder.h"
#include "test_support.h"

using namespace testsupport;

namespace {

const char kTryHelp[] = "Try 'dwt97 --help'.\n";

struct Case {
  std::vector<std::string> arguments;
  int status;
  std::string out;                 // exact, or a prefix when it ends in "..."
  std::string err;                 // exact
  std::vector<std::string> files;  // the folder afterwards (input: in.bmp)
};

// The refusal of more levels than the picture allows.
std::string tooManyLevels(int most) {
  char text[160];
  std::snprintf(text, sizeof text, messages::kTooManyLevels, "main", most);
  return text;
}

bool matches(const std::string& text, const std::string& expected) {
  const std::size_t n = expected.size();
  if (n >= 3 && expected.compare(n - 3, 3, "...") == 0) {
    return text.compare(0, n - 3, expected, 0, n - 3) == 0;
  }
  return text == expected;
}

}  // namespace

// Every case starts in a folder holding an 8 x 4 picture as "in.bmp", as
// "quilgray.bmp" and as "grå.bmp" (names are UTF-8 on every system), the
// second also reachable through the link "same.bmp", and coefficients of
// that shape as "in.npy" (float32, the 9/7's) and "in53.npy" (int32, the
// 5/3's).
TEST(CommandLine, Cases) {
  const std::string report = reportFor(8, 4);
  const std::string version =
      std::string("dwt97 ") + DWT97_VERSION_STRING + "\nFormats: reads BMP PGM...";
  const std::vector<std::string> start = {"gr\xC3\xA5.bmp", "in.bmp",       "in.npy",
                                          "in53.npy",       "quilgray.bmp", "same.bmp"};
  const std::string arrayReport =
      "==== Array =====\nFormat = NPY \nWidth = 8 \nHeight = 4 \nLevels = 1 \n";
  auto plus = [&](std::vector<std::string> names) {
    names.insert(names.end(), start.begin(), start.end());
    std::sort(names.begin(), names.end());
    return names;
  };
  const Case cases[] = {
      // Help and version: standard output only, no file touched.
      {{"--help"}, 0, "Usage: dwt97 [OPTION]... [INPUT [OUTPUT]]\n...", "", start},
      {{"-h", "missing.bmp"}, 0, "Usage: dwt97 ...", "", start},
      {{"--version"}, 0, version, "", start},
      {{"-V"}, 0, version, "", start},
      {{"-hV"}, 0, "Usage: ...", "", start},
      {{"-qV"}, 0, version, "", start},
      // Usage errors: one line naming the problem, the hint, status 2.
      {{"--bogus"}, 2, "", std::string("dwt97: unrecognized option '--bogus'\n") + kTryHelp, start},
      {{"-x"}, 2, "", std::string("dwt97: invalid option -- 'x'\n") + kTryHelp, start},
      {{"--format"},
       2,
       "",
       std::string("dwt97: option '--format' requires an argument\n") + kTryHelp,
       start},
      {{"--format=gif"},
       2,
       "",
       std::string("dwt97: invalid format 'gif' (raw, pgm, png or npy)\n") + kTryHelp,
       start},
      {{"--format", "PGM"},
       2,
       "",
       std::string("dwt97: invalid format 'PGM' (raw, pgm, png or npy)\n") + kTryHelp,
       start},
      {{"--formatx"},
       2,
       "",
       std::string("dwt97: unrecognized option '--formatx'\n") + kTryHelp,
       start},
      {{"in.bmp", "a.dat", "b.dat"},
       2,
       "",
       std::string("dwt97: extra operand 'b.dat'\n") + kTryHelp,
       start},
      {{"--levels=0"},
       2,
       "",
       std::string("dwt97: invalid level count '0' (1 or more)\n") + kTryHelp,
       start},
      {{"--levels", "-1"},
       2,
       "",
       std::string("dwt97: invalid level count '-1' (1 or more)\n") + kTryHelp,
       start},
      {{"--levels=2x"},
       2,
       "",
       std::string("dwt97: invalid level count '2x' (1 or more)\n") + kTryHelp,
       start},
      {{"--levels"},
       2,
       "",
       std::string("dwt97: option '--levels' requires an argument\n") + kTryHelp,
       start},
      {{"--threads=-1"},
       2,
       "",
       std::string("dwt97: invalid thread count '-1' (0 or more)\n") + kTryHelp,
       start},
      {{"--threads", ""},
       2,
       "",
       std::string("dwt97: invalid thread count '' (0 or more)\n") + kTryHelp,
       start},
      {{"--threads=+2"},
       2,
       "",
       std::string("dwt97: invalid thread count '+2' (0 or more)\n") + kTryHelp,
       start},
      {{"--threads"},
       2,
       "",
       std::string("dwt97: option '--threads' requires an argument\n") + kTryHelp,
       start},
      {{"--wavelet=7/5"},
       2,
       "",
       std::string("dwt97: invalid wavelet '7/5' (9/7 or 5/3)\n") + kTryHelp,
       start},
      {{"--wavelet"},
       2,
       "",
       std::string("dwt97: option '--wavelet' requires an argument\n") + kTryHelp,
       start},
      // Every argument is read first: a usage error wins over --help.
      {{"--help", "--bogus"},
       2,
       "",
       std::string("dwt97: unrecognized option '--bogus'\n") + kTryHelp,
       start},
      // Paths: the defaults, an input elsewhere, blanks, a leading dash, a
      // lone dash (standard input or output, not an option group) and a file
      // named so.
      {{"--no-pause"}, 0, report, "", plus({"quilout.dat"})},
      {{"in.bmp"}, 0, report, "", plus({"quilout.dat"})},
      {{"in.bmp", "out put.dat"}, 0, report, "", plus({"out put.dat"})},
      // Levels, threads, quiet: the 8 x 4 picture allows 2 levels (bands of 4 x 2).
      {{"-q", "in.bmp"}, 0, "", "", plus({"quilout.dat"})},
      {{"--quiet", "--levels=2", "--threads=0", "in.bmp"}, 0, "", "", plus({"quilout.dat"})},
      {{"--levels", "2", "--threads", "1", "in.bmp", "two.pgm"}, 0, report, "", plus({"two.pgm"})},
      {{"--threads=99999999999", "in.bmp"}, 0, report, "", plus({"quilout.dat"})},
      {{"--levels=3", "in.bmp"}, 1, "", tooManyLevels(2), start},
      {{"--levels=99999999999", "in.bmp"}, 1, "", tooManyLevels(2), start},
      // Past 2^31 - 1 a count stays there: it never wraps back to a small one.
      {{"--levels=10000000001", "in.bmp"}, 1, "", tooManyLevels(2), start},
      {{"--", "in.bmp", "-dash.pgm"}, 0, report, "", plus({"-dash.pgm"})},
      // Standard input holds in.bmp (in.npy with --inverse).
      {{"-"}, 0, report, "", plus({"quilout.dat"})},
      {{"-", "o.dat"}, 0, report, "", plus({"o.dat"})},
      {{"--inverse", "-", "o.pgm"}, 0, "==== Array =====\n...", "", plus({"o.pgm"})},
      {{"in.bmp", "./-"}, 0, report, "", plus({"-"})},
      {{"./-"}, 1, "", messages::kOpen, start},
      // A batch: the reports under the inputs' names, without a pause.
      {{"-t", ".", "in.bmp", "gr\xC3\xA5.bmp"},
       0,
       "==> in.bmp <==\n" + report + "\n==> gr\xC3\xA5.bmp <==\n" + report,
       "",
       plus({"gr\xC3\xA5.dat", "in.dat"})},
      {{"-t"}, 2, "", std::string("dwt97: option requires an argument -- 't'\n") + kTryHelp, start},
      {{"--target-directory=."},
       2,
       "",
       std::string("dwt97: missing file operand (option '-t' takes INPUT...)\n") + kTryHelp,
       start},
      {{"-qt", ".", "-"},
       2,
       "",
       std::string("dwt97: a batch reads no standard input (INPUT '-' with option '-t')\n") +
           kTryHelp,
       start},
      {{"gr\xC3\xA5.bmp", "\xC3\xBC \xE2\x9C\x93.pgm"},
       0,
       report,
       "",
       plus({"\xC3\xBC \xE2\x9C\x93.pgm"})},
      {{"missing.bmp"}, 1, "", messages::kOpen, start},
      // PNG output by name or by option, where the build writes PNG.
      dwt97::canWritePng()
          ? Case{{"in.bmp", "out.PNG"}, 0, report, "", plus({"out.PNG"})}
          : Case{{"in.bmp", "out.PNG"},
                 2,
                 "",
                 std::string("dwt97: this build writes no PNG files (output 'out.PNG')\n") +
                     kTryHelp,
                 start},
      dwt97::canWritePng()
          ? Case{{"--format=png", "in.bmp", "o.dat"}, 0, report, "", plus({"o.dat"})}
          : Case{{"--format=png", "in.bmp", "o.dat"},
                 2,
                 "",
                 std::string("dwt97: this build writes no PNG files (output 'o.dat')\n") + kTryHelp,
                 start},
      {{"in.bmp", "no/such/folder.dat"}, 1, report, messages::kCreate, start},
      // Coefficients: a .npy output by name or by option, --inverse, --view.
      // The 8 x 4 shape allows 3 levels of them (bands down to 1 x 1).
      {{"in.bmp", "c.NPY"}, 0, report, "", plus({"c.NPY"})},
      {{"--format", "npy", "in.bmp", "c.dat"}, 0, report, "", plus({"c.dat"})},
      {{"-q", "--levels=3", "in.bmp", "c.npy"}, 0, "", "", plus({"c.npy"})},
      {{"--levels=4", "in.bmp", "c.npy"}, 1, "", tooManyLevels(3), start},
      {{"in.bmp", "no/such/folder.npy"}, 1, report, messages::kCreate, start},
      {{"--inverse", "in.npy", "p.pgm"}, 0, arrayReport, "", plus({"p.pgm"})},
      {{"--inverse", "-q", "--levels=3", "in.npy", "p.npy"}, 0, "", "", plus({"p.npy"})},
      {{"--inverse", "in.npy"}, 0, arrayReport, "", plus({"quilout.dat"})},
      {{"--inverse", "--levels=4", "in.npy", "p.pgm"}, 1, "", tooManyLevels(3), start},
      {{"--inverse", "in.bmp", "p.pgm"}, 1, "", messages::kNpySignature, start},
      {{"--inverse", "missing.npy", "p.pgm"}, 1, "", messages::kNpyOpen, start},
      {{"--inverse", ".", "p.pgm"}, 1, "", messages::kNpyNotRegularFile, start},
      {{"--inverse", "in.npy", "in.npy"}, 1, "", messages::kSameFile, start},
      {{"--inverse", "in.npy", "no/such/folder.pgm"}, 1, arrayReport, messages::kCreate, start},
      {{"--view", "in.bmp", "v.pgm"}, 0, report, "", plus({"v.pgm"})},
      {{"-q", "--view", "--levels=3", "in.bmp"}, 0, "", "", plus({"quilout.dat"})},
      {{"--view", "--levels=4", "in.bmp", "v.pgm"}, 1, "", tooManyLevels(3), start},
      {{"--view", "in.npy", "v.pgm"}, 1, "", messages::kSignature, start},
      // The wavelet: the 9/7 unless named; the 5/3 writes int32 coefficients
      // or their view, and --inverse takes the wavelet from the file's type.
      {{"--wavelet", "9/7", "in.bmp"}, 0, report, "", plus({"quilout.dat"})},
      {{"-q", "--wavelet=5/3", "in.bmp", "c.npy"}, 0, "", "", plus({"c.npy"})},
      {{"-q", "--wavelet=5/3", "--view", "in.bmp", "v.pgm"}, 0, "", "", plus({"v.pgm"})},
      {{"--wavelet=5/3", "--levels=4", "in.bmp", "c.npy"}, 1, "", tooManyLevels(3), start},
      {{"--inverse", "in53.npy", "p.pgm"}, 0, arrayReport, "", plus({"p.pgm"})},
      {{"--inverse", "-q", "--wavelet=5/3", "in53.npy", "p.npy"}, 0, "", "", plus({"p.npy"})},
      // Combinations that make no sense are usage errors, before any file.
      {{"--inverse"},
       2,
       "",
       std::string("dwt97: option '--inverse' requires INPUT, a .npy file\n") + kTryHelp,
       start},
      {{"--inverse", "--view", "in.npy", "v.pgm"},
       2,
       "",
       std::string("dwt97: options '--inverse' and '--view' do not go together\n") + kTryHelp,
       start},
      {{"--view", "in.bmp", "v.npy"},
       2,
       "",
       std::string("dwt97: option '--view' writes a picture, not a .npy file (output "
                   "'v.npy')\n") +
           kTryHelp,
       start},
      // The sub-band bytes are the 9/7's; a --wavelet the coefficients'
      // type contradicts is refused with the output left as it was.
      {{"--wavelet=5/3", "in.bmp"},
       2,
       "",
       std::string("dwt97: the 5/3 wavelet writes no sub-band bytes: name a .npy output or use "
                   "'--view' (output 'quilout.dat')\n") +
           kTryHelp,
       start},
      {{"--wavelet=5/3", "--format=pgm", "in.bmp", "c.npy"},
       2,
       "",
       std::string("dwt97: the 5/3 wavelet writes no sub-band bytes: name a .npy output or use "
                   "'--view' (output 'c.npy')\n") +
           kTryHelp,
       start},
      {{"--inverse", "--wavelet=9/7", "in53.npy", "in.bmp"},
       2,
       "",
       std::string("dwt97: INPUT holds int32 coefficients of the 5/3, not of the 9/7 (option "
                   "'--wavelet=9/7')\n") +
           kTryHelp,
       start},
      {{"--inverse", "--wavelet=5/3", "in.npy", "in.bmp"},
       2,
       "",
       std::string("dwt97: INPUT holds float32 coefficients of the 9/7, not of the 5/3 (option "
                   "'--wavelet=5/3')\n") +
           kTryHelp,
       start},
      // Saving over the input, by its name or through a link, is refused.
      {{"in.bmp", "in.bmp"}, 1, "", messages::kSameFile, start},
      {{"quilgray.bmp", "same.bmp"}, 1, "", messages::kSameFile, start},
      {{"same.bmp", "./quilgray.bmp"}, 1, "", messages::kSameFile, start},
      {{"gr\xC3\xA5.bmp", "./gr\xC3\xA5.bmp"}, 1, "", messages::kSameFile, start},
  };
  const Bytes picture8x4 = testsupport::build(picture(8, 4));
  const Bytes coefficients8x4 = npyOf(std::vector<float>(32, 1.25f), 8, 4);
  TempDir standardInput;
  writeFile(standardInput.file("in.bmp"), picture8x4);
  writeFile(standardInput.file("in.npy"), coefficients8x4);
  for (const Case& c : cases) {
    std::string label;
    for (const std::string& a : c.arguments) label += " '" + a + "'";
    SCOPED_TRACE("dwt97" + label);
    TempDir dir;
    writeFile(dir.file("in.bmp"), picture8x4);
    writeFile(dir.file("quilgray.bmp"), picture8x4);
    writeFile(dir.file("gr\xC3\xA5.bmp"), picture8x4);
    writeFile(dir.file("in.npy"), coefficients8x4);
    writeFile(dir.file("in53.npy"), npyOfInts(std::vector<std::int32_t>(32, 40), 8, 4));
#if defined(_WIN32)
    // A symbolic link needs a privilege there; a hard link names the file too.
    std::error_code error;
    std::filesystem::create_hard_link(fsPath(dir.file("quilgray.bmp")),
                                      fsPath(dir.file("same.bmp")), error);
    ASSERT_FALSE(error) << error.message();
#else
    ASSERT_EQ(symlink("quilgray.bmp", dir.file("same.bmp").c_str()), 0);
#endif
    RunOptions options;
    options.arguments = c.arguments;
    const bool inverse =
        std::find(c.arguments.begin(), c.arguments.end(), "--inverse") != c.arguments.end();
    options.input = standardInput.file(inverse ? "in.npy" : "in.bmp");
    const RunResult run = runTool(dir.path(), options);
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(matches(run.out, c.out)) << run.out;
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(listDir(dir.path()), c.files);
    EXPECT_EQ(readFile(dir.file("in.bmp")), picture8x4);
  }
}

// The format follows --format, else the output's name; a PGM file holds the
// raw output's rows, top row of the picture first: reversed for a bottom-up
// file, in order for a top-down one. Past 128 rows the top bit of the stored
// height's low byte is set either way (130 = 0x82, -130 = 0x...FF7E): only
// the sign decides the order.
TEST(CommandLine, PgmIsTheRawOutputUpright) {
  const struct {
    int height;
    bool topDown;
  } shapes[] = {{6, false}, {6, true}, {130, false}, {130, true}, {200, false}, {200, true}};
  for (const auto& shape : shapes) {
    const int width = 9, height = shape.height;
    const bool topDown = shape.topDown;
    SCOPED_TRACE(std::to_string(height) + (topDown ? " rows, top-down" : " rows, bottom-up"));
    testsupport::Picture p = picture(width, height);
    p.topDown = topDown;
    TempDir dir;
    writeFile(dir.file("quilgray.bmp"), testsupport::build(p));
    const char* const runs[][2] = {{"quilgray.bmp", "raw.dat"},
                                   {"quilgray.bmp", "named.PGM"},
                                   {"--format=pgm", "forced.dat"},
                                   {"--format=raw", "forced.pgm"}};
    for (const auto& arguments : runs) {
      RunOptions options;
      options.arguments = {arguments[0], arguments[1]};
      if (arguments[0][0] == '-')
        options.arguments.insert(options.arguments.begin() + 1, "quilgray.bmp");
      ASSERT_EQ(runTool(dir.path(), options).status, 0) << arguments[1];
    }
    const Bytes raw = readFile(dir.file("raw.dat"));
    ASSERT_EQ(raw.size(), static_cast<std::size_t>(width * height));
    EXPECT_EQ(readFile(dir.file("forced.pgm")), raw);
    const std::string header = "P5\n9 " + std::to_string(height) + "\n255\n";
    Bytes pgm(header.begin(), header.end());
    for (int k = 0; k < height; ++k) {
      const int r = topDown ? k : height - 1 - k;
      pgm.insert(pgm.end(), raw.begin() + r * width, raw.begin() + (r + 1) * width);
    }
    EXPECT_EQ(readFile(dir.file("named.PGM")), pgm);
    EXPECT_EQ(readFile(dir.file("forced.dat")), pgm);
  }
}

// --help and the manual page offer the same options.
TEST(CommandLine, HelpAndManualPageAgree) {
  TempDir dir;
  RunOptions options;
  options.arguments = {"--help"};
  const std::string help = runTool(dir.path(), options).out;
  std::ifstream page(DWT97_MAN_PAGE);
  const std::string manual((std::istreambuf_iterator<char>(page)),
                           std::istreambuf_iterator<char>());
  ASSERT_FALSE(manual.empty());
  // Option names as the help shows them, and as roff writes them (\-\-name).
  auto options_in = [](std::string text) {
    text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
    text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
    std::set<std::string> found;
    const std::regex option(R"((^|[\s,\[])(--?[a-zA-Z][a-z-]*))");
    for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) {
      found.insert((*it)[2]);
    }
    return found;
  };
  EXPECT_EQ(options_in(help), options_in(manual));
}

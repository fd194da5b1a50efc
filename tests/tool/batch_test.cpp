// Batches through the real binary (-t DIR INPUT...): the outputs' names,
// clashes refused before anything is written, a failure in the middle, the
// reports in the inputs' order, standard input and output as "-", a batch
// ended by a signal, and the progress line at a terminal. Every output must
// hold the bytes of a lone run of its picture.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "messages.h"
#include "picture_builder.h"
#include "shell_run.h"
#include "test_support.h"

using namespace testsupport;

namespace {

const char kTryHelp[] = "Try 'dwt97 --help'.\n";

// One row: the options common to its pictures, its inputs, and how it ends.
struct BatchRow {
  const char* what;
  std::vector<std::string> options;  // before -t out
  std::vector<std::string> inputs;
  int status;
  std::string out;                                        // standard output, exact
  std::string err;                                        // standard error, exact
  std::vector<std::pair<std::string, std::string>> made;  // out/NAME from INPUT
};

// The folder every row runs in: pictures under several names, a broken one
// and coefficients.
void fillFolder(const TempDir& dir) {
  const Bytes bmp = testsupport::build(picture(16, 8));
  writeFile(dir.file("a.bmp"), bmp);
  writeFile(dir.file(".hidden"), bmp);
  writeFile(dir.file("noext"), bmp);
  std::filesystem::create_directory(fsPath(dir.file("sub")));
  writeFile(dir.file("sub/c.tar.bmp"), testsupport::build(picture(9, 5)));
  std::vector<std::uint32_t> samples(12 * 6);
  for (std::size_t k = 0; k < samples.size(); ++k) samples[k] = (k * 37) % 256;
  writeFile(dir.file("b.pgm"), pgmFile("P5\n12 6\n255\n", samples, false));
  writeFile(dir.file("bad.bmp"), Bytes(bmp.begin(), bmp.begin() + 10));
  std::filesystem::create_directory(fsPath(dir.file("out")));
  std::filesystem::create_directory(fsPath(dir.file("lone")));
}

// The bytes a lone run of `input` writes with `options`, under `name`.
Bytes loneRun(const TempDir& dir, std::vector<std::string> options, const std::string& input,
              const std::string& name) {
  RunOptions run;
  run.arguments = std::move(options);
  run.arguments.insert(run.arguments.end(), {"-q", "--no-pause", input, "lone/" + name});
  const RunResult result = runTool(dir.path(), run);
  EXPECT_EQ(result.status, 0) << result.err;
  return readFile(dir.file("lone/" + name));
}

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(Batch, EveryRow) {
  const std::string report = reportFor(16, 8);
  const std::string pgmReport = "==== Picture ===\nFormat = PGM \nWidth = 12 \nHeight = 6 \n";
  const std::vector<BatchRow> rows = {
      {"names: the last suffix replaced, a leading dot kept, none added to",
       {"-q"},
       {"a.bmp", "sub/c.tar.bmp", ".hidden", "noext", "b.pgm"},
       0,
       "",
       "",
       {{"a.dat", "a.bmp"},
        {"c.tar.dat", "sub/c.tar.bmp"},
        {".hidden.dat", ".hidden"},
        {"noext.dat", "noext"},
        {"b.dat", "b.pgm"}}},
      {"the reports in the inputs' order, each under its name",
       {"--threads=2"},
       {"a.bmp", "b.pgm", "noext"},
       0,
       "==> a.bmp <==\n" + report + "\n==> b.pgm <==\n" + pgmReport + "\n==> noext <==\n" + report,
       "",
       {{"a.dat", "a.bmp"}, {"b.dat", "b.pgm"}, {"noext.dat", "noext"}}},
      {"a failure in the middle: named, nothing left, the others go on",
       {"--threads=1"},
       {"a.bmp", "bad.bmp", "noext"},
       1,
       "==> a.bmp <==\n" + report + "\n==> noext <==\n" + report,
       std::string("bad.bmp: ") + messages::kShort,
       {{"a.dat", "a.bmp"}, {"noext.dat", "noext"}}},
      {"every picture failing",
       {"-q", "--levels=9"},
       {"a.bmp", "b.pgm"},
       1,
       "",
       "a.bmp: Error: main(), Too many levels for the picture (at most 3)!\n"
       "b.pgm: Error: main(), Too many levels for the picture (at most 2)!\n",
       {}},
      {"coefficients and levels: .npy",
       {"-q", "--format=npy", "--levels=2"},
       {"a.bmp", "b.pgm"},
       0,
       "",
       "",
       {{"a.npy", "a.bmp"}, {"b.npy", "b.pgm"}}},
      {"the 5/3's view: .pgm",
       {"-q", "--wavelet=5/3", "--view", "--format=pgm"},
       {"a.bmp", "sub/c.tar.bmp"},
       0,
       "",
       "",
       {{"a.pgm", "a.bmp"}, {"c.tar.pgm", "sub/c.tar.bmp"}}},
      {"two inputs of one output: refused before anything is written",
       {"-q"},
       {"a.bmp", "b.pgm", "./a.bmp"},
       2,
       "",
       std::string("dwt97: inputs 'a.bmp' and './a.bmp' would both write 'out/a.dat'\n") + kTryHelp,
       {}},
      {"clashing by suffix alone",
       {"-q", "--format=pgm"},
       {"b.pgm", "sub/c.tar.bmp", "b.bmp"},
       2,
       "",
       std::string("dwt97: inputs 'b.pgm' and 'b.bmp' would both write 'out/b.pgm'\n") + kTryHelp,
       {}},
      {"the 5/3 asked for sub-band bytes, for every picture",
       {"-q", "--wavelet=5/3"},
       {"a.bmp"},
       2,
       "",
       std::string("dwt97: the 5/3 wavelet writes no sub-band bytes: name a .npy output or use "
                   "'--view' (output 'out/a.dat')\n") +
           kTryHelp,
       {}},
  };
  for (const BatchRow& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    fillFolder(dir);
    RunOptions run;
    run.arguments = row.options;
    run.arguments.insert(run.arguments.end(), {"-t", "out"});
    run.arguments.insert(run.arguments.end(), row.inputs.begin(), row.inputs.end());
    const RunResult result = runTool(dir.path(), run);
    EXPECT_EQ(result.status, row.status);
    EXPECT_EQ(result.out, row.out);
    EXPECT_EQ(result.err, row.err);
    std::vector<std::string> names;
    for (const auto& [name, input] : row.made) names.push_back(name);
    EXPECT_EQ(listDir(dir.file("out")), sorted(names));
    for (const auto& [name, input] : row.made) {
      SCOPED_TRACE(name);
      EXPECT_EQ(readFile(dir.file("out/" + name)), loneRun(dir, row.options, input, name));
    }
  }
}

// "-" as INPUT reads standard input, whatever its format; as OUTPUT it
// writes standard output, without the report.
TEST(Batch, StandardInputAndOutput) {
  const struct {
    std::vector<std::string> options;
    std::string input;
    std::string name;  // the lone run's output
  } rows[] = {
      {{}, "a.bmp", "a.dat"},
      {{"--format=pgm"}, "b.pgm", "b.pgm"},
      {{"--format=npy", "--levels=2"}, "sub/c.tar.bmp", "c.npy"},
      {{"--format=npy", "--wavelet=5/3"}, "a.bmp", "a.npy"},
      // Past the first chunk that standard input is read in.
      {{}, "wide.bmp", "wide.dat"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.input + " as " + row.name);
    TempDir dir;
    fillFolder(dir);
    writeFile(dir.file("wide.bmp"), testsupport::build(picture(300, 301)));
    RunOptions run;
    run.arguments = row.options;
    run.arguments.insert(run.arguments.end(), {"-", "-"});
    run.input = dir.file(row.input);
    const RunResult result = runTool(dir.path(), run);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(Bytes(result.rawOut.begin(), result.rawOut.end()),
              loneRun(dir, row.options, row.input, row.name));
  }
}

#if !defined(_WIN32)

// A signal in the middle of a batch: the outputs in place stay whole, the
// one under way leaves nothing, and the run ends by that signal.
TEST(Batch, EndedBySignal) {
  for (bool named : {false, true}) {
    if (named && (kNoUnnamedTemporaries || kNoPreloading)) continue;
    SCOPED_TRACE(named ? "named temporaries" : "unnamed temporaries");
    TempDir dir;
    fillFolder(dir);
    writeFile(dir.file("big.bmp"), testsupport::build(picture(1024, 1024)));
    const Bytes whole = loneRun(dir, {}, "big.bmp", "big.dat");
    std::vector<std::string> arguments = {"-q", "--threads=2", "-t", "out"};
    std::vector<std::string> outputs;
    for (int k = 0; k < 200; ++k) {
      const std::string name = "p" + std::to_string(k);
      ASSERT_EQ(symlink("big.bmp", dir.file(name + ".bmp").c_str()), 0);
      arguments.push_back(name + ".bmp");
      outputs.push_back(name + ".dat");
    }
    Shell shell;
    if (named) shell.environment = namedTemporaries();
    ShellRun run(dir.path(), shell, arguments);
    ASSERT_TRUE(run.started());
    // Until the first output is in place (a named temporary shows first).
    auto anyDone = [&] {
      for (const std::string& name : listDir(dir.file("out"))) {
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dat") == 0) return true;
      }
      return false;
    };
    for (int k = 0; k < 20000 && !anyDone(); ++k) usleep(500);
    run.signal(SIGTERM);
    const int status = run.finish();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << run.err();
    const std::vector<std::string> left = listDir(dir.file("out"));
    EXPECT_GE(left.size(), 1u);
    EXPECT_LT(left.size(), outputs.size());
    for (const std::string& name : left) {
      SCOPED_TRACE(name);
      EXPECT_NE(std::find(outputs.begin(), outputs.end(), name), outputs.end());
      EXPECT_EQ(readFile(dir.file("out/" + name)), whole);
    }
  }
}

// The progress line: on a terminal for more than one picture, not with -q
// and not for one; cleared at the end.
TEST(Batch, ProgressAtATerminal) {
  const struct {
    std::vector<std::string> arguments;
    bool shown;
  } rows[] = {
      {{"-t", "out", "a.bmp", "noext", "b.pgm"}, true},
      {{"-q", "-t", "out", "a.bmp", "noext"}, false},
      {{"-t", "out", "a.bmp"}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arguments.size());
    TempDir dir;
    fillFolder(dir);
    Shell shell;
    shell.err = Shell::Stream::terminal;
    ShellRun run(dir.path(), shell, row.arguments);
    ASSERT_TRUE(run.started());
    const int status = run.finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const Bytes shown = run.echoed();
    const std::string text(shown.begin(), shown.end());
    if (!row.shown) {
      EXPECT_EQ(text, "");
      continue;
    }
    EXPECT_NE(text.find("/3 pictures"), std::string::npos) << text;
    // The last thing written blanks the line and returns to its start.
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\r');
    const std::size_t blank = text.rfind('\r', text.size() - 2);
    ASSERT_NE(blank, std::string::npos);
    EXPECT_EQ(text.find_first_not_of(' ', blank + 1), text.size() - 1) << text;
  }
}

#endif  // !_WIN32

// The tool as a shell runs it: closed standard descriptors, pipes whose
// reader is gone, standard output as the output, signals ignored or arriving
// at the pause, FIFOs, links, devices, kept permissions, long names and full
// disks. Every row checks the status, the bytes, that no temporary is left
// and that an older output is intact wherever the run fails; where the
// system has unnamed temporaries, the rows run again with named ones.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dwt97/bitmap.h"
#include "dwt97/filterbank.h"
#include "messages.h"
#include "platform/platform.h"
#include "shell_run.h"
#include "test_support.h"

using namespace testsupport;

namespace {

const Bytes kOlder = {'o', 'l', 'd', 0, 1, 2, 255};

// A 255-byte name: the longest a folder entry can have.
const std::string kLongestName = std::string(251, 'n') + ".dat";

}  // namespace

// The longest name works: the temporary's name is shortened to fit.
TEST(Shell, LongestOutputName) {
  for (bool named : {false, true}) {
    if (named && (kNoUnnamedTemporaries || kNoPreloading)) continue;
    SCOPED_TRACE(named ? "named temporaries" : "unnamed temporaries");
    TempDir dir;
    writeFile(dir.file("quilgray.bmp"), testsupport::build(picture(16, 8)));
    RunOptions options;
    options.arguments = {"--no-pause", "quilgray.bmp", kLongestName};
    if (named) options.environment = namedTemporaries();
    const RunResult run = runTool(dir.path(), options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(readFile(dir.file(kLongestName)), transformed(16, 8, picture(16, 8).pixels));
    EXPECT_EQ(listDir(dir.path()), (std::vector<std::string>{kLongestName, "quilgray.bmp"}));
  }
}

#if !defined(_WIN32)

namespace {

// What happens at the pause, for a row run at a terminal.
struct AtPause {
  std::vector<int> signals;  // sent one after the other
  bool key = true;           // then a key is pressed
};

// One row: how the tool is run, and how it must end.
struct Row {
  const char* what;
  Shell shell;
  std::vector<std::string> arguments;
  AtPause atPause;
  int exitStatus;  // -1: killed by `signal`
  int signal;
  std::string err;
  bool outputWritten;        // "out.dat" holds the result, else the older bytes
  bool streamed = false;     // standard output holds the result, else no byte
  bool pgm = false;          // and the result is a PGM picture
  bool unnamedOnly = false;  // holds only where the temporary has no name
};

std::string exitText(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

const testsupport::Picture& smallPicture() {
  static const testsupport::Picture p = picture(16, 8);
  return p;
}

Shell streams(Shell::Stream out, Shell::Stream err) {
  Shell shell;
  shell.out = out;
  shell.err = err;
  return shell;
}

Row row(const char* what, Shell shell, std::vector<std::string> arguments, int exitStatus,
        int signal = 0, std::string err = "", bool outputWritten = false) {
  Row r;
  r.what = what;
  r.shell = std::move(shell);
  r.arguments = std::move(arguments);
  r.exitStatus = exitStatus;
  r.signal = signal;
  r.err = std::move(err);
  r.outputWritten = outputWritten;
  return r;
}

Row atPause(Row r, std::vector<int> signals, bool key) {
  r.atPause.signals = std::move(signals);
  r.atPause.key = key;
  return r;
}

Row streamedRow(Row r) {
  r.streamed = true;
  return r;
}

std::vector<Row> rows() {
  using S = Shell::Stream;
  const std::vector<std::string> noPause = {"--no-pause", "in.bmp", "out.dat"};
  const std::vector<std::string> pause = {"in.bmp", "out.dat"};
  const std::string full = "dwt97: write error: No space left on device\n";
  Shell pipeIgnored = streams(S::readerGone, S::file);
  pipeIgnored.ignored = {SIGPIPE};
  std::vector<Row> table = {
      // The report would have gone over the output's first bytes.
      row(">&-", streams(S::closed, S::file), noPause, 0, 0, "", true),
      row(">&- 2>&-", streams(S::closed, S::closed), noPause, 0, 0, "", true),
      // The prompt would have gone into the output.
      row("2>&- at a terminal", streams(S::file, S::closed), pause, 0, 0, "", true),
      row("| true", streams(S::readerGone, S::file), noPause, -1, SIGPIPE),
      row("| true, SIGPIPE ignored", pipeIgnored, noPause, 1, 0,
          "dwt97: write error: Broken pipe\n"),
      row("report >/dev/full", streams(S::full, S::file), noPause, 1, 0, full),
      row("--help >/dev/full", streams(S::full, S::file), {"--help"}, 1, 0, full),
      row("--version >/dev/full", streams(S::full, S::file), {"--version"}, 1, 0, full),
      // Quit, alarm and terminate at the pause end the run cleanly.
      atPause(row("SIGQUIT at the pause", atTerminal(), pause, -1, SIGQUIT), {SIGQUIT}, false),
      atPause(row("SIGALRM at the pause", atTerminal(), pause, -1, SIGALRM), {SIGALRM}, false),
      atPause(row("SIGTERM at the pause", atTerminal(), pause, -1, SIGTERM), {SIGTERM}, false),
      atPause(row("SIGXCPU at the pause", atTerminal(), pause, -1, SIGXCPU), {SIGXCPU}, false),
  };
  // Nothing can remove a temporary after SIGKILL: one with no name goes with
  // the process.
  Row killed =
      atPause(row("SIGKILL at the pause", atTerminal(), pause, -1, SIGKILL), {SIGKILL}, false);
  killed.unnamedOnly = true;
  if (!kNoUnnamedTemporaries) table.push_back(killed);
  // Standard output named as the output, through its links: a pipe or a
  // terminal is written in place; a file is replaced like any other. As "-"
  // it is written in place whatever it is, and takes no report.
  for (const char* name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1", "-"}) {
    table.push_back(
        streamedRow(row(name, streams(S::pipe, S::file), {"-q", "--no-pause", "in.bmp", name}, 0)));
  }
  table.push_back(streamedRow(
      row("- without -q", streams(S::pipe, S::file), {"--no-pause", "in.bmp", "-"}, 0)));
  table.push_back(
      streamedRow(row("- > file", streams(S::file, S::file), {"--no-pause", "in.bmp", "-"}, 0)));
  table.push_back(streamedRow(
      row("- at a terminal", streams(S::terminal, S::file), {"--no-pause", "in.bmp", "-"}, 0)));
  Row pgmDash = streamedRow(row("PGM into -", streams(S::pipe, S::file),
                                {"--format=pgm", "--no-pause", "in.bmp", "-"}, 0));
  pgmDash.pgm = true;
  table.push_back(pgmDash);
  // A PGM picture into a pipe shows a bottom-up bitmap upright as well.
  Row pgm = streamedRow(row("PGM into /dev/stdout", streams(S::pipe, S::file),
                            {"-q", "--no-pause", "--format=pgm", "in.bmp", "/dev/stdout"}, 0));
  pgm.pgm = true;
  table.push_back(pgm);
  table.push_back(streamedRow(row("/dev/stdout at a terminal", streams(S::terminal, S::file),
                                  {"-q", "--no-pause", "in.bmp", "/dev/stdout"}, 0)));
  table.push_back(streamedRow(row("/dev/stdout > file", streams(S::file, S::file),
                                  {"-q", "--no-pause", "in.bmp", "/dev/stdout"}, 0)));
  table[2].shell.terminal = true;
  // The report passes a file-size limit: SIGXFSZ ends the run, cleanly.
  Shell limited;
  limited.fileSizeLimit = 100;
  table.push_back(row("report past ulimit -f", limited, noPause, -1, SIGXFSZ));
  // A signal ignored from the start stays ignored at the pause: the run goes
  // on to the key.
  for (int number : {SIGINT, SIGHUP, SIGTERM, SIGQUIT}) {
    table.push_back(
        atPause(row("ignored signal at the pause", atTerminal({number}), pause, 0, 0, "", true),
                {number}, true));
  }
  const std::vector<int> nohup = {SIGINT, SIGHUP, SIGTERM, SIGQUIT};
  table.push_back(
      atPause(row("everything ignored at once (nohup)", atTerminal(nohup), pause, 0, 0, "", true),
              nohup, true));
  return table;
}

// One row, with the unnamed temporaries where the system has them or with
// named ones.
void checkRow(const Row& row, bool named) {
  SCOPED_TRACE(row.what + std::string(" (signal ") +
               std::to_string(row.shell.ignored.empty() ? 0 : row.shell.ignored[0]) + ")" +
               (named ? ", named temporaries" : ""));
  const Bytes result = transformed(16, 8, smallPicture().pixels);
  // The PGM of it: rows from the last, so that the bitmap's top comes first.
  Bytes pgm = {'P', '5', '\n', '1', '6', ' ', '8', '\n', '2', '5', '5', '\n'};
  for (int r = 7; r >= 0; --r)
    pgm.insert(pgm.end(), result.begin() + r * 16, result.begin() + r * 16 + 16);
  TempDir dir;
  writeFile(dir.file("in.bmp"), testsupport::build(smallPicture()));
  writeFile(dir.file("out.dat"), kOlder);
  Shell shell = row.shell;
  if (named) shell.environment = namedTemporaries();
  ShellRun run(dir.path(), shell, row.arguments);
  ASSERT_TRUE(run.started());
  if (row.shell.terminal) {
    ASSERT_TRUE(run.waitForPause()) << run.err();
    for (int number : row.atPause.signals) run.signal(number);
    if (row.atPause.key) {
      usleep(20000);
      EXPECT_TRUE(run.stillRunning());
      run.type("x");
      EXPECT_EQ(run.finish() >= 0 ? run.echoed() : Bytes{'?'}, Bytes{}) << "the key is not echoed";
    }
  }
  const int status = run.finish();
  if (row.exitStatus >= 0) {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == row.exitStatus)
        << exitText(status) << "\n"
        << run.err();
  } else {
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << exitText(status);
  }
  if (row.shell.err == Shell::Stream::file && !row.shell.terminal) {
    EXPECT_EQ(run.err(), row.err);
  }
  EXPECT_EQ(readFile(dir.file("out.dat")), row.outputWritten ? result : kOlder);
  EXPECT_EQ(listDir(dir.path()), (std::vector<std::string>{"in.bmp", "out.dat"}));
  if (row.shell.terminal && row.signal != SIGKILL) {  // which nothing outlives
    EXPECT_EQ(run.terminal().c_lflag, run.terminalBefore().c_lflag);
  }
  // Standard output: the result where it is the output, else not a byte of
  // it (a captured file holds the report).
  if (row.streamed || row.shell.out == Shell::Stream::pipe ||
      row.shell.out == Shell::Stream::terminal) {
    EXPECT_EQ(run.outBytes(), !row.streamed ? Bytes{} : row.pgm ? pgm : result);
  }
  std::vector<std::string> captured;  // and beside them no temporary
  if (row.shell.err == Shell::Stream::file) captured.push_back("stderr");
  if (row.shell.out == Shell::Stream::file) captured.push_back("stdout");
  EXPECT_EQ(listDir(run.captureFolder()), captured);
}

}  // namespace

TEST(Shell, EveryRow) {
  for (const Row& row : rows()) {
    checkRow(row, false);
    if (!kNoUnnamedTemporaries && !kNoPreloading && !row.unnamedOnly) checkRow(row, true);
  }
}

namespace {

bool isFifo(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
}

}  // namespace

// Outputs that are not regular files: a FIFO and a device are written in
// place (the FIFO's reader gets the bytes), links are followed and stay
// links, a FIFO as input is refused at once.
TEST(Shell, SpecialFiles) {
  const Bytes expected = transformed(16, 8, smallPicture().pixels);
  TempDir dir;
  writeFile(dir.file("in.bmp"), testsupport::build(smallPicture()));

  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  Bytes streamed;
  std::thread reader([&] { streamed = readFile(dir.file("fifo")); });
  RunResult run = shellRun(dir.path(), {"--no-pause", "in.bmp", "fifo"});
  reader.join();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(streamed, expected);
  EXPECT_TRUE(isFifo(dir.file("fifo")));

  // A reader that goes away mid-write fails the write; the run is not
  // killed by SIGPIPE.
  const testsupport::Picture large = picture(512, 512);
  writeFile(dir.file("large.bmp"), testsupport::build(large));
  std::thread leaver([&] {
    std::FILE* fifo = std::fopen(dir.file("fifo").c_str(), "rb");
    if (fifo != nullptr) {
      std::fgetc(fifo);
      std::fclose(fifo);
    }
  });
  run = shellRun(dir.path(), {"--no-pause", "-q", "large.bmp", "fifo"});
  leaver.join();
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, messages::kWrite);

  run = shellRun(dir.path(), {"--no-pause", "fifo", "out.dat"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, messages::kNotRegular);
  EXPECT_FALSE(exists(dir.file("out.dat")));

  // A chain of two links to a file in a subfolder, a dangling one and an
  // absolute one.
  ASSERT_TRUE(makeFolder(dir.file("sub")));
  writeFile(dir.file("sub/target.dat"), kOlder);
  writeFile(dir.file("sub/absolute.dat"), kOlder);
  ASSERT_EQ(symlink("sub/target.dat", dir.file("first").c_str()), 0);
  ASSERT_EQ(symlink("first", dir.file("second").c_str()), 0);
  ASSERT_EQ(symlink("sub/new.dat", dir.file("dangling").c_str()), 0);
  ASSERT_EQ(symlink(dir.file("sub/absolute.dat").c_str(), dir.file("absolute").c_str()), 0);
  for (const char* link : {"second", "dangling", "absolute"}) {
    SCOPED_TRACE(link);
    run = shellRun(dir.path(), {"--no-pause", "in.bmp", link});
    EXPECT_EQ(run.status, 0) << run.err;
    struct stat info;
    ASSERT_EQ(lstat(dir.file(link).c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(readFile(dir.file(link)), expected);
  }
  EXPECT_EQ(listDir(dir.file("sub")),
            (std::vector<std::string>{"absolute.dat", "new.dat", "target.dat"}));
  EXPECT_EQ(listDir(dir.path()),
            (std::vector<std::string>{"absolute", "dangling", "fifo", "first", "in.bmp",
                                      "large.bmp", "second", "sub"}));

  // Devices: root makes its own in the test folder (never the system's); an
  // ordinary user may use the system's, which it cannot replace.
  const bool ownDevices = geteuid() == 0 &&
                          mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
                          mknod(dir.file("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
  const std::string null = ownDevices ? dir.file("null") : "/dev/null";
  const std::string full = ownDevices ? dir.file("full") : "/dev/full";
  if (geteuid() != 0 || ownDevices) {
    run = shellRun(dir.path(), {"--no-pause", "in.bmp", null});
    EXPECT_EQ(run.status, 0) << run.err;
    run = shellRun(dir.path(), {"--no-pause", "in.bmp", full});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, messages::kWrite);
    for (const std::string& device : {null, full}) {
      struct stat info;
      ASSERT_EQ(lstat(device.c_str(), &info), 0);
      EXPECT_TRUE(S_ISCHR(info.st_mode)) << device;
    }
  }
  // /dev/null as an ordinary user: discarded, not refused.
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  ASSERT_EQ(chmod(dir.file("in.bmp").c_str(), 0644), 0);
  Shell ordinary;
  ordinary.ordinaryUser = true;
  run = shellRun(dir.path(), {"--no-pause", "in.bmp", "/dev/null"}, ordinary);
  EXPECT_EQ(run.status, 0) << run.err;
}

// A replaced output keeps its permission bits, for an ordinary user too;
// one the user may not write is refused as a plain create would be, and
// stays as it was. With either kind of temporary.
TEST(Shell, Permissions) {
  const Bytes expected = transformed(16, 8, smallPicture().pixels);
  for (bool named : {false, true}) {
    if (named && (kNoUnnamedTemporaries || kNoPreloading)) continue;
    SCOPED_TRACE(named ? "named temporaries" : "unnamed temporaries");
    Shell shell;
    if (named) shell.environment = namedTemporaries();
    TempDir dir;
    writeFile(dir.file("in.bmp"), testsupport::build(smallPicture()));
    writeFile(dir.file("private.dat"), kOlder);
    ASSERT_EQ(chmod(dir.file("private.dat").c_str(), 0600), 0);
    RunResult run = shellRun(dir.path(), {"--no-pause", "in.bmp", "private.dat"}, shell);
    EXPECT_EQ(run.status, 0) << run.err;
    struct stat info;
    ASSERT_EQ(stat(dir.file("private.dat").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(readFile(dir.file("private.dat")), expected);
    // Root keeps every bit, set-user-id and set-group-id included, as a
    // write in place would (the owner is set first, which clears them).
    if (geteuid() == 0) {
      writeFile(dir.file("setid.dat"), kOlder);
      ASSERT_EQ(chown(dir.file("setid.dat").c_str(), 65534, 65534), 0);
      ASSERT_EQ(chmod(dir.file("setid.dat").c_str(), 06755), 0);
      run = shellRun(dir.path(), {"--no-pause", "in.bmp", "setid.dat"}, shell);
      EXPECT_EQ(run.status, 0) << run.err;
      ASSERT_EQ(stat(dir.file("setid.dat").c_str(), &info), 0);
      EXPECT_EQ(info.st_mode & 07777, 06755u);
      EXPECT_EQ(info.st_uid, 65534u);
      EXPECT_EQ(readFile(dir.file("setid.dat")), expected);
      ASSERT_EQ(std::remove(dir.file("setid.dat").c_str()), 0);
    }

    writeFile(dir.file("readonly.dat"), kOlder);
    writeFile(dir.file("shared.dat"), kOlder);
    ASSERT_EQ(chmod(dir.file("readonly.dat").c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir.file("shared.dat").c_str(), 0664), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    ASSERT_EQ(chmod(dir.file("in.bmp").c_str(), 0644), 0);
    // Given to the ordinary user, as a file of theirs would be.
    if (geteuid() == 0) {
      ASSERT_EQ(chown(dir.file("shared.dat").c_str(), 65534, 65534), 0);
    }
    shell.ordinaryUser = true;
    run = shellRun(dir.path(), {"--no-pause", "in.bmp", "readonly.dat"}, shell);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, messages::kCreate);
    EXPECT_EQ(readFile(dir.file("readonly.dat")), kOlder);
    run = shellRun(dir.path(), {"--no-pause", "in.bmp", "shared.dat"}, shell);
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(stat(dir.file("shared.dat").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0664u);
    EXPECT_EQ(readFile(dir.file("shared.dat")), expected);
    EXPECT_EQ(listDir(dir.path()),
              (std::vector<std::string>{"in.bmp", "private.dat", "readonly.dat", "shared.dat"}));
  }
}

#endif  // !_WIN32

// The tool's batch (see batch.h): the outputs named and checked for
// clashes, then workers take the pictures in turn, each run as a lone run
// would (the same bytes), while the first thread prints their reports and
// failures in the inputs' order and keeps the progress line.
#include "batch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "dwt97/picture.h"
#include "outcome.h"
#include "platform/platform.h"
#include "progress.h"
#include "run.h"

namespace dwt97::tool {

namespace {

bool isSeparator(char c) {
#if defined(_WIN32)
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

const char* suffixOf(Format format) {
  switch (format) {
    case Format::pgm:
      return ".pgm";
    case Format::png:
      return ".png";
    case Format::npy:
      return ".npy";
    default:
      return ".dat";
  }
}

// The spelling two outputs are compared in: as they are, or on Windows,
// whose names ignore case, in lower case.
std::string comparable(std::string name) {
#if defined(_WIN32)
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
#endif
  return name;
}

// One picture of the batch: its job, and what its run left.
struct Slot {
  std::string output;
  Report report;
  Ending ending;
  bool done = false;
};

}  // namespace

std::string batchOutputName(const char* folder, const char* input, Format format) {
  const char* base = input;
  for (const char* c = input; *c != '\0'; ++c) {
    if (isSeparator(*c)) base = c + 1;
  }
  std::string stem = base;
  const std::size_t dot = stem.rfind('.');
  if (dot != std::string::npos && dot > 0) stem.erase(dot);
  std::string name = folder;
  if (!name.empty() && !isSeparator(name.back())) name += '/';
  return name + stem + suffixOf(format);
}

int runBatch(const Options& batch) {
  const Format format = outputFormat(batch);
  const std::size_t count = batch.inputs.size();
  std::vector<Slot> slots(count);
  std::map<std::string, std::size_t> taken;
  for (std::size_t k = 0; k < count; ++k) {
    slots[k].output = batchOutputName(batch.targetDirectory, batch.inputs[k], format);
    const auto [where, fresh] = taken.emplace(comparable(slots[k].output), k);
    if (!fresh) {
      return usageError(std::string("inputs '") + batch.inputs[where->second] + "' and '" +
                        batch.inputs[k] + "' would both write '" + slots[k].output + "'");
    }
  }
  Options options = batch;
  options.output = slots[0].output.c_str();  // named by the refusals below
  options.pause = false;
  if (const int status = checkCombination(options, format); status >= 0) return status;
  if (format == Format::png && !canWritePng()) {
    return usageError("this build writes no PNG files (option '--format=png')");
  }

  // Handlers installed once for the whole batch, not for every save.
  detail::keepInterruptHandlers();

  // Pictures side by side, each on its share of the threads.
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t threads =
      options.threads == 0 ? cores : static_cast<std::size_t>(options.threads);
  const std::size_t workers = std::min(threads, count);
  options.threads = static_cast<int>(std::max<std::size_t>(1, threads / workers));

  std::mutex lock;
  std::condition_variable finished;
  std::atomic<std::size_t> next{0};
  std::size_t doneCount = 0;
  auto work = [&] {
    for (std::size_t k = next++; k < count; k = next++) {
      Slot& slot = slots[k];
      Ending ending;
      try {
        const Job job{batch.inputs[k], slot.output.c_str(), format};
        ending = runPicture(options, job, [&slot](const Report& report) {
          slot.report = report;
          return -1;
        });
      } catch (const std::bad_alloc&) {
        ending = failedWith({Failure::outOfMemory, "main"});
      }
      const std::lock_guard<std::mutex> hold(lock);
      slot.ending = std::move(ending);
      slot.done = true;
      ++doneCount;
      finished.notify_one();
    }
  };
  std::vector<std::thread> pool;
  for (std::size_t w = 0; w < workers; ++w) pool.emplace_back(work);

  // The reports and failures in the inputs' order, as each picture's turn
  // comes and its run has ended.
  Progress progress(stderr, count, count > 1 && !batch.quiet && detail::standardErrorIsTerminal());
  bool anyFailed = false;
  bool anyReported = false;
  for (std::size_t k = 0; k < count; ++k) {
    std::unique_lock<std::mutex> hold(lock);
    while (!slots[k].done) {
      const std::size_t done = doneCount;
      hold.unlock();
      progress.update(done);
      hold.lock();
      finished.wait_for(hold, std::chrono::milliseconds(100));
    }
    const std::size_t done = doneCount;
    hold.unlock();
    const Slot& slot = slots[k];
    if (slot.ending.status != 0) {
      anyFailed = true;
      progress.clear();
      const bool usage = slot.ending.status == 2;
      std::fprintf(stderr, "%s: %s%s%s", batch.inputs[k], usage ? "dwt97: " : "",
                   slot.ending.message.c_str(), usage ? "\n" : "");
      std::fflush(stderr);
    } else if (!batch.quiet) {
      progress.clear();
      std::printf("%s==> %s <==\n", anyReported ? "\n" : "", batch.inputs[k]);
      printReport(slot.report);
      std::fflush(stdout);
      anyReported = true;
    }
    progress.update(done);
  }
  for (std::thread& worker : pool) worker.join();
  progress.clear();
  return finishOutput(anyFailed ? 1 : 0);
}

}  // namespace dwt97::tool

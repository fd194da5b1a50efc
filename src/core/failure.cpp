// The failure table made from DWT97_FAILURE_LIST (dwt97/failure.h), the one
// formatter of its messages, and the report of the process-ending
// operations through the handler seam.
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "core/report.h"

namespace dwt97 {
namespace {

struct Entry {
  Failure kind;
  FailureGroup group;
  const char* name;
  const char* text;  // for outOfMemory and tooManyLevels a printf format
};

constexpr Entry kFailures[] = {
#define DWT97_FAILURE_ENTRY(name, group, text) {Failure::name, FailureGroup::group, #name, text},
    DWT97_FAILURE_LIST(DWT97_FAILURE_ENTRY)
#undef DWT97_FAILURE_ENTRY
};
constexpr std::size_t kCount = sizeof kFailures / sizeof kFailures[0];

constexpr bool tableInOrder() {
  for (std::size_t k = 0; k < kCount; ++k) {
    if (static_cast<std::size_t>(kFailures[k].kind) != k) return false;
  }
  return true;
}
static_assert(tableInOrder(), "one entry per failure, in the enumeration's order");

// A message holds no conversion but, in this order, "%s" (the operation) and
// "%d" (the most levels), so that every one is formatted with both.
constexpr bool formatsKnown() {
  for (std::size_t k = 0; k < kCount; ++k) {
    int seen = 0;
    for (const char* c = kFailures[k].text; *c != '\0'; ++c) {
      if (*c != '%') continue;
      const char expected = seen == 0 ? 's' : 'd';
      if (c[1] != expected || seen == 2) return false;
      ++seen;
      ++c;
    }
  }
  return true;
}
static_assert(formatsKnown(), "a message's only conversions are %s, then %d");

const Entry& entry(Failure failure) {
  const auto k = static_cast<std::size_t>(failure);
  return kFailures[k < kCount ? k : static_cast<std::size_t>(Failure::outOfMemory)];
}

std::atomic<FatalHandler> fatalHandler{nullptr};

}  // namespace

const char* formatFailure(const Error& error, char* buffer, std::size_t size) {
  if (size == 0) return buffer;
  const char* text = entry(error.failure).text;
  const char* operation = error.operation != nullptr ? error.operation : "";
  // Every message is a format of at most these two arguments (formatsKnown).
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
#endif
  std::snprintf(buffer, size, text, operation, error.mostLevels);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  return buffer;
}

const char* failureName(Failure failure) { return entry(failure).name; }

FailureGroup failureGroup(Failure failure) { return entry(failure).group; }

const FailureInfo& failureInfo(Failure kind) {
  static const FailureInfo* const table = [] {
    static FailureInfo infos[kCount];
    for (std::size_t k = 0; k < kCount; ++k) {
      infos[k] = {kFailures[k].kind, kFailures[k].group, kFailures[k].text};
    }
    return infos;
  }();
  return table[static_cast<std::size_t>(entry(kind).kind)];
}

void setFatalHandler(FatalHandler handler) { fatalHandler.store(handler); }

namespace detail {

void fatal(const char* message) {
  if (const FatalHandler handler = fatalHandler.load()) handler(message);
  std::fputs(message, stderr);
  std::fflush(stderr);
  std::exit(1);
}

void report(const std::optional<Error>& error) {
  if (!error) return;
  char message[kMessageCapacity];
  fatal(formatFailure(*error, message, sizeof message));
}

}  // namespace detail
}  // namespace dwt97

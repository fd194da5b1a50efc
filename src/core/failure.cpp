#include "core/report.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace dwt97 {
namespace {

// Every message the library and the tool can report, in the order of the
// enumeration.
constexpr FailureInfo kFailures[] = {
#define DWT97_FAILURE_ENTRY(name, group, text) {Failure::name, FailureGroup::group, text},
    DWT97_FAILURE_LIST(DWT97_FAILURE_ENTRY)
#undef DWT97_FAILURE_ENTRY
};

constexpr bool tableInOrder() {
  for (std::size_t k = 0; k < sizeof kFailures / sizeof kFailures[0]; ++k) {
    if (static_cast<std::size_t>(kFailures[k].kind) != k) return false;
  }
  return true;
}
static_assert(tableInOrder(), "one entry per failure, in the enumeration's order");

std::atomic<FatalHandler> fatalHandler{nullptr};

}  // namespace

const FailureInfo& failureInfo(Failure kind) { return kFailures[static_cast<std::size_t>(kind)]; }

void setFatalHandler(FatalHandler handler) { fatalHandler.store(handler); }

namespace detail {

void fatal(const char* message) {
  if (const FatalHandler handler = fatalHandler.load()) handler(message);
  std::fputs(message, stderr);
  std::fflush(stderr);
  std::exit(1);
}

void fail(Failure kind) { fatal(failureInfo(kind).text); }

void report(const std::optional<Failure>& failure, const char* operation) {
  if (!failure) return;
  if (*failure == Failure::outOfMemory) failOutOfMemory(operation);
  fail(*failure);
}

void failOutOfMemory(const char* who) {
  char message[160];
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  std::snprintf(message, sizeof message, failureInfo(Failure::outOfMemory).text, who);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  fatal(message);
}

void failTooManyLevels(const char* who, int most) {
  char message[160];
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  std::snprintf(message, sizeof message, failureInfo(Failure::tooManyLevels).text, who, most);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  fatal(message);
}

}  // namespace detail
}  // namespace dwt97

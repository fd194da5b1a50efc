// The name of a save's temporary (see temporary_names.h).
#include "platform/temporary_names.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace dwt97::detail {

sys::PathChar* temporaryBeside(const sys::PathChar* target, std::size_t* suffix) {
  std::size_t length = 0;
  while (target[length] != 0) ++length;
  const std::size_t nameStart = static_cast<std::size_t>(sys::baseName(target) - target);
  std::size_t keep = length;
  if (length - nameStart + 7 > sys::kNameLimit) {
    keep = nameStart + (sys::kNameLimit - 7);
    // Back off to the start of a character: no UTF-8 continuation byte, no
    // UTF-16 low surrogate.
    auto continues = [](sys::PathChar c) {
      const unsigned u = static_cast<unsigned>(c);
      return sizeof(sys::PathChar) == 1 ? (u & 0xC0u) == 0x80u : (u >= 0xDC00u && u <= 0xDFFFu);
    };
    while (keep > nameStart && continues(target[keep])) --keep;
  }
  auto* temporary = static_cast<sys::PathChar*>(std::malloc(sizeof(sys::PathChar) * (keep + 8)));
  if (temporary == nullptr) return nullptr;
  std::memcpy(temporary, target, sizeof(sys::PathChar) * keep);
  temporary[keep] = '.';
  temporary[keep + 7] = 0;
  *suffix = keep;
  return temporary;
}

void fillLetters(sys::PathChar* temporary, std::size_t suffix) {
  static std::atomic<std::uint64_t> calls{0};
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::uint64_t bits = sys::entropy() ^ (calls.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  for (int k = 1; k <= 6; ++k) {
    bits ^= bits >> 29;
    bits *= 0xBF58476D1CE4E5B9ull;
    bits ^= bits >> 32;
    temporary[suffix + k] = static_cast<sys::PathChar>(kLetters[bits % 62]);
  }
}

}  // namespace dwt97::detail

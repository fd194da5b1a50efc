// The header of a .npy file: the Python dict literal of 'descr',
// 'fortran_order' and 'shape', read in any order and with any spacing, and
// judged as the array it describes: float32 or int32, of either byte order.
#include <cstdint>
#include <cstring>
#include <optional>

#include "coefficients/npy_format.h"
#include "dwt97/planes.h"

namespace dwt97::detail {
namespace {

// Entries of a shape past this stand for "too large" alike; it keeps the
// product of two of them from overflowing once the rows are checked.
constexpr std::uint64_t kSaturated = std::uint64_t{1} << 40;

// Nesting deeper than this in a value numpy never writes is refused rather
// than followed.
constexpr int kDeepest = 32;

// A string's bytes, between its quotes.
struct Text {
  const char* at = nullptr;
  std::size_t length = 0;

  bool is(const char* word) const {
    return std::strlen(word) == length && std::memcmp(at, word, length) == 0;
  }
};

// The Python literals a header holds, read left to right.
class Reader {
 public:
  Reader(const char* text, std::size_t length) : at_(text), end_(text + length) {}

  void skipBlanks() {
    while (at_ < end_ && (*at_ == ' ' || *at_ == '\t' || *at_ == '\n' || *at_ == '\r' ||
                          *at_ == '\f' || *at_ == '\v')) {
      ++at_;
    }
  }

  bool atEnd() {
    skipBlanks();
    return at_ == end_;
  }

  // The next character after blanks, or '\0' at the end.
  char peek() {
    skipBlanks();
    return at_ < end_ ? *at_ : '\0';
  }

  bool take(char c) {
    if (peek() != c) return false;
    ++at_;
    return true;
  }

  // A string in single or double quotes, without escapes.
  bool string(Text* text) {
    const char quote = peek();
    if (quote != '\'' && quote != '"') return false;
    const char* start = ++at_;
    while (at_ < end_ && *at_ != quote) {
      if (*at_ == '\\' || *at_ == '\n') return false;
      ++at_;
    }
    if (at_ == end_) return false;
    *text = {start, static_cast<std::size_t>(at_ - start)};
    ++at_;
    return true;
  }

  // A name such as True, False or None, whole.
  bool name(Text* text) {
    skipBlanks();
    const char* start = at_;
    while (at_ < end_ && ((*at_ >= 'A' && *at_ <= 'Z') || (*at_ >= 'a' && *at_ <= 'z'))) ++at_;
    *text = {start, static_cast<std::size_t>(at_ - start)};
    return at_ != start;
  }

  // A decimal integer with an optional sign (and the 'L' of files written
  // by Python 2), saturating at kSaturated.
  bool integer(std::uint64_t* magnitude, bool* negative) {
    *negative = take('-');
    if (!*negative) take('+');
    if (at_ == end_ || *at_ < '0' || *at_ > '9') return false;
    std::uint64_t value = 0;
    while (at_ < end_ && *at_ >= '0' && *at_ <= '9') {
      value = value * 10 + static_cast<std::uint64_t>(*at_ - '0');
      if (value > kSaturated) value = kSaturated;
      ++at_;
    }
    if (at_ < end_ && (*at_ == 'L' || *at_ == 'l')) ++at_;
    *magnitude = value;
    return true;
  }

  // Any literal, passed over: a string, an integer, a name, or a tuple, a
  // list or a dict of them.
  bool skipValue(int depth = 0) {
    if (depth > kDeepest) return false;
    const char c = peek();
    Text text;
    if (c == '\'' || c == '"') return string(&text);
    if (c == '-' || c == '+' || (c >= '0' && c <= '9')) {
      std::uint64_t magnitude;
      bool negative;
      return integer(&magnitude, &negative);
    }
    const char close = c == '(' ? ')' : c == '[' ? ']' : c == '{' ? '}' : '\0';
    if (close == '\0') return name(&text);
    ++at_;
    while (!take(close)) {
      if (!skipValue(depth + 1)) return false;
      if (close == '}' && (!take(':') || !skipValue(depth + 1))) return false;
      if (!take(',') && peek() != close) return false;
    }
    return true;
  }

 private:
  const char* at_;
  const char* end_;
};

// What the dict says, as far as it was read.
struct Said {
  bool descr = false, fortranOrder = false, shape = false;
  bool descrIsList = false;  // a structured array's fields
  Text descrText;
  bool fortran = false;
  int entries = 0;             // of the shape
  bool entryBelowOne = false;  // any entry 0 or negative
  std::uint64_t rows = 0, columns = 0;
};

bool readDescr(Reader& reader, Said* said) {
  said->descr = true;
  said->descrIsList = reader.peek() == '[';
  if (said->descrIsList) {
    return reader.skipValue();
  }
  return reader.string(&said->descrText);
}

bool readFortranOrder(Reader& reader, Said* said) {
  Text word;
  if (!reader.name(&word) || !(word.is("True") || word.is("False"))) return false;
  said->fortranOrder = true;
  said->fortran = word.is("True");
  return true;
}

// A tuple of integers: "()", "(3,)", "(3, 4)", "(3, 4,)"; "(3)" is no tuple.
bool readShape(Reader& reader, Said* said) {
  if (!reader.take('(')) return false;
  said->shape = true;
  said->entries = 0;
  said->entryBelowOne = false;
  bool comma = false;
  while (!reader.take(')')) {
    std::uint64_t magnitude = 0;
    bool negative = false;
    if (!reader.integer(&magnitude, &negative)) return false;
    if (negative || magnitude == 0) said->entryBelowOne = true;
    if (said->entries == 0) said->rows = magnitude;
    if (said->entries == 1) said->columns = magnitude;
    if (said->entries < 3) ++said->entries;
    comma = reader.take(',');
    if (!comma && reader.peek() != ')') return false;
  }
  return said->entries != 1 || comma;
}

bool readDict(Reader& reader, Said* said) {
  if (!reader.take('{')) return false;
  while (!reader.take('}')) {
    Text key;
    if (!reader.string(&key) || !reader.take(':')) return false;
    bool read = false;
    if (key.is("descr")) {
      read = readDescr(reader, said);
    } else if (key.is("fortran_order")) {
      read = readFortranOrder(reader, said);
    } else if (key.is("shape")) {
      read = readShape(reader, said);
    }
    if (!read) return false;
    if (!reader.take(',') && reader.peek() != '}') return false;
  }
  return reader.atEnd() && said->descr && said->fortranOrder && said->shape;
}

// Complex numbers by any of numpy's spellings: 'c8', 'c16', 'c32' after
// an optional byte order, the one-letter codes F, D and G, or a name.
bool isComplex(Text descr) {
  const char* c = descr.at;
  std::size_t n = descr.length;
  if (n > 0 && std::strchr("<>=|", *c) != nullptr) {
    ++c;
    --n;
  }
  if (n >= 7 && std::memcmp(c, "complex", 7) == 0) return true;
  if (n == 1) return *c == 'F' || *c == 'D' || *c == 'G';
  if (n < 2 || *c != 'c') return false;
  for (std::size_t k = 1; k < n; ++k) {
    if (c[k] < '0' || c[k] > '9') return false;
  }
  return true;
}

}  // namespace

std::optional<Failure> npyReadHeader(const char* text, std::size_t length, NpyLayout* layout) {
  Reader reader(text, length);
  Said said;
  if (!readDict(reader, &said)) return Failure::npyHeader;
  if (!said.descrIsList && isComplex(said.descrText)) return Failure::npyComplex;
  const Text descr = said.descrText;
  const bool floats = descr.is("<f4") || descr.is(">f4");
  if (said.descrIsList || !(floats || descr.is("<i4") || descr.is(">i4"))) {
    return Failure::npyType;
  }
  if (said.entries != 2 || said.entryBelowOne) return Failure::npyShape;
  if (!pictureFits(said.columns, said.rows)) return Failure::npyTooLarge;
  layout->width = static_cast<std::int32_t>(said.columns);
  layout->height = static_cast<std::int32_t>(said.rows);
  layout->type = floats ? NpyType::float32 : NpyType::int32;
  layout->bigEndian = descr.at[0] == '>';
  layout->fortranOrder = said.fortran;
  return std::nullopt;
}

}  // namespace dwt97::detail

// The floor the listing (-l) is measured against: what a careful C program
// does to print the same bytes as the listing for a data set as the tool
// leaves it (every format in the func list, the paper info and the imaging
// area files), and no more. Each file is read once, in blocks of 1 MiB, a
// line at a time where it begins with "KsL". Each identifier is kept once,
// as one 64-bit word with its flag bits, in an open-addressing table of
// 8-byte slots two thirds full (12 bytes a format), under a hash keyed at
// random, the slots of sixteen lines fetched from memory side by side; a size is kept apart only where the imaging area line
// says other than the identifier's own fields. Lines are formatted straight
// into a 64 KiB buffer, written whole. Names are escaped as the listing
// escapes them. It checks nothing else, and knows nothing of the tool.
//
// Usage: list_floor INF_DIR MODEL
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

[[noreturn]] void Die(const char* what) {
  perror(what);
  exit(1);
}

// ---- output -------------------------------------------------------------

char out_buffer[64 * 1024];
size_t out_used = 0;

void Flush() {
  for (size_t done = 0; done < out_used;) {
    const ssize_t n = write(1, out_buffer + done, out_used - done);
    if (n <= 0) Die("write");
    done += static_cast<size_t>(n);
  }
  out_used = 0;
}

// Room for |n| more bytes.
inline char* Reserve(size_t n) {
  if (out_used + n > sizeof out_buffer) Flush();
  return out_buffer + out_used;
}

inline char* Decimal(char* p, int32_t value) {
  char digits[12];
  int n = 0;
  uint32_t v = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (value < 0) *p++ = '-';
  while (n > 0) *p++ = digits[--n];
  return p;
}

// A name as the listing prints it: C0, DEL and C1 controls as \xNN, raw or
// in UTF-8 (U+0080 to U+009F as \xc2\xNN); everything else as it is.
size_t Utf8Length(const unsigned char* s, size_t left) {
  const unsigned char lead = s[0];
  size_t length;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length || s[1] < low || s[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (s[i] < 0x80 || s[i] > 0xBF) return 0;
  }
  return length;
}

char* Escaped(char* p, const unsigned char* name, size_t size) {
  static const char kHex[] = "0123456789abcdef";
  auto hex = [&](unsigned char byte) {
    *p++ = '\\';
    *p++ = 'x';
    *p++ = kHex[byte >> 4];
    *p++ = kHex[byte & 15];
  };
  for (size_t i = 0; i < size;) {
    const unsigned char byte = name[i];
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      *p++ = static_cast<char>(byte);
      ++i;
      continue;
    }
    const size_t length = byte >= 0x80 ? Utf8Length(name + i, size - i) : 1;
    if (length == 2 && byte == 0xC2 && name[i + 1] <= 0x9F) {
      hex(byte);
      hex(name[i + 1]);
    } else if (length > 1) {
      memcpy(p, name + i, length);
      p += length;
    } else if (byte == '\\') {
      *p++ = '\\';
      *p++ = '\\';
    } else if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F)) {
      hex(byte);
    } else {
      *p++ = static_cast<char>(byte);
    }
    i += length > 0 ? length : 1;
  }
  return p;
}

// ---- identifiers ----------------------------------------------------------

// Each upper-case hex digit's value, -1 for any other byte.
signed char hex_value[256];

void FillHexValues() {
  for (int c = 0; c < 256; ++c) {
    hex_value[c] = static_cast<signed char>(c >= '0' && c <= '9'   ? c - '0'
                                            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                   : -1);
  }
}

inline int Hex(unsigned char c) { return hex_value[c]; }

// The identifier at |p| ("KsL" and 12 to 15 upper-case hex digits), as a
// word: its digits' value, offset by the digit count so that no two
// lengths meet. 0 if there is none; *end is past its digits.
inline uint64_t IdWord(const char* p, const char* limit, const char** end) {
  if (limit - p < 15 || p[0] != 'K' || p[1] != 's' || p[2] != 'L') return 0;
  uint64_t value = 0;
  const char* q = p + 3;
  int digits = 0;
  for (int h; q < limit && (h = Hex(static_cast<unsigned char>(*q))) >= 0; ++q, ++digits) {
    value = value * 16 + static_cast<uint64_t>(h);
  }
  if (digits < 12 || digits > 15) return 0;
  for (int d = 12; d < digits; ++d) value += uint64_t{1} << (4 * d);
  *end = q;
  return value;
}

// The identifier's own width and height fields.
inline void IdSize(const char* id, const char* end, int32_t* width, int32_t* height) {
  const char* w = id + 5;
  const char* h = end - 8;
  int32_t value = 0;
  for (const char* c = w; c < h; ++c) value = value * 16 + Hex(static_cast<unsigned char>(*c));
  *width = value;
  *height = Hex(h[0]) * 256 + Hex(h[1]) * 16 + Hex(h[2]);
}

// ---- the table --------------------------------------------------------------

constexpr int kFlagShift = 61;
constexpr uint64_t kInPaper = uint64_t{1} << kFlagShift;
constexpr uint64_t kInArea = uint64_t{2} << kFlagShift;
constexpr uint64_t kListed = uint64_t{4} << kFlagShift;
constexpr uint64_t kWordMask = kInPaper - 1;

uint64_t key[2];
uint64_t* slots;
size_t size;   // slots
size_t count;  // identifiers

inline uint64_t Mix(uint64_t a, uint64_t b) {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

// The mix's high half scaled to the table's size, with no division.
inline size_t Home(uint64_t word) {
  const uint64_t high = Mix(word ^ key[0], key[1] ^ 0x9E3779B97F4A7C15ull) >> 32;
  return static_cast<size_t>((high * size) >> 32);
}

void Allocate(size_t ids) {
  size = ids + ids / 2 + 16;  // two thirds full: 12 bytes an identifier
  slots = static_cast<uint64_t*>(calloc(size, sizeof *slots));
  if (slots == nullptr) Die("calloc");
}

void Grow() {
  uint64_t* old = slots;
  const size_t old_size = size;
  Allocate(count + count / 2);
  for (size_t i = 0; i < old_size; ++i) {
    if (old[i] == 0) continue;
    size_t j = Home(old[i] & kWordMask);
    while (slots[j] != 0) j = j + 1 == size ? 0 : j + 1;
    slots[j] = old[i];
  }
  free(old);
}

// The slot of |word|, entered if |enter|; null if absent and not entered.
inline uint64_t* Find(uint64_t word, bool enter) {
  size_t i = Home(word);
  while (slots[i] != 0 && (slots[i] & kWordMask) != word) i = i + 1 == size ? 0 : i + 1;
  if (slots[i] != 0) return &slots[i];
  if (!enter) return nullptr;
  if (5 * (count + 1) > 4 * size) {
    Grow();
    return Find(word, true);
  }
  slots[i] = word;
  ++count;
  return &slots[i];
}

// Sizes the imaging area gives where the identifier says other, sorted.
struct Size {
  uint64_t word;
  int32_t width, height;
};
Size* sizes;
size_t sizes_count, sizes_room;

int BySize(const void* a, const void* b) {
  const uint64_t x = static_cast<const Size*>(a)->word, y = static_cast<const Size*>(b)->word;
  return x < y ? -1 : x > y;
}

// ---- reading -----------------------------------------------------------------

constexpr double kMmPerInch = 25.43859649;

// A plain decimal number ("189.72") as strtod reads it, and where it ends.
inline bool Number(const char** at, const char* limit, double* value) {
  const char* p = *at;
  while (p < limit && (*p == ' ' || *p == '\t')) ++p;
  int64_t digits = 0;
  int count_digits = 0, decimals = 0;
  bool point = false;
  for (; p < limit; ++p) {
    if (*p >= '0' && *p <= '9') {
      if (count_digits < 16) digits = digits * 10 + (*p - '0');
      ++count_digits;
      decimals += point;
    } else if (*p == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  static const double kPowers[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
  if (count_digits == 0 || count_digits > 15 || decimals > 8) return false;
  *value = static_cast<double>(digits) / kPowers[decimals];
  *at = p;
  return true;
}

inline bool Millimetres(double points, double margin, int32_t* mm) {
  const double value = round((points + margin) / 72.0 * kMmPerInch);
  if (!(fabs(value) <= 2147483647.0)) return false;
  *mm = static_cast<int32_t>(value);
  return true;
}

// A line that begins with an identifier, ready for its lookup.
struct IdLine {
  const char* line;
  const char* end;
  const char* id_end;
  uint64_t word;
};

// Calls |line_fn(IdLine)| for each line of the file that begins with an
// identifier, reading it once in blocks of 1 MiB. Lines are taken sixteen
// at a time: each one's slot is fetched from memory first, so that the
// table's cache misses overlap instead of coming one after the other.
template <typename LineFn>
void ForEachIdLine(const char* path, LineFn line_fn) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) Die(path);
  static char* buffer = static_cast<char*>(malloc(1 << 20));
  constexpr size_t kBatch = 16;
  IdLine batch[kBatch];
  size_t batched = 0;
  auto drain = [&] {
    for (size_t i = 0; i < batched; ++i) line_fn(batch[i]);
    batched = 0;
  };
  size_t carried = 0;
  for (;;) {
    const ssize_t n = read(fd, buffer + carried, (1 << 20) - carried);
    if (n < 0) Die(path);
    const size_t filled = carried + static_cast<size_t>(n);
    const char* base = buffer;
    const char* last = n == 0 ? base + filled
                              : static_cast<const char*>(memrchr(base, '\n', filled));
    const char* stop = last == nullptr ? base : (n == 0 ? last : last + 1);
    for (const char* p = base; p < stop;) {
      const char* nl = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(stop - p)));
      const char* end = nl == nullptr ? stop : nl;
      IdLine& line = batch[batched];
      line.word = IdWord(p, end, &line.id_end);
      if (line.word != 0) {
        line.line = p;
        line.end = end;
        __builtin_prefetch(&slots[Home(line.word)]);
        if (++batched == kBatch) drain();
      }
      p = end + 1;
    }
    drain();  // the block's lines are valid until the next read
    if (n == 0) break;
    carried = filled - static_cast<size_t>(stop - base);
    memmove(buffer, stop, carried);
  }
  close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s INF_DIR MODEL\n", argv[0]);
    return 2;
  }
  char func[4096], paper[4096], area[4096];
  snprintf(func, sizeof func, "%s/ks%sfunc", argv[1], argv[2]);
  snprintf(paper, sizeof paper, "%s/paperinf%spt1", argv[1], argv[2]);
  snprintf(area, sizeof area, "%s/ImagingArea", argv[1]);
  const char* model = argv[2];
  if (getrandom(key, sizeof key, 0) != sizeof key) Die("getrandom");
  FillHexValues();
  // As many identifiers as the imaging area's lines, as the tool writes
  // them, can hold.
  struct stat st;
  if (stat(area, &st) != 0) Die(area);
  Allocate(static_cast<size_t>(st.st_size) / 38);

  // The imaging area: each identifier once, its first line's size.
  ForEachIdLine(area, [](const IdLine& at) {
    const char *line = at.line, *end = at.end, *id_end = at.id_end;
    const uint64_t word = at.word;
    uint64_t* slot = Find(word, true);
    if (*slot & kInArea) return;
    *slot |= kInArea;
    const char* p = id_end;
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    if (p == end || *p++ != ':') return;
    double n[4];
    for (double& value : n) {
      if (!Number(&p, end, &value)) return;
    }
    int32_t width, height, id_width, id_height;
    if (!Millimetres(n[2], 4.32, &width) || !Millimetres(n[3], 8.4, &height)) return;
    IdSize(line, id_end, &id_width, &id_height);
    if (width == id_width && height == id_height) return;
    if (sizes_count == sizes_room) {
      sizes_room = sizes_room * 2 + 16;
      sizes = static_cast<Size*>(realloc(sizes, sizes_room * sizeof *sizes));
      if (sizes == nullptr) Die("realloc");
    }
    sizes[sizes_count++] = {word, width, height};
  });
  qsort(sizes, sizes_count, sizeof *sizes, BySize);
  ForEachIdLine(paper, [](const IdLine& at) { *Find(at.word, true) |= kInPaper; });

  // The func list's entries, in its order.
  static char missing_paper[64], missing_area[64], missing_both[96];
  snprintf(missing_paper, sizeof missing_paper, "missing: paperinf%spt1", model);
  snprintf(missing_area, sizeof missing_area, "missing: ImagingArea");
  snprintf(missing_both, sizeof missing_both, "missing: paperinf%spt1, ImagingArea", model);
  ForEachIdLine(func, [](const IdLine& at) {
    const char *line = at.line, *end = at.end, *id_end = at.id_end;
    const uint64_t word = at.word;
    const size_t length = static_cast<size_t>(Hex(line[3]) * 16 + Hex(line[4]));
    if (static_cast<size_t>(end - id_end) < length + 1) return;
    const unsigned char* name = reinterpret_cast<const unsigned char*>(id_end + 1);
    uint64_t* slot = Find(word, false);
    const uint64_t flags = slot == nullptr ? 0 : *slot;
    if (slot != nullptr) *slot |= kListed;
    int32_t width, height;
    IdSize(line, id_end, &width, &height);
    if (flags & kInArea) {
      size_t low = 0, high = sizes_count;
      while (low < high) {
        const size_t mid = (low + high) / 2;
        if (sizes[mid].word < word) {
          low = mid + 1;
        } else {
          high = mid;
        }
      }
      if (low < sizes_count && sizes[low].word == word) {
        width = sizes[low].width;
        height = sizes[low].height;
      }
    }
    const size_t id_size = static_cast<size_t>(id_end - line);
    char* p = Reserve(4 * length + id_size + 128);
    char* start = p;
    p = Escaped(p, name, length);
    *p++ = '\t';
    p = Decimal(p, width);
    *p++ = 'x';
    p = Decimal(p, height);
    *p++ = '\t';
    memcpy(p, line, id_size);
    p += id_size;
    *p++ = '\t';
    const char* state = (flags & kInPaper) && (flags & kInArea) ? "ok"
                        : (flags & kInArea)                     ? missing_paper
                        : (flags & kInPaper)                    ? missing_area
                                                                : missing_both;
    const size_t state_size = strlen(state);
    memcpy(p, state, state_size);
    p += state_size;
    *p++ = '\n';
    out_used += static_cast<size_t>(p - start);
  });
  Flush();
  return 0;
}

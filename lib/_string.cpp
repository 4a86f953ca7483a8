// _string.cpp - the reference-counted string: representations, character
// arrays, the two-pass formatting, the edit operations and stream input.
#include "tavo/startup.h"

#include "tavo/string.h"

#include "tavo/error.h"
#include "tavo/memory.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>

namespace {

// Reports a failed buffer allocation. A string cannot exist without its
// buffer, so the process ends even if the installed handler returns.
[[noreturn]] void out_of_memory(const char* msg) {
  error_handler(1, msg);
  std::abort();
}

// n + 1 bytes from array new (n <= max_length, so n + 1 does not overflow).
char* new_text(std::size_t n, const char* oom_msg) {
  char* b = new (std::nothrow) char[n + 1];
  if (b == nullptr) out_of_memory(oom_msg);
  return b;
}

// A fresh "" from array new: what a text that could not be made yields when
// the handler returns from its report.
char* empty_text(const char* oom_msg) {
  char* b = new_text(0, oom_msg);
  b[0] = '\0';
  return b;
}

const char kCatOutOfMemory[] = "string::str_cat: out of memory";
const char kCatTooLong[] = "string::str_cat: text too long";

// A character range of a text.
struct piece {
  const char* text;
  std::int64_t n;  // >= 0
};

// Characters i .. j of a text of length len, clamped as sub() does: j >=
// len becomes len - 1, i < 0 becomes 0, and an empty range when j < i then.
// 64-bit so that i - 1 and j + 1 cannot overflow for any int i, j.
piece clamped(const char* text, std::int64_t len, std::int64_t i, std::int64_t j) {
  if (j >= len) j = len - 1;
  if (i < 0) i = 0;
  const std::int64_t n = j - i + 1;
  if (n <= 0) return {text, 0};
  return {text + i, n};
}

// The pieces one after the other in a new buffer (array new of exactly their
// total length + 1). A total beyond max_length is reported and gives "".
char* join(const piece* pieces, int k) {
  std::uint64_t total = 0;
  for (int i = 0; i < k; ++i) total += static_cast<std::uint64_t>(pieces[i].n);
  if (total > static_cast<std::uint64_t>(tavo_string::max_length)) {
    error_handler(1, kCatTooLong);
    return empty_text(kCatOutOfMemory);
  }
  char* b = new_text(static_cast<std::size_t>(total), kCatOutOfMemory);
  char* o = b;
  for (int i = 0; i < k; ++i) {
    std::memcpy(o, pieces[i].text, static_cast<std::size_t>(pieces[i].n));
    o += pieces[i].n;
  }
  *o = '\0';
  return b;
}

// ---- formatting -------------------------------------------------------------

// A work buffer of the formatting: 512 bytes on the stack, enough for texts of
// up to 511 characters; a longer text gets a vector from std_memory_mgr.
class work_buffer {
 public:
  work_buffer() : data(local), size(sizeof local) {}
  ~work_buffer() { drop(); }
  work_buffer(const work_buffer&) = delete;
  work_buffer& operator=(const work_buffer&) = delete;

  char* get() { return data; }
  std::size_t capacity() const { return size; }
  // Room for n bytes; the contents are not kept. False (and the 512 bytes
  // again) if the memory manager's handler returned from out of memory.
  bool reserve(std::size_t n) {
    if (n <= size) return true;
    drop();
    void* v = std_memory_mgr.allocate_vector(n);
    if (v == nullptr) return false;
    data = static_cast<char*>(v);
    size = n;
    return true;
  }

 private:
  void drop() {
    if (data != local) std_memory_mgr.deallocate_vector(data);
    data = local;
    size = sizeof local;
  }
  char local[512];
  char* data;
  std::size_t size;
};

// Formatting pass one: copies `format` into out (room for 2 * strlen(format)
// + 1 bytes) so that printf of the copy with x alone resolves x's conversion
// and reproduces the rest of the format:
//   "%%" before the first conversion  ->  "%%%%"   (stays a literal '%')
//   the first conversion's '%'        ->  "%", or "%%" when the conversion
//                                         has a '*' (width or precision); that
//                                         first '*' becomes "%d" and takes x
//   every later '%'                   ->  "%%"
// Example: "%-*d|%s" -> "%%-%dd|%%s"; with x = 5 that prints "%-5d|%s".
void rewrite_format(const char* f, char* out) {
  char* o = out;
  while (*f != '\0' && !(f[0] == '%' && f[1] != '%')) {
    if (*f == '%') {  // a "%%" pair
      std::memcpy(o, "%%%%", 4);
      o += 4;
      f += 2;
    } else {
      *o++ = *f++;
    }
  }
  if (*f == '%') {
    // Find the first '*' among the flags, width and precision.
    const char* star = nullptr;
    const char* q = f + 1;
    while (*q != '\0' && std::strchr("-+ #0'", *q) != nullptr) ++q;
    if (*q == '*') {
      star = q++;
    } else {
      while (*q >= '0' && *q <= '9') ++q;
    }
    if (*q == '.' && q[1] == '*' && star == nullptr) star = q + 1;
    if (star == nullptr) {
      *o++ = *f++;
    } else {
      *o++ = '%';
      *o++ = '%';
      ++f;
      while (f != star) *o++ = *f++;
      *o++ = '%';
      *o++ = 'd';
      ++f;
    }
    for (; *f != '\0'; ++f) {
      *o++ = *f;
      if (*f == '%') *o++ = '%';
    }
  }
  *o = '\0';
}

// printf of `format` with x into buf, growing buf until the whole text fits.
// False if printf fails or the buffer cannot grow.
template <class X>
bool print_one(work_buffer& buf, const char* format, X x) {
  for (;;) {
    const int r = std::snprintf(buf.get(), buf.capacity(), format, x);
    if (r < 0) return false;
    if (static_cast<std::size_t>(r) < buf.capacity()) return true;
    if (!buf.reserve(static_cast<std::size_t>(r) + 1)) return false;
  }
}

// vprintf of `format` with rest into buf, likewise.
bool print_rest(work_buffer& buf, const char* format, va_list rest) {
  for (;;) {
    va_list ap;
    va_copy(ap, rest);
    const int r = std::vsnprintf(buf.get(), buf.capacity(), format, ap);
    va_end(ap);
    if (r < 0) return false;
    if (static_cast<std::size_t>(r) < buf.capacity()) return true;
    if (!buf.reserve(static_cast<std::size_t>(r) + 1)) return false;
  }
}

// The first conversion of `f` when its width and precision take no '*':
// [begin, end) runs from its '%' to its conversion character. False when the
// format has no complete conversion or the conversion has a '*'.
bool first_plain_conversion(const char* f, const char*& begin, const char*& end) {
  while (*f != '\0' && !(f[0] == '%' && f[1] != '%')) f += (f[0] == '%') ? 2 : 1;
  if (*f == '\0') return false;
  const char* q = f + 1;
  while (*q != '\0' && std::strchr("-+ #0'", *q) != nullptr) ++q;
  while (*q >= '0' && *q <= '9') ++q;
  if (*q == '.') ++q;
  while (*q >= '0' && *q <= '9') ++q;
  if (*q == '*') return false;
  while (*q != '\0' && std::strchr("hlLqjzt", *q) != nullptr) ++q;
  if (*q == '\0') return false;
  begin = f;
  end = q + 1;
  return true;
}

// One conversion of a format, scanned from its '%' (not a "%%" pair).
struct conversion {
  const char* end;  // one past the conversion character, or the format's end
  bool complete;    // a conversion character was found before the end
  bool positional;  // written "%n$..."
  bool star;        // a width or precision taken from an argument
  int arg;          // n of "%n$" (capped at 1000)
};

conversion scan_conversion(const char* f) {
  conversion c{nullptr, false, false, false, 0};
  const auto digits = [](const char* q) {
    while (*q >= '0' && *q <= '9') ++q;
    return q;
  };
  const char* q = f + 1;
  const char* d = digits(q);
  if (d != q && *d == '$') {
    c.positional = true;
    for (; q != d; ++q) c.arg = c.arg < 1000 ? 10 * c.arg + (*q - '0') : 1000;
    q = d + 1;
  }
  while (*q != '\0' && std::strchr("-+ #0'", *q) != nullptr) ++q;
  for (int part = 0; part < 2; ++part) {  // width, then precision
    if (part == 1) {
      if (*q != '.') break;
      ++q;
    }
    if (*q == '*') {
      c.star = true;
      q = digits(q + 1);
      if (*q == '$') ++q;
    } else {
      q = digits(q);
    }
  }
  while (*q != '\0' && std::strchr("hlLqjzt", *q) != nullptr) ++q;
  c.complete = *q != '\0';
  c.end = c.complete ? q + 1 : q;
  return c;
}

// Copies `format` into out (room for 2 * strlen(format) + 1 bytes) with the
// '%' of every conversion that must print as it stands doubled:
//   - a conversion cut off by the end of the format ("abc%");
//   - in a format with a positional conversion ("%1$s"), every conversion
//     but the complete "%1$..." ones without '*': only x was surely passed,
//     and printf may not mix the two styles.
// Returns whether the format has a positional conversion; it is then printed
// with x alone, in one pass.
bool literal_format(const char* format, char* out) {
  bool positional = false;
  for (const char* f = format; *f != '\0';) {
    if (f[0] == '%' && f[1] == '%') {
      f += 2;
    } else if (*f == '%') {
      const conversion c = scan_conversion(f);
      positional = positional || c.positional;
      f = c.end;
    } else {
      ++f;
    }
  }
  char* o = out;
  for (const char* f = format; *f != '\0';) {
    if (f[0] == '%' && f[1] == '%') {
      *o++ = *f++;
      *o++ = *f++;
      continue;
    }
    if (*f != '%') {
      *o++ = *f++;
      continue;
    }
    const conversion c = scan_conversion(f);
    const bool takes_x = c.complete && (!positional || (c.positional && c.arg == 1 && !c.star));
    if (!takes_x) *o++ = '%';
    while (f != c.end) *o++ = *f++;
  }
  *o = '\0';
  return positional;
}

// The two formatting passes: the text of `format` with x (already promoted)
// followed by rest, in a new buffer from array new; "" if printf fails.
//
// When x's conversion takes no '*', its text is formatted on its own and put
// into the second format with every '%' doubled, so that a '%' in x's text
// (a file name, say) is printed as it stands instead of being read as a
// conversion of the second pass. Every other format takes the rewriting
// route above; both give the text printf would give.
template <class X>
char* format_text(const char* format, X x, va_list rest) {
  if (format == nullptr) return tavo_string::str_dup(format);  // reports nil
  work_buffer a, b, literal;
  if (!literal.reserve(2 * std::strlen(format) + 1)) return tavo_string::str_dup("");
  if (literal_format(format, literal.get())) {
    if (!print_one(b, literal.get(), x)) return tavo_string::str_dup("");
    return tavo_string::str_dup(b.get());
  }
  format = literal.get();
  const char* conv = nullptr;
  const char* conv_end = nullptr;
  if (!first_plain_conversion(format, conv, conv_end)) {
    if (!a.reserve(2 * std::strlen(format) + 1)) return tavo_string::str_dup("");
    rewrite_format(format, a.get());
    if (!print_one(b, a.get(), x) || !print_rest(a, b.get(), rest)) {
      return tavo_string::str_dup("");
    }
    return tavo_string::str_dup(a.get());
  }
  // x's conversion alone into b.
  const std::size_t conv_length = static_cast<std::size_t>(conv_end - conv);
  if (!a.reserve(conv_length + 1)) return tavo_string::str_dup("");
  std::memcpy(a.get(), conv, conv_length);
  a.get()[conv_length] = '\0';
  if (!print_one(b, a.get(), x)) return tavo_string::str_dup("");
  // The format with that text in place of the conversion, into a.
  const std::size_t prefix = static_cast<std::size_t>(conv - format);
  const std::size_t text_length = std::strlen(b.get());
  if (!a.reserve(prefix + 2 * text_length + std::strlen(conv_end) + 1)) {
    return tavo_string::str_dup("");
  }
  char* o = a.get();
  std::memcpy(o, format, prefix);
  o += prefix;
  for (const char* t = b.get(); *t != '\0'; ++t) {
    *o++ = *t;
    if (*t == '%') *o++ = '%';
  }
  std::strcpy(o, conv_end);
  if (!print_rest(b, a.get(), rest)) return tavo_string::str_dup("");
  return tavo_string::str_dup(b.get());
}

}  // namespace

// ---- handle_base, string_rep ------------------------------------------------

void handle_base::count_overflow() {
  error_handler(1, "handle_base: too many references");
  std::abort();
}

string_rep::string_rep(const char* s)
    : buffer(tavo_string::str_dup(s)), length(static_cast<std::int32_t>(std::strlen(buffer))) {}

string_rep::string_rep(const char* a, const char* b)
    : buffer(tavo_string::str_cat(a, b)), length(static_cast<std::int32_t>(std::strlen(buffer))) {}

string_rep::string_rep(char ch) : buffer(nullptr), length(0) {
  const char text[2] = {ch, '\0'};
  buffer = tavo_string::str_dup(text);
  length = static_cast<std::int32_t>(std::strlen(buffer));
}

string_rep::~string_rep() {
  delete[] buffer;
}

// ---- character arrays ---------------------------------------------------------

char* tavo_string::str_dup(const char* s) {
  if (s == nullptr) {
    error_handler(1, "string::str_dup: nil argument");
    return empty_text("string::str_dup: out of memory");
  }
  const std::size_t n = std::strlen(s);
  if (n > static_cast<std::size_t>(max_length)) {
    error_handler(1, "string::str_dup: text too long");
    return empty_text("string::str_dup: out of memory");
  }
  char* b = new_text(n, "string::str_dup: out of memory");
  std::memcpy(b, s, n + 1);
  return b;
}

char* tavo_string::str_cat(const char* a, const char* b) {
  const piece pieces[2] = {{a, static_cast<std::int64_t>(std::strlen(a))},
                           {b, static_cast<std::int64_t>(std::strlen(b))}};
  return join(pieces, 2);
}

char* tavo_string::str_ncat(int argc, char** argv) {
  std::uint64_t total = 0;
  for (int k = 0; k < argc; ++k) {
    total += std::strlen(argv[k]) + 1;
    if (total > static_cast<std::uint64_t>(max_length)) {
      error_handler(1, kCatTooLong);
      return empty_text(kCatOutOfMemory);
    }
  }
  char* b = new_text(static_cast<std::size_t>(total), kCatOutOfMemory);
  char* o = b;
  for (int k = 0; k < argc; ++k) {
    const std::size_t n = std::strlen(argv[k]);
    std::memcpy(o, argv[k], n);
    o += n;
    *o++ = ' ';
  }
  *o = '\0';
  return b;
}

int tavo_string::cmp(const char* a, const char* b) {
  return std::strcmp(a, b);
}

// ---- constructors ----------------------------------------------------------------

tavo_string::tavo_string() {
  PTR = new string_rep("");
}

tavo_string::tavo_string(const char* s) {
  PTR = new string_rep(s);
}

tavo_string::tavo_string(char ch) {
  PTR = new string_rep(ch);
}

tavo_string::tavo_string(int argc, char** argv) {
  char* text = str_ncat(argc, argv);
  PTR = new string_rep(text, static_cast<std::int32_t>(std::strlen(text)));
}

tavo_string tavo_string::adopt(char* buf) {
  return tavo_string(new string_rep(buf, static_cast<std::int32_t>(std::strlen(buf))));
}

// Each formatting constructor passes x on with the promotion a variadic call
// would apply, and the further arguments as a va_list.
#define TAVO_FORMAT_CONSTRUCTOR(T, PROMOTED)                                    \
  tavo_string::tavo_string(const char* format, T x, ...) {                      \
    va_list rest;                                                               \
    va_start(rest, x);                                                          \
    char* text = format_text<PROMOTED>(format, static_cast<PROMOTED>(x), rest); \
    va_end(rest);                                                               \
    PTR = new string_rep(text, static_cast<std::int32_t>(std::strlen(text)));   \
  }

TAVO_FORMAT_CONSTRUCTOR(int, int)
TAVO_FORMAT_CONSTRUCTOR(unsigned int, unsigned int)
TAVO_FORMAT_CONSTRUCTOR(long, long)
TAVO_FORMAT_CONSTRUCTOR(unsigned long, unsigned long)
TAVO_FORMAT_CONSTRUCTOR(double, double)
TAVO_FORMAT_CONSTRUCTOR(const char*, const char*)
TAVO_FORMAT_CONSTRUCTOR(void*, void*)

// char, unsigned char, short, unsigned short and float are changed by the
// default argument promotions, and the language leaves va_start after a
// parameter of such a type undefined: the classic macro took the address of
// the parameter and stepped over its size, which for a char is not where the
// caller put the next argument. The signatures are fixed (each type must
// have its own exact overload), so these five cannot name another parameter.
// GCC and clang, the only compilers this library supports, implement
// va_start with a built-in that sets the list up from the calling
// convention's own record of the named arguments (register counts and the
// incoming stack area) and ignores the parameter it is given, on every
// target: the result is the same as after an int or a double. Clang warns
// all the same (-Wvarargs); the warning is silenced for these five alone.
#if !defined(__GNUC__)
#error "tavo_string's formatting constructors need GCC's or clang's va_start"
#endif
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wvarargs"
#endif
TAVO_FORMAT_CONSTRUCTOR(char, int)
TAVO_FORMAT_CONSTRUCTOR(unsigned char, int)
TAVO_FORMAT_CONSTRUCTOR(short, int)
TAVO_FORMAT_CONSTRUCTOR(unsigned short, int)
TAVO_FORMAT_CONSTRUCTOR(float, double)
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

#undef TAVO_FORMAT_CONSTRUCTOR

// ---- access ----------------------------------------------------------------------

namespace {
const char kIndexOutOfRange[] = "string::operator[]: index out of range";
char scratch_character;  // what an out-of-range reference points to
}  // namespace

char tavo_string::operator[](int i) const {
  if (i < 0 || i > length()) {
    error_handler(1, kIndexOutOfRange);
    return '\0';
  }
  return ptr()->buffer[i];
}

char& tavo_string::operator[](int i) {
  if (i < 0 || i > length()) {
    error_handler(1, kIndexOutOfRange);
    scratch_character = '\0';
    return scratch_character;
  }
  if (refs() > 1) {
    // A private copy of the whole representation, length included (the text
    // may hold a NUL written through this operator before it was shared).
    const string_rep* r = ptr();
    char* b = new_text(static_cast<std::size_t>(r->length), "string::str_dup: out of memory");
    std::memcpy(b, r->buffer, static_cast<std::size_t>(r->length) + 1);
    *this = tavo_string(new string_rep(b, r->length));
  }
  return ptr()->buffer[i];
}

// ---- modifiers --------------------------------------------------------------------

tavo_string& tavo_string::operator+=(const tavo_string& t) {
  *this = tavo_string(new string_rep(cstring(), t.cstring()));
  return *this;
}

void tavo_string::read(std::istream& in, char delim) {
  *this = tavo_string();
  if (!in.good()) {
    in.setstate(std::ios::failbit);
    return;
  }
  bool taken = false;  // a character was taken from the stream
  bool done = false;
  char chunk[1024];
  while (!done && in.good()) {
    int n = 0;
    while (n < 1023) {
      char c;
      if (!in.get(c)) {
        done = true;
        break;
      }
      taken = true;
      if (c == delim || (delim == '\0' && std::isspace(static_cast<unsigned char>(c)))) {
        if (delim != '\n') in.putback(c);
        done = true;
        break;
      }
      chunk[n++] = c;
    }
    if (n > 0) {
      // Joined by length, not by strlen: a NUL read is a character like any
      // other and must not cut off the rest of the chunk.
      const piece p[2] = {{cstring(), length()}, {chunk, n}};
      const std::int64_t total = std::int64_t{length()} + n;
      char* b = join(p, 2);  // "" (reported) beyond max_length
      *this = tavo_string(
          new string_rep(b, total <= max_length ? static_cast<std::int32_t>(total) : 0));
    }
  }
  // Like std::getline: end of input after some characters is not a failure.
  if (taken && in.eof() && !in.bad()) in.clear(in.rdstate() & ~std::ios::failbit);
}

void tavo_string::read_line(std::istream& in) {
  read(in, '\n');
}

// ---- new strings ----------------------------------------------------------------------

tavo_string tavo_string::sub(int i, int j) const {
  const piece p = clamped(cstring(), length(), i, j);
  return adopt(join(&p, 1));
}

int tavo_string::pos(const tavo_string& s, int i) const {
  if (i < 0) i = 0;
  if (s.cstring()[0] == '\0' || i >= length()) return -1;
  const char* hit = std::strstr(cstring() + i, s.cstring());
  return hit == nullptr ? -1 : static_cast<int>(hit - cstring());
}

tavo_string tavo_string::insert(const tavo_string& s, int i) const {
  const std::int64_t len = length();
  const piece p[3] = {clamped(cstring(), len, 0, std::int64_t{i} - 1),
                      {s.cstring(), s.length()},
                      clamped(cstring(), len, i, len - 1)};
  return adopt(join(p, 3));
}

tavo_string tavo_string::del(int i, int j) const {
  const std::int64_t len = length();
  const piece p[2] = {clamped(cstring(), len, 0, std::int64_t{i} - 1),
                      clamped(cstring(), len, std::int64_t{j} + 1, len - 1)};
  return adopt(join(p, 2));
}

tavo_string tavo_string::del(const tavo_string& s, int n) const {
  return replace(s, tavo_string(), n);
}

tavo_string tavo_string::replace(int i, int j, const tavo_string& s) const {
  const std::int64_t len = length();
  const piece p[3] = {clamped(cstring(), len, 0, std::int64_t{i} - 1),
                      {s.cstring(), s.length()},
                      clamped(cstring(), len, std::int64_t{j} + 1, len - 1)};
  return adopt(join(p, 3));
}

// Occurrences are found as pos(s1, start) would find them, start moving past
// each one; the result is sized in a first pass and filled in a second.
tavo_string tavo_string::replace(const tavo_string& s1, const tavo_string& s2, int n) const {
  const char* text = cstring();
  const char* pattern = s1.cstring();
  const std::int64_t len = length();
  // The pattern's own text: what strstr matches (s1.length() unless a NUL
  // was written into s1).
  const std::int64_t l1 = static_cast<std::int64_t>(std::strlen(pattern));
  const std::int64_t l2 = s2.length();
  if (pattern[0] == '\0' || n < 0) return *this;
  std::int64_t found = 0;  // occurrences, up to the n-th when n > 0
  for (const char* p = std::strstr(text, pattern); p != nullptr && (n == 0 || found < n);
       p = std::strstr(p + l1, pattern)) {
    ++found;
  }
  if (found == 0 || (n > 0 && found < n)) return *this;
  const std::int64_t replaced = n == 0 ? found : 1;
  const std::int64_t total = len + replaced * (l2 - l1);
  if (total > max_length) {
    error_handler(1, kCatTooLong);
    return adopt(empty_text(kCatOutOfMemory));
  }
  char* b = new_text(static_cast<std::size_t>(total), kCatOutOfMemory);
  char* o = b;
  const char* start = text;
  std::int64_t count = 0;
  for (const char* p = std::strstr(text, pattern); p != nullptr && count < found;
       p = std::strstr(p + l1, pattern)) {
    ++count;
    if (n == 0 || count == n) {
      std::memcpy(o, start, static_cast<std::size_t>(p - start));
      o += p - start;
      std::memcpy(o, s2.cstring(), static_cast<std::size_t>(l2));
      o += l2;
      start = p + l1;
    }
  }
  std::memcpy(o, start, static_cast<std::size_t>(text + len - start));
  o += text + len - start;
  *o = '\0';
  return adopt(b);
}

tavo_string tavo_string::replace_all(const tavo_string& s1, const tavo_string& s2) const {
  return replace(s1, s2, 0);
}

tavo_string tavo_string::format(const tavo_string& f) const {
  work_buffer buf;
  if (!print_one(buf, f.cstring(), cstring())) return tavo_string();
  return tavo_string(buf.get());
}

tavo_string tavo_string::to_lower() const {
  const std::int32_t len = length();
  char* b = new_text(static_cast<std::size_t>(len), "string::str_dup: out of memory");
  for (std::int32_t k = 0; k < len; ++k) {
    b[k] = static_cast<char>(std::tolower(static_cast<unsigned char>(cstring()[k])));
  }
  b[len] = '\0';
  return adopt(b);
}

bool tavo_string::verify() const {
  const string_rep* r = ptr();
  return r != nullptr && refs() >= 1 && r->buffer != nullptr && r->length >= 0 &&
         r->buffer[r->length] == '\0';
}

// ---- free functions ----------------------------------------------------------------------

tavo_string operator+(const tavo_string& a, const tavo_string& b) {
  tavo_string r(a);
  r += b;
  return r;
}

bool operator==(const tavo_string& a, const char* b) {
  return tavo_string::cmp(a.cstring(), b) == 0;
}
bool operator==(const char* a, const tavo_string& b) {
  return tavo_string::cmp(a, b.cstring()) == 0;
}
bool operator==(const tavo_string& a, const tavo_string& b) {
  return tavo_string::cmp(a.cstring(), b.cstring()) == 0;
}
bool operator!=(const tavo_string& a, const char* b) {
  return !(a == b);
}
bool operator!=(const char* a, const tavo_string& b) {
  return !(a == b);
}
bool operator!=(const tavo_string& a, const tavo_string& b) {
  return !(a == b);
}

int compare(const tavo_string& x, const tavo_string& y) {
  const int c = tavo_string::cmp(x.cstring(), y.cstring());
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::ostream& operator<<(std::ostream& out, const tavo_string& s) {
  return out << s.cstring();
}

std::istream& operator>>(std::istream& in, tavo_string& s) {
  const bool console = &in == &std::cin;
  char c = '\0';
  while (in.get(c) && std::isspace(static_cast<unsigned char>(c))) {
    if (console && c == '\n') break;
  }
  if (in.good() && c != '\n') in.putback(c);
  s.read(in, '\0');
  return in;
}

int ID_Number(const tavo_string&) {
  error_handler(1, "map<I,E>: Index type I=string not allowed.");
  return 0;
}

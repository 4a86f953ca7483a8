// tavo/string.h - the reference-counted string tavo_string.
//
// What it is
//   A tavo_string is one pointer wide: a handle to a shared, immutable
//   string_rep holding a NUL-terminated character buffer and its length.
//   Copying, assigning, passing and returning a string by value costs one
//   count update and copies no character. Unlike a string that owns its
//   buffer, no operation edits text in place: sub, insert, del, replace,
//   format, to_lower build a new string and leave their operands untouched;
//   only assignment, +=, the stream input operations and the non-constant
//   index operator change a string, and each leaves every other handle of the
//   old representation as it was.
//
// Sharing and validity
//   Handles that were copied from one another share one representation until
//   one of them is assigned, appended to, read into or written through the
//   non-constant index operator (which first gives it a private copy when the
//   representation is shared). cstring(), operator const char*() and
//   operator~() return the shared buffer: the pointer stays valid while this
//   string keeps that representation, i.e. until it is changed or destroyed.
//   A reference from the non-constant index operator is valid as long; it
//   writes into whatever handles share the representation at the time of the
//   write, so do not copy the string while holding one.
//
// Positions
//   0-based; a range (i, j) includes both ends. Positions before the start or
//   past the end are clamped (see sub), so the positional operations never
//   read or write outside the text, whatever i and j are.
//
// Layout (invariants checked by tavo_string::verify())
//   handle_rep:  [vptr | lock (tavo_mutex, no state) | count : int32 >= 1]
//   string_rep:  handle_rep + [buffer : char*, owned, non-null |
//                              length : int32, 0 <= length <= max_length]
//   buffer[length] == '\0' and no NUL before it, unless a character was
//   overwritten with NUL through the index operator or a NUL was read from a
//   stream (then strlen < length).
//   The buffer is array new of exactly length + 1 bytes; representations and
//   heap-allocated handles come from std_memory_mgr through the class
//   allocation hook (a free-list pop for their small fixed sizes).
//
// Cost
//   Copy, assignment, destruction, length, cstring, index: constant time.
//   A constructor from text, sub, insert, del, replace, +, +=, to_lower,
//   format: one representation and one buffer for the result, O(length of
//   the operands and result). pos: one scan of the text from the start index.
//
// Failure
//   Every error goes to error_handler with code 1 (fatal under the standard
//   handler): a null text ("string::str_dup: nil argument"), a failed buffer
//   allocation ("string::str_dup: out of memory", "string::str_cat: out of
//   memory"), a text longer than max_length ("string::str_dup: text too long",
//   "string::str_cat: text too long"), an index outside 0 .. length()
//   ("string::operator[]: index out of range"), a reference count at its
//   limit ("handle_base: too many references") and ID_Number. If an installed
//   handler returns, a null or too long text yields "", an index out of range
//   yields '\0' (a scratch character for the non-constant operator), and out
//   of memory or a reference count overflow abort the process (a string
//   cannot exist without its buffer or a sound count).
//
// Threads
//   One thread. Counts are plain integers; the lock calls around releasing a
//   representation mark the place and do nothing (tavo/mutex.h).
//
// Containers
//   tavo_string is narrow for tavo/slot.h (as wide and as aligned as a
//   value_slot): tavo_copy copy-constructs it in the slot (count + 1),
//   tavo_clear destroys it in place (count - 1, freed at 0), tavo_access
//   reinterprets the slot; tavo_type_id is 0, so containers order strings
//   with compare(tavo_string, tavo_string) below.
#ifndef TAVO_STRING_H
#define TAVO_STRING_H

#include "tavo/startup.h"

#include <cstdint>
#include <iosfwd>

#include "tavo/memory.h"
#include "tavo/mutex.h"

// ---- handle_rep ---------------------------------------------------------------
// Base class of every shared representation: a lock and a reference count that
// starts at 1. Destroyed through its virtual destructor when the last handle
// lets go; the deleting destructor returns the object to std_memory_mgr with
// the derived class's size.
class handle_rep {
 public:
  handle_rep() : count(1) {}
  virtual ~handle_rep() = default;
  handle_rep(const handle_rep&) = delete;
  handle_rep& operator=(const handle_rep&) = delete;

  TAVO_MEMORY_HOOK

 protected:
  friend class handle_base;
  tavo_mutex lock;     // taken around the release in handle_base
  std::int32_t count;  // handles referring to this representation, >= 1
};

// ---- handle_base ---------------------------------------------------------------
// Base class of every handle type: exactly one pointer to a handle_rep. Copies
// share the representation; the last handle destroys it.
class handle_base {
 public:
  // Leaves the pointer null; the derived constructor sets it.
  handle_base() : PTR(nullptr) {}
  // Shares x's representation: count + 1, constant time. A count already at
  // INT32_MAX is reported ("handle_base: too many references").
  handle_base(const handle_base& x) : PTR(x.PTR) { acquire(PTR); }
  // Counts the source up first, then releases the old representation, so
  // assigning a handle to itself (or to a sharer) never destroys it.
  handle_base& operator=(const handle_base& x) {
    handle_rep* source = x.PTR;
    acquire(source);
    release(PTR);
    PTR = source;
    return *this;
  }
  // Count - 1; the representation is destroyed when it reaches 0.
  ~handle_base() { release(PTR); }

  // The representation's reference count (>= 1). Constant time.
  int refs() const { return PTR->count; }

  // Heap handles come from std_memory_mgr; new (where, 0) constructs a handle
  // in an existing word (placement elsewhere must be written ::new).
  TAVO_MEMORY_HOOK_WITH_PLACEMENT

 protected:
  handle_rep* PTR;  // never null once the derived constructor has run

  static void acquire(handle_rep* r) {
    if (__builtin_expect(r->count == INT32_MAX, 0)) count_overflow();
    ++r->count;
  }
  // Decrements between lock() and unlock(); destroys after unlock(), so the
  // lock is never touched in a destroyed object.
  static void release(handle_rep* r) {
    if (r == nullptr) return;
    r->lock.lock();
    const bool last = --r->count == 0;
    r->lock.unlock();
    if (last) delete r;
  }

 private:
  [[noreturn]] static void count_overflow();  // reports, then aborts
};

class tavo_string;

// ---- string_rep ----------------------------------------------------------------
// The shared text of a string (layout and invariants at the top). Built only
// by tavo_string; never changed afterwards except through the non-constant
// index operator of a string that holds its only reference.
class string_rep : public handle_rep {
 public:
  // Buffer = str_dup(s); a null s is reported and yields "".
  explicit string_rep(const char* s);
  // Buffer = str_cat(a, b).
  string_rep(const char* a, const char* b);
  // Buffer = the text ch, NUL (so '\0' gives "").
  explicit string_rep(char ch);
  // Frees the buffer; the hook returns the object to std_memory_mgr.
  ~string_rep() override;

 private:
  friend class tavo_string;
  // Adopts buf, a buffer from array new of at least n + 1 bytes with
  // buf[n] == '\0'.
  string_rep(char* buf, std::int32_t n) : buffer(buf), length(n) {}

  char* buffer;         // owned, non-null, NUL-terminated
  std::int32_t length;  // characters before the NUL
};

// ---- tavo_string ---------------------------------------------------------------
class tavo_string : public handle_base {
 public:
  // Longest text a string holds: lengths are signed 32-bit.
  static constexpr std::int32_t max_length = INT32_MAX;

  // --- constructors (each builds one representation unless it copies) -------
  // "".
  tavo_string();
  // A copy of s. s null: "string::str_dup: nil argument". O(strlen(s)).
  tavo_string(const char* s);
  // The one-character text ch; "" for '\0'.
  tavo_string(char ch);
  // str_ncat(argc, argv): the words, each followed by one blank ("" for
  // argc <= 0). O(total length).
  tavo_string(int argc, char** argv);
  // Shares x's representation. Constant time.
  tavo_string(const tavo_string& x) = default;

  // Formatting constructors: the text printf formatting of `format` with x
  // as the first argument and then the further arguments produces (x promoted
  // as in a variadic call: char, short widened with their sign, unsigned char,
  // unsigned short without, float as double). Built in two passes: x's
  // conversion is resolved first, giving a format for the rest. The first
  // '*' of the first conversion (width or precision) takes x, so
  // tavo_string("%*d", 4, 7) is "   7"; "%%" pairs before the first
  // conversion are literal percent signs. Texts of any length are produced
  // whole (work buffers of 512 bytes, larger ones from std_memory_mgr when
  // needed). Preconditions as for printf: the conversions match x and the
  // further arguments; a null format is reported as by str_dup. A text printf cannot produce
  // (error, more than INT_MAX characters) gives "". O(length of format and result).
  //   A '%' cut off by the end of the format ("abc%") is printed as it
  // stands. A format with positional conversions ("%1$s") is printed with x
  // alone, as snprintf would: its complete "%1$" conversions without '*'
  // take x, every other conversion is printed as it stands, and no further
  // argument is read.
  tavo_string(const char* format, char x, ...);
  tavo_string(const char* format, unsigned char x, ...);
  tavo_string(const char* format, short x, ...);
  tavo_string(const char* format, unsigned short x, ...);
  tavo_string(const char* format, int x, ...);
  tavo_string(const char* format, unsigned int x, ...);
  tavo_string(const char* format, long x, ...);
  tavo_string(const char* format, unsigned long x, ...);
  tavo_string(const char* format, float x, ...);
  tavo_string(const char* format, double x, ...);
  tavo_string(const char* format, const char* x, ...);
  tavo_string(const char* format, void* x, ...);

  // --- character arrays (the caller owns the result and frees it with
  // delete[]) ----------------------------------------------------------------
  // A copy of s. Null: "string::str_dup: nil argument" (then a copy of "").
  // strlen(s) > max_length: "string::str_dup: text too long" (then "").
  // Allocation failure: "string::str_dup: out of memory".
  static char* str_dup(const char* s);
  // a followed by b. Longer than max_length: "string::str_cat: text too
  // long" (then ""); allocation failure: "string::str_cat: out of memory".
  static char* str_cat(const char* a, const char* b);
  // argv[0] .. argv[argc-1], each followed by one blank; "" for argc <= 0.
  // Errors as str_cat.
  static char* str_ncat(int argc, char** argv);
  // strcmp(a, b).
  static int cmp(const char* a, const char* b);

  // --- access ---------------------------------------------------------------------
  // Characters before the NUL (as stored). Constant time.
  int length() const { return ptr()->length; }
  // The buffer, valid while this string keeps its representation.
  const char* cstring() const { return ptr()->buffer; }
  operator const char*() const { return ptr()->buffer; }
  const char* operator~() const { return ptr()->buffer; }
  // The character at i, 0 <= i <= length() (length() gives the NUL). Outside:
  // "string::operator[]: index out of range" (then '\0'). Constant time.
  char operator[](int i) const;
  // A reference to the character at i, 0 <= i <= length(); a shared
  // representation is first replaced by a private copy (O(length)). Do not
  // store anything but NUL at length(). Outside: reported as above (then a
  // reference to a scratch character that belongs to no string).
  char& operator[](int i);

  // --- modifiers --------------------------------------------------------------------
  // Handle assignment (see handle_base). Constant time.
  tavo_string& operator=(const tavo_string& x) = default;
  // A new representation holding this text followed by t's; other handles of
  // the old one are untouched. O(length() + t.length()). s += s is allowed.
  tavo_string& operator+=(const tavo_string& t);
  // Replaces the text by the characters read from `in` up to the delimiter
  // delim ('\0': any whitespace). The delimiter is not stored; it is left in
  // the stream unless it is '\n', which is consumed. Lines of any length are
  // read whole, in chunks of 1023 characters; a NUL read is kept as a
  // character (length() counts it, cstring() ends at it). A stream not good on entry
  // gives "" (and failbit). At end of input the stream gets eofbit, and
  // failbit only when nothing at all was taken from it (as with std::getline),
  // so a last line without a newline reads as a line. Each chunk is appended
  // with +=: O(n + n^2 / 1023) for n characters.
  void read(std::istream& in, char delim);
  // read(in, '\n').
  void read_line(std::istream& in);

  // --- new strings (constant members; O(length of operands and result)) -----------
  // Characters i .. j after clamping: j >= length() becomes length()-1, i < 0
  // becomes 0; "" when j < i then.
  tavo_string sub(int i, int j) const;
  tavo_string operator()(int i, int j) const { return sub(i, j); }
  // First position >= i where s occurs, or -1; -1 for an empty s or i >=
  // length(). A negative i searches from 0. O(length() * s.length()) worst.
  int pos(const tavo_string& s, int i) const;
  int pos(const tavo_string& s) const { return pos(s, 0); }
  // sub(0, i-1) + s + sub(i, length()-1): i <= 0 prefixes, i >= length()
  // appends.
  tavo_string insert(const tavo_string& s, int i) const;
  tavo_string insert(int i, const tavo_string& s) const { return insert(s, i); }
  // sub(0, i-1) + sub(j+1, length()-1).
  tavo_string del(int i, int j) const;
  // replace(s, "", n).
  tavo_string del(const tavo_string& s, int n) const;
  // sub(0, i-1) + s + sub(j+1, length()-1).
  tavo_string replace(int i, int j, const tavo_string& s) const;
  // Occurrences of s1, found left to right without overlapping: n == 0
  // replaces every one by s2, n > 0 only the n-th. An empty s1, or n beyond
  // the number of occurrences (or negative), gives this text unchanged (the
  // result shares this string's representation).
  tavo_string replace(const tavo_string& s1, const tavo_string& s2, int n) const;
  // replace(s1, s2, 0).
  tavo_string replace_all(const tavo_string& s1, const tavo_string& s2) const;
  // printf formatting of f with this text as the only argument ("%s"). Any
  // length, as the formatting constructors; f must hold exactly one
  // conversion taking a text.
  tavo_string format(const tavo_string& f) const;
  // Every character through tolower; same length.
  tavo_string to_lower() const;

  // Checks the invariants above that can be checked: count >= 1, buffer
  // non-null, 0 <= length, NUL at length. Constant time; for tests.
  bool verify() const;

  // The representation.
  string_rep* ptr() const { return static_cast<string_rep*>(PTR); }

 private:
  // Adopts r without counting it up (r was just built with count 1).
  explicit tavo_string(string_rep* r) { PTR = r; }
  // A string owning buf (array new, NUL-terminated); its length is strlen.
  static tavo_string adopt(char* buf);
};

static_assert(sizeof(tavo_string) == sizeof(void*), "a string is one pointer wide");

// ---- free operators -------------------------------------------------------------
// A copy of a, then += b.
tavo_string operator+(const tavo_string& a, const tavo_string& b);
// Text equality: cmp(..) == 0. The string/string and reversed forms avoid
// comparing buffer addresses through the conversion to const char*.
bool operator==(const tavo_string& a, const char* b);
bool operator==(const char* a, const tavo_string& b);
bool operator==(const tavo_string& a, const tavo_string& b);
bool operator!=(const tavo_string& a, const char* b);
bool operator!=(const char* a, const tavo_string& b);
bool operator!=(const tavo_string& a, const tavo_string& b);
// -1, 0 or 1 as strcmp orders the texts: the containers' default ordering.
int compare(const tavo_string& x, const tavo_string& y);
// Writes the text; returns out.
std::ostream& operator<<(std::ostream& out, const tavo_string& s);
// Reads one word: skips whitespace, then s.read(in, '\0') (the whitespace
// after the word stays in the stream). On std::cin, and only there, a newline
// met while skipping is consumed and ends the skipping: the word is then read
// from the start of the next line ("" if that line starts with whitespace).
// Cost as read.
std::istream& operator>>(std::istream& in, tavo_string& s);
// Strings cannot index a hashed map: reports "map<I,E>: Index type I=string
// not allowed." and yields 0 if the handler returns.
int ID_Number(const tavo_string& s);

#endif  // TAVO_STRING_H

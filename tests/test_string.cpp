// Tests of the reference-counted string: construction, the positional edits
// against std::string, sharing and copy-on-write, formatting against
// snprintf, stream input against the standard extractors, strings in
// container slots, and the fatal reports.
#include "tavo/string.h"
#include "tavo/dictionary.h"
#include "tavo/error.h"
#include "tavo/memory.h"
#include "tavo/slot.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support.h"

namespace {

using namespace tavo_test;

std::string str(const tavo_string& s) {
  return std::string(s.cstring());
}

// Chunks of std_memory_mgr in use in the classes of representations and of
// heap handles.
std::int64_t in_use(std::size_t bytes) {
  return std_memory_mgr.chunks(int(bytes)) - std_memory_mgr.free_chunks(int(bytes));
}
std::int64_t reps_in_use() {
  return in_use(sizeof(string_rep));
}

// What snprintf prints, whatever the length.
std::string printed(const char* format, ...) {
  va_list ap, again;
  va_start(ap, format);
  va_copy(again, ap);
  const int n = std::vsnprintf(nullptr, 0, format, ap);
  std::vector<char> buf(std::size_t(n) + 1);
  std::vsnprintf(buf.data(), buf.size(), format, again);
  va_end(again);
  va_end(ap);
  return std::string(buf.data(), std::size_t(n));
}

// Installs, for one scope, a handler that records the reports and returns.
std::vector<std::string> reports;
struct returning_handler {
  tavo_error_handler_type saved = std_error_handler;
  returning_handler() {
    reports.clear();
    std_error_handler = [](int, const char* msg) { reports.push_back(msg); };
  }
  ~returning_handler() { std_error_handler = saved; }
};

// Random texts over a small alphabet, so that patterns occur often.
struct random_texts {
  std::mt19937 gen{20261208};
  std::string text(int max_len) {
    std::string t(std::uniform_int_distribution<int>(0, max_len)(gen), 'a');
    for (char& c : t) c = "abc"[std::uniform_int_distribution<int>(0, 2)(gen)];
    return t;
  }
  // A position from 4 before the start to 4 past the end, or an extreme.
  int position(const std::string& t) {
    const int r = std::uniform_int_distribution<int>(0, 40)(gen);
    if (r == 0) return INT_MIN;
    if (r == 1) return INT_MAX;
    return std::uniform_int_distribution<int>(-4, int(t.size()) + 4)(gen);
  }
};

// Models in std::string, written position by position: the characters of t
// at positions k with keep(k).
std::string kept(const std::string& t, const std::function<bool(long)>& keep) {
  std::string r;
  for (long k = 0; k < long(t.size()); ++k)
    if (keep(k)) r += t[std::size_t(k)];
  return r;
}
// Non-overlapping occurrences left to right; n == 0 replaces all, else the n-th.
std::string model_replace(const std::string& t, const std::string& a, const std::string& b, int n) {
  if (a.empty()) return t;
  std::string r;
  std::size_t from = 0;
  int seen = 0;
  for (std::size_t at = t.find(a); at != std::string::npos; at = t.find(a, from)) {
    r += t.substr(from, at - from);
    r += (n == 0 || ++seen == n) ? b : a;
    from = at + a.size();
  }
  return r + t.substr(from);
}

}  // namespace

// ---- construction and access ---------------------------------------------------

TEST(StringConstruction, EveryConstructorGivesItsText) {
  char a[] = "a", bc[] = "bc";
  char* argv[] = {a, bc};
  EXPECT_EQ(str(tavo_string()), "");
  EXPECT_EQ(str(tavo_string("text")), "text");
  EXPECT_EQ(str(tavo_string('x')), "x");
  EXPECT_EQ(str(tavo_string('\0')), "");
  EXPECT_EQ(str(tavo_string(2, argv)), "a bc ");
  EXPECT_EQ(str(tavo_string(0, argv)), "");
  EXPECT_EQ(tavo_string(2, argv).length(), 5);
}

TEST(StringAccess, AccessorsShowTheSharedBufferAndItsNul) {
  const tavo_string s("abc");
  const tavo_string t(s);
  EXPECT_EQ(s.refs(), 2);
  EXPECT_EQ(t.cstring(), s.cstring());  // shared, not copied
  EXPECT_EQ(static_cast<const char*>(s), s.cstring());
  EXPECT_EQ(~s, s.cstring());
  EXPECT_EQ(s.length(), 3);
  EXPECT_EQ(s[1], 'b');
  EXPECT_EQ(s[3], '\0');
  EXPECT_TRUE(s == "abc" && "abc" == s && s == t && s != "ab" && "ab" != s);
  EXPECT_EQ(compare(tavo_string("ab"), tavo_string("b")), -1);
  EXPECT_EQ(compare(tavo_string("b"), tavo_string("ab")), 1);
  EXPECT_EQ(compare(s, t), 0);
  std::ostringstream out;
  out << s << '|';
  EXPECT_EQ(out.str(), "abc|");
}

// ---- the positional edits against std::string -------------------------------------

TEST(StringEdits, BoundaryExamples) {
  const tavo_string s("abcdef"), abc("abcabc");
  EXPECT_EQ(str(s.sub(3, 1)), "");
  EXPECT_EQ(str(s.sub(-5, 2)), "abc");
  EXPECT_EQ(str(s(2, 1000)), "cdef");
  EXPECT_EQ(str(tavo_string().sub(0, 0)), "");
  EXPECT_EQ(str(tavo_string("abc").del(1, 1)), "ac");
  EXPECT_EQ(str(s.del(2, 100)), "ab");
  EXPECT_EQ(str(s.insert("X", -3)), "Xabcdef");
  EXPECT_EQ(str(s.insert(6, "X")), "abcdefX");
  EXPECT_EQ(tavo_string("abcbc").pos("bc"), 1);
  EXPECT_EQ(tavo_string("abcbc").pos("bc", 2), 3);
  EXPECT_EQ(s.pos(""), -1);
  EXPECT_EQ(s.pos("a", s.length()), -1);
  EXPECT_EQ(s.pos("b", -7), 1);  // a negative start searches from 0
  EXPECT_EQ(str(abc.replace("b", "X", 0)), "aXcaXc");
  EXPECT_EQ(str(abc.replace("b", "X", 2)), "abcaXc");
  EXPECT_EQ(str(abc.replace("b", "X", 3)), "abcabc");
  EXPECT_EQ(str(abc.del("b", 0)), "acac");
  EXPECT_EQ(str(tavo_string("aaa").replace_all("aa", "b")), "ba");
  EXPECT_EQ(str(tavo_string("AbC1").to_lower()), "abc1");
}

TEST(StringEdits, RandomEditsMatchStdString) {
  random_texts r;
  for (int round = 0; round < 3000; ++round) {
    const std::string t = r.text(12), u = r.text(3), w = r.text(3);
    const long i = r.position(t), j = r.position(t);
    const int n = std::uniform_int_distribution<int>(0, 4)(r.gen);
    const tavo_string s(t.c_str()), su(u.c_str()), sw(w.c_str());
    SCOPED_TRACE("t=" + t + " u=" + u + " w=" + w + " i=" + std::to_string(i) +
                 " j=" + std::to_string(j) + " n=" + std::to_string(n));
    const std::string before = kept(t, [&](long k) { return k < i; });
    const std::string from_i = kept(t, [&](long k) { return k >= i; });
    const std::string after_j = kept(t, [&](long k) { return k > j; });
    const std::vector<std::pair<tavo_string, std::string>> cases = {
        {s.sub(int(i), int(j)), kept(t, [&](long k) { return i <= k && k <= j; })},
        {s.insert(su, int(i)), before + u + from_i},
        {s.insert(int(i), su), before + u + from_i},
        {s.del(int(i), int(j)), before + after_j},
        {s.replace(int(i), int(j), su), before + u + after_j},
        {s.replace(su, sw, n), model_replace(t, u, w, n)},
        {s.replace_all(su, sw), model_replace(t, u, w, 0)},
        {s.del(su, n), model_replace(t, u, "", n)},
        {s + su, t + u},
    };
    for (const auto& c : cases) {
      EXPECT_EQ(str(c.first), c.second);
      EXPECT_EQ(c.first.length(), int(c.second.size()));
      EXPECT_TRUE(c.first.verify());
    }
    const std::size_t found = u.empty() || i >= long(t.size())
                                  ? std::string::npos
                                  : t.find(u, std::size_t(std::max(i, 0L)));
    EXPECT_EQ(s.pos(su, int(i)), found == std::string::npos ? -1 : int(found));
    tavo_string acc(s);
    acc += su;
    EXPECT_EQ(str(acc), t + u);
    EXPECT_EQ(str(s), t);  // operands untouched
  }
}

// ---- sharing and copy-on-write ---------------------------------------------------

TEST(StringSharing, EveryModifierLeavesTheOtherHandleUnchanged) {
  const std::vector<std::function<void(tavo_string&)>> modifiers = {
      [](tavo_string& t) { t = tavo_string("new"); },
      [](tavo_string& t) { t += "x"; },
      [](tavo_string& t) { t += t; },
      [](tavo_string& t) { t[0] = 'z'; },
      [](tavo_string& t) {
        std::istringstream in("read,rest");
        t.read(in, ',');
      },
      [](tavo_string& t) {
        std::istringstream in("line\n");
        t.read_line(in);
      },
      [](tavo_string& t) {
        std::istringstream in(" word ");
        in >> t;
      },
  };
  const std::int64_t before = reps_in_use();
  for (std::size_t m = 0; m < modifiers.size(); ++m) {
    SCOPED_TRACE("modifier " + std::to_string(m));
    tavo_string s("shared");
    tavo_string t;
    t = s;
    EXPECT_EQ(s.refs(), 2);
    modifiers[m](t);
    EXPECT_EQ(str(s), "shared");
    EXPECT_NE(str(t), "shared");
    EXPECT_EQ(s.refs(), 1);
    EXPECT_EQ(t.refs(), 1);
    EXPECT_TRUE(s.verify() && t.verify());
  }
  EXPECT_EQ(reps_in_use(), before);
}

TEST(StringSharing, CountsFollowHandlesAndReturnToOne) {
  const std::int64_t reps = reps_in_use(), handles = in_use(sizeof(tavo_string));
  {
    tavo_string s("abc");
    EXPECT_EQ(reps_in_use(), reps + 1);
    s = s;  // self-assignment keeps the representation and its count
    EXPECT_EQ(s.refs(), 1);
    EXPECT_EQ(str(s), "abc");
    {
      tavo_string t(s), u;
      u = t;
      tavo_string* heap = new tavo_string(u);  // from std_memory_mgr
      EXPECT_EQ(in_use(sizeof(tavo_string)), handles + 1);
      EXPECT_EQ(s.refs(), 4);
      u = t;  // assigning a sharer changes nothing
      EXPECT_EQ(s.refs(), 4);
      delete heap;
      EXPECT_EQ(s.refs(), 3);
    }
    EXPECT_EQ(s.refs(), 1);
    const char* own = s.cstring();
    s[1] = 'X';  // unshared: written in place
    EXPECT_EQ(s.cstring(), own);
    EXPECT_EQ(str(s), "aXc");
  }
  EXPECT_EQ(reps_in_use(), reps);
  EXPECT_EQ(in_use(sizeof(tavo_string)), handles);
}

// ---- formatting ----------------------------------------------------------------

TEST(StringFormatting, EachArgumentTypeMatchesSnprintf) {
  int local = 0;
  void* address = &local;
  const std::vector<std::pair<tavo_string, std::string>> cases = {
      {tavo_string("%c|%d|%s", 'q', 7, "r"), printed("%c|%d|%s", 'q', 7, "r")},
      {tavo_string("%d items", static_cast<char>(-5)), "-5 items"},
      {tavo_string("%d|%s", static_cast<unsigned char>(200), "r"), "200|r"},
      {tavo_string("%d|%s", static_cast<short>(-1234), "r"), "-1234|r"},
      {tavo_string("%d|%s", static_cast<unsigned short>(65535), "r"), "65535|r"},
      {tavo_string("%d items", 3), "3 items"},
      {tavo_string("%u|%x", 4000000000u, 255), printed("%u|%x", 4000000000u, 255)},
      {tavo_string("%ld|%d", LONG_MIN, 1), printed("%ld|%d", LONG_MIN, 1)},
      {tavo_string("%lu|%d", ULONG_MAX, 1), printed("%lu|%d", ULONG_MAX, 1)},
      {tavo_string("%.3f|%d", 2.5f, 1), printed("%.3f|%d", 2.5, 1)},
      {tavo_string("%g|%e", 1e300, 2.0), printed("%g|%e", 1e300, 2.0)},
      {tavo_string("%s=%d", "x", 7), "x=7"},
      {tavo_string("%p|%s", address, "r"), printed("%p|%s", address, "r")},
      {tavo_string("no conversion", 5), "no conversion"},
      {tavo_string("%d%% and 100%%", 50), "50% and 100%"},
      {tavo_string("100%% of %d%%", 5), "100% of 5%"},
  };
  for (const auto& c : cases) EXPECT_EQ(str(c.first), c.second);
}

TEST(StringFormatting, StarTakesTheFirstArgument) {
  EXPECT_EQ(str(tavo_string("%*d", 4, 7)), "   7");
  EXPECT_EQ(str(tavo_string("%*d|%s", 5, 42, "ab")), printed("%*d|%s", 5, 42, "ab"));
  EXPECT_EQ(str(tavo_string("%-*d|", 5, 42)), printed("%-*d|", 5, 42));
  EXPECT_EQ(str(tavo_string("%.*s|%d", 2, "abcdef", 9)), printed("%.*s|%d", 2, "abcdef", 9));
  EXPECT_EQ(str(tavo_string("%*.*f|", 9, 3, 3.14159)), printed("%*.*f|", 9, 3, 3.14159));
  EXPECT_EQ(str(tavo_string("%0*ld|", 8, -42L)), printed("%0*ld|", 8, -42L));
}

// The first argument's text is never read as a format: a '%' in a name, or a
// conversion-like text, comes out as it stands, also with further arguments.
TEST(StringFormatting, PercentInTheFirstArgumentStaysText) {
  EXPECT_EQ(str(tavo_string("%s", "100%d")), "100%d");
  EXPECT_EQ(str(tavo_string("%s is not a directory.", "/tmp/%s%n%%")),
            "/tmp/%s%n%% is not a directory.");
  EXPECT_EQ(str(tavo_string("[%8s|%s|%d]", "a%sb", "%c", 5)),
            printed("[%8s|%s|%d]", "a%sb", "%c", 5));
  EXPECT_EQ(str(tavo_string("%%%s%%", "%")), "%%%");
  EXPECT_EQ(str(tavo_string("%c%%%c", '%', '%')), "%%%");
}

// Only x is surely there: positional conversions use it or stand as text,
// and a '%' cut off by the end of the format is a character.
TEST(StringFormatting, NoConversionReadsAnArgumentThatWasNotPassed) {
  EXPECT_EQ(str(tavo_string("%1$s=%1$s", "key")), "key=key");
  EXPECT_EQ(str(tavo_string("%1$5d|%1$x", 255)), printed("%1$5d|%1$x", 255));
  EXPECT_EQ(str(tavo_string("%1$s %2$s %%", "a", "b")), "a %2$s %");
  EXPECT_EQ(str(tavo_string("%1$*2$d|%s|%1$s", "x", 4)), "%1$*2$d|%s|x");
  EXPECT_EQ(str(tavo_string("%s then %1$s", "x", "y")), "%s then x");
  EXPECT_EQ(str(tavo_string("abc%", 1)), "abc%");
  EXPECT_EQ(str(tavo_string("%", 1)), "%");
  EXPECT_EQ(str(tavo_string("%d%%|%", 7)), "7%|%");
  EXPECT_EQ(str(tavo_string("%s|%-5", "a", 2)), "a|%-5");
  EXPECT_EQ(str(tavo_string("%1$", 1)), "%1$");
}

// 511 characters fit the work buffers; longer texts, in either pass, grow them.
TEST(StringFormatting, LongTextsAreProducedWhole) {
  random_texts r;
  for (int len : {510, 511, 512, 600, 5000}) {
    SCOPED_TRACE(len);
    std::string t(std::size_t(len), 'x');
    for (char& c : t) c = "abcdefgh"[r.gen() % 8];
    const char* text = t.c_str();
    EXPECT_EQ(str(tavo_string("%s", text)), t);                         // the result
    EXPECT_EQ(str(tavo_string("%s|%d|%s", text, 7, "e")), t + "|7|e");  // the first pass
    EXPECT_EQ(str(tavo_string("%d|%s", 1, text)), "1|" + t);            // the second pass
    EXPECT_EQ(str(tavo_string((t + "%d").c_str(), 3)), t + "3");        // a long format
    EXPECT_EQ(str(tavo_string("%*d", len, 7)), printed("%*d", len, 7));
    EXPECT_EQ(str(tavo_string(text).format("[%s]")), "[" + t + "]");
    EXPECT_EQ(tavo_string("%s", text).length(), len);
  }
  EXPECT_EQ(str(tavo_string("x").format("[%s]")), "[x]");
}

// ---- stream input ----------------------------------------------------------------

TEST(StringInput, ReadStopsAtTheDelimiter) {
  tavo_string s;
  std::istringstream in("ab,cd");
  s.read(in, ',');
  EXPECT_EQ(str(s), "ab");
  EXPECT_EQ(in.peek(), ',');
  std::istringstream lines("ab\ncd");
  s.read_line(lines);
  EXPECT_EQ(str(s), "ab");
  EXPECT_EQ(lines.peek(), 'c');
  s.read_line(lines);  // the last line, without a newline: read, not a failure
  EXPECT_EQ(str(s), "cd");
  EXPECT_TRUE(lines.eof() && !lines.fail());
  s.read_line(lines);  // nothing left
  EXPECT_EQ(str(s), "");
  EXPECT_TRUE(lines.fail());
  std::istringstream words("one two");
  s.read(words, '\0');
  EXPECT_EQ(str(s), "one");
  EXPECT_EQ(words.peek(), ' ');
}

// Line lengths around the 1023-character chunks; compared with std::getline.
TEST(StringInput, ReadLineMatchesGetline) {
  random_texts r;
  std::string input;
  for (int len : {0, 1, 1022, 1023, 1024, 2046, 2047, 5000, 3})
    input += std::string(std::size_t(len), 'a') + r.text(5) + "\n";
  input += r.text(40);  // no newline at the end
  std::istringstream mine(input), theirs(input);
  tavo_string s;
  std::string line;
  for (;;) {
    s.read_line(mine);
    const bool ok = static_cast<bool>(std::getline(theirs, line));
    EXPECT_EQ(static_cast<bool>(mine), ok);
    if (!ok) break;
    EXPECT_EQ(str(s), line);
    EXPECT_TRUE(s.verify());
  }
}

// NULs are characters: a line keeps every byte up to its newline, across
// the 1023-character chunks, as std::getline does.
TEST(StringInput, ReadLineKeepsNulBytes) {
  for (std::size_t at : {std::size_t(0), std::size_t(3), std::size_t(1022), std::size_t(1500)}) {
    std::string line(1507, 'x');
    for (std::size_t k = 0; k < line.size(); ++k) line[k] = char('a' + k % 26);
    line[at] = '\0';
    line[1200] = '\0';
    std::istringstream in(line + "\nnext\n");
    tavo_string s;
    s.read_line(in);
    ASSERT_EQ(s.length(), 1507) << at;
    EXPECT_EQ(std::string(s.cstring(), std::size_t(s.length())), line) << at;
    EXPECT_TRUE(s.verify());
    s.read_line(in);
    EXPECT_EQ(str(s), "next");
  }
}

// On any stream but std::cin, >> reads words as std::string's >> does.
TEST(StringInput, WordsMatchTheStandardExtractor) {
  random_texts r;
  for (int round = 0; round < 200; ++round) {
    std::string input;
    for (int w = 0; w < 6; ++w) input += std::string(r.gen() % 3, " \n\t"[r.gen() % 3]) + r.text(4);
    std::istringstream mine(input), theirs(input);
    tavo_string s;
    std::string word;
    for (;;) {
      mine >> s;
      const bool ok = static_cast<bool>(theirs >> word);
      ASSERT_EQ(static_cast<bool>(mine), ok) << input;
      if (!ok) break;
      EXPECT_EQ(str(s), word);
    }
    EXPECT_EQ(str(s), "");
  }
  std::istringstream rest("  word rest");
  tavo_string s;
  rest >> s;
  EXPECT_EQ(str(s), "word");
  EXPECT_EQ(rest.peek(), ' ');
}

// On std::cin a newline ends the skipping: the word starts the next line.
TEST(StringInput, StandardInputStopsSkippingAtANewline) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"  word\n  next", {"word", "", "next"}},  // the second >> meets the newline
      {" \nword rest", {"word", "rest"}},
      {"\n  x", {"", "x"}},  // the next line starts with whitespace
  };
  for (const auto& c : cases) {
    std::istringstream in(c.first);
    std::streambuf* saved = std::cin.rdbuf(in.rdbuf());
    std::vector<std::string> got;
    for (std::size_t k = 0; k < c.second.size(); ++k) {
      tavo_string s("old");
      std::cin >> s;
      got.push_back(str(s));
    }
    std::cin.rdbuf(saved);
    std::cin.clear();
    EXPECT_EQ(got, c.second) << c.first;
  }
}

// ---- strings in container slots ---------------------------------------------------

TEST(StringInContainers, SlotHoldsTheHandleItself) {
  static_assert(tavo_in_slot<tavo_string>::value, "a string lies in its slot");
  static_assert(tavo_type_id<tavo_string>() == 0, "no fast path for strings");
  tavo_string s("slot");
  value_slot p = tavo_copy(s);
  EXPECT_EQ(s.refs(), 2);
  EXPECT_EQ(tavo_const_access<tavo_string>(p).cstring(), s.cstring());
  tavo_access<tavo_string>(p) += "!";  // the slot's own handle changes
  EXPECT_EQ(str(tavo_access<tavo_string>(p)), "slot!");
  EXPECT_EQ(s.refs(), 1);
  tavo_clear(tavo_access<tavo_string>(p));
  EXPECT_EQ(str(s), "slot");
  alignas(void*) unsigned char word[sizeof(void*)];
  tavo_string* in_word = new (word, 0) tavo_string(s);  // the handle's placement form
  EXPECT_EQ(static_cast<void*>(in_word), static_cast<void*>(word));
  EXPECT_EQ(s.refs(), 2);
  in_word->~tavo_string();
  EXPECT_EQ(s.refs(), 1);
}

TEST(StringInContainers, DictionariesShareAndReleaseTheirStrings) {
  const std::int64_t before = reps_in_use();
  {
    const tavo_string k[] = {"pear", "apple", "fig", "kiwi"};
    {
      tavo_dictionary<tavo_string, int> by_name;
      tavo_dictionary<int, tavo_string> by_number;
      for (int i = 0; i < 4; ++i) {
        by_name.insert(k[i], i);
        by_number.insert(i, k[i]);
      }
      for (const tavo_string& s : k) EXPECT_EQ(s.refs(), 3);
      std::string order;
      for (auto it = by_name.first_item(); it; it = by_name.next_item(it))
        order += str(by_name.key(it)) + " ";
      EXPECT_EQ(order, "apple fig kiwi pear ");
      EXPECT_EQ(by_name.access("fig"), 2);
      EXPECT_EQ(str(by_number.access(1)), "apple");
      by_number.insert(1, k[0]);  // replaced: apple's copy released
      EXPECT_EQ(k[1].refs(), 2);
      EXPECT_EQ(k[0].refs(), 4);
      by_name.del("pear");
      EXPECT_EQ(k[0].refs(), 3);
      EXPECT_TRUE(by_name.verify() && by_number.verify());
      by_name.clear();
      // pear twice in by_number, apple nowhere, fig and kiwi once.
      EXPECT_EQ(k[0].refs(), 3);
      EXPECT_EQ(k[1].refs(), 1);
      EXPECT_EQ(k[2].refs(), 2);
      EXPECT_EQ(k[3].refs(), 2);
      by_name.insert(k[3], 3);
    }  // destroyed with entries in them
    for (const tavo_string& s : k) EXPECT_EQ(s.refs(), 1);
  }
  EXPECT_EQ(reps_in_use(), before);
}

// ---- failures --------------------------------------------------------------------

using StringDeathTest = testing::Test;

TEST_F(StringDeathTest, FatalReports) {
  const tavo_string s("abc");
  tavo_string t("abc");
  const char* nil = nullptr;
  EXPECT_DEATH(tavo_string{nil}, fatal_report("string::str_dup: nil argument"));
  EXPECT_DEATH(ID_Number(s), fatal_report("map<I,E>: Index type I=string not allowed."));
  for (int i : {-1, 4, INT_MIN, INT_MAX}) {
    EXPECT_DEATH(s[i], fatal_report("string::operator[]: index out of range")) << i;
    EXPECT_DEATH(t[i] = 'x', fatal_report("string::operator[]: index out of range")) << i;
  }
}

// Lengths are signed 32-bit: a longer result is refused before any allocation.
TEST_F(StringDeathTest, TooLongTextsAreRefused) {
  std::string word(std::size_t(1) << 20, 'w');  // 1 MiB
  std::vector<char*> argv(2100, &word[0]);      // 2100 words of 1 MiB + 1 > INT32_MAX
  EXPECT_DEATH(tavo_string(int(argv.size()), argv.data()),
               fatal_report("string::str_cat: text too long"));
  {
    returning_handler scope;
    EXPECT_EQ(str(tavo_string(int(argv.size()), argv.data())), "");
    EXPECT_EQ(str(tavo_string(static_cast<const char*>(nullptr))), "");
    const tavo_string s("abc");
    EXPECT_EQ(s[9], '\0');
    EXPECT_EQ(ID_Number(s), 0);
    EXPECT_EQ(reports, (std::vector<std::string>{"string::str_cat: text too long",
                                                 "string::str_dup: nil argument",
                                                 "string::operator[]: index out of range",
                                                 "map<I,E>: Index type I=string not allowed."}));
  }
}

TEST_F(StringDeathTest, ReferenceCountOverflowIsFatal) {
  struct saturated_rep : handle_rep {
    saturated_rep() { count = INT32_MAX; }
  };
  struct raw_handle : handle_base {
    explicit raw_handle(handle_rep* r) { PTR = r; }
  };
  EXPECT_DEATH(
      {
        raw_handle h(new saturated_rep);
        raw_handle copy(h);
      },
      fatal_report("handle_base: too many references"));
}

// malloc is made to fail by an address-space limit in the death test's child;
// the address sanitizer reports such a failure itself.
#if !defined(__SANITIZE_ADDRESS__)
void limit_address_space(std::size_t extra) {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  statm >> pages;
  const rlim_t limit = pages * std::size_t(sysconf(_SC_PAGESIZE)) + extra;
  const rlimit r{limit, limit};
  if (setrlimit(RLIMIT_AS, &r) != 0) std::_Exit(3);
}

TEST_F(StringDeathTest, OutOfMemoryIsFatal) {
  std::string word(std::size_t(1) << 20, 'w');
  std::vector<char*> argv(64, &word[0]);
  EXPECT_DEATH((limit_address_space(32 << 20), tavo_string(64, argv.data())),
               fatal_report("string::str_cat: out of memory"));
  EXPECT_DEATH(
      {
        const std::string big(std::size_t(64) << 20, 'b');
        limit_address_space(32 << 20);
        tavo_string s(big.c_str());
      },
      fatal_report("string::str_dup: out of memory"));
}
#endif

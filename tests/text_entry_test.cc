// The insertion check and the two writers on a bare grid: column 0, the middle, past the end,
// the last column, and lines that would outgrow their slot.
#include "edit/text_entry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/document.h"

namespace {

struct Captured {
  char* text = nullptr;
  std::size_t size = 0;
  Io io{nullptr, open_memstream(&text, &size)};
  std::string Take() {
    std::fclose(io.out);
    std::string s(text, size);
    std::free(text);
    return s;
  }
};

std::string Text(const Document& doc, int line) {
  return std::string(doc.slot(line).data(), LineLength(doc.slot(line)));
}

// A grid of two slots of 11 bytes (lines of at most 10 characters) holding `line` first.
bool StartWith(Document& doc, const std::string& line) {
  if (!doc.Allocate(2, 11)) return false;
  std::copy(line.begin(), line.end(), doc.slot(0).begin());
  return true;
}

TEST(Insert, CheckedInsertionKeepsEveryLineInsideItsSlot) {
  struct Case {
    const char* line;
    int position;
    const char* text;
    const char* result;  // nullptr: refused
    const char* message;
  };
  // A slot of 11 bytes: lines of at most 10 characters.
  const Case cases[] = {
      {"abcdef", 0, "XY", "XYabcdef", ""},
      {"abcdef", 2, "XY", "abXYcdef", ""},
      {"abc", 6, "XY", "abc   XY", ""},
      {"abcdefgh", 2, "XYZ", "abXYcdefgh",
       "Insert was truncated because the line would have exceeded 11\n"},
      {"ab", 8, "XYZ", "ab      XY",
       "Insert was truncated because it is too long for the position\n"},
      {"ab", 10, "X", nullptr, "Insert was truncated because it is too long for the position\n"},
      {"abcdefghij", 3, "X", nullptr,
       "Insert was truncated because the line would have exceeded 11\n"},
      {"abc", 1, "", nullptr, ""},
  };
  for (const Case& c : cases) {
    Document doc;
    ASSERT_TRUE(StartWith(doc, c.line));
    Captured out;
    int count = -1;
    int go = CheckInsert(0, c.position, count, c.text, doc, out.io);
    if (go) Insert(0, c.position, count, c.text, doc);
    EXPECT_EQ(out.Take(), c.message) << c.line << " + " << c.text;
    EXPECT_EQ(go == 1, c.result != nullptr) << c.line << " + " << c.text;
    EXPECT_EQ(Text(doc, 0), c.result ? c.result : c.line) << c.line << " + " << c.text;
    EXPECT_TRUE(doc.CheckInvariant()) << c.line << " + " << c.text;
  }
}

TEST(Replace, OverwritesOnlyInsideTheSlot) {
  struct Case {
    const char* line;
    int position;
    const char* text;
    const char* result;
    const char* message;
  };
  const Case cases[] = {
      {"abcdefgh", 2, "XY", "abXYefgh", ""},
      {"abc", 6, "X", "abc   X", ""},
      {"abc", 0, "", "abc", ""},
      {"abc", 5, "", "abc  ", ""},
      {"", 8, "XYZ", "        XY", "Text was shortened to fit onto line\n"},
      {"abc", 10, "X", "abc", "At End Of Line\n"},
  };
  for (const Case& c : cases) {
    Document doc;
    ASSERT_TRUE(StartWith(doc, c.line));
    Captured out;
    Replace(0, c.position, c.text, doc, out.io);
    EXPECT_EQ(out.Take(), c.message) << c.line;
    EXPECT_EQ(Text(doc, 0), c.result) << c.line;
    EXPECT_TRUE(doc.CheckInvariant()) << c.line;
  }
  Document doc;
  ASSERT_TRUE(doc.Allocate(2, 11));
  Captured out;
  Replace(2, 0, "X", doc, out.io);
  EXPECT_EQ(out.Take(), "Invalid Line Number\n");
}

}  // namespace

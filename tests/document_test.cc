#include "core/document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "doc/load.h"
#include "session.h"
#include "support.h"

namespace {

void Put(Document& doc, int line, const std::string& text) {
  std::span<char> slot = doc.slot(line);
  ZeroFrom(slot, 0);
  std::copy(text.begin(), text.end(), slot.begin());
}

std::vector<std::string> All(const Document& doc) {
  std::vector<std::string> v;
  for (int i = 0; i < doc.lines(); ++i) v.push_back(SlotText(doc, i));
  return v;
}

TEST(Document, DocLengthFindsTheLastLineWithText) {
  Document doc;
  ASSERT_TRUE(doc.Allocate(20, 8));
  EXPECT_EQ(DocLength(doc), 0);
  Put(doc, 0, "a");
  EXPECT_EQ(DocLength(doc), 0);
  Put(doc, 9, "b");
  EXPECT_EQ(DocLength(doc), 9);
  Put(doc, 9, "");
  EXPECT_EQ(DocLength(doc), 0);
  Put(doc, 19, "z");
  EXPECT_EQ(DocLength(doc), 19);
}

TEST(Document, AllocateRefusesAGridBeyondTheIntRange) {
  Document doc;
  EXPECT_FALSE(doc.Allocate(1 << 20, 1 << 12));
  EXPECT_FALSE(doc.allocated());
  EXPECT_FALSE(doc.Allocate(0, 256));
  EXPECT_TRUE(doc.Allocate(3, 2));
}

TEST(Document, WedgePushesTheLastLineOutAndDeleteEmptiesIt) {
  Document doc;
  ASSERT_TRUE(doc.Allocate(5, 4));
  for (int i = 0; i < 5; ++i) Put(doc, i, std::string(1, static_cast<char>('A' + i)));
  Wedge(1, doc);
  EXPECT_EQ(All(doc), (std::vector<std::string>{"A", "", "B", "C", "D"}));
  Delete(1, doc);
  EXPECT_EQ(All(doc), (std::vector<std::string>{"A", "B", "C", "D", ""}));
  Wedge(4, doc);
  EXPECT_EQ(All(doc), (std::vector<std::string>{"A", "B", "C", "D", ""}));
  Put(doc, 4, "E");
  Delete(4, doc);
  EXPECT_EQ(All(doc), (std::vector<std::string>{"A", "B", "C", "D", ""}));
  EXPECT_TRUE(doc.CheckInvariant());
}

TEST(Document, DeleteOfALongLineLeavesNothingOfItBehind) {
  Document doc;
  ASSERT_TRUE(doc.Allocate(4, 8));
  Put(doc, 0, "abcdefg");
  Put(doc, 1, "xy");
  Delete(0, doc);
  EXPECT_EQ(SlotText(doc, 0), "xy");
  std::span<const char> slot = doc.slot(0);
  for (int c = 2; c < 8; ++c) EXPECT_EQ(slot[c], '\0') << c;
  EXPECT_TRUE(doc.CheckInvariant());
}

// The document with its index, its load block and its scratch slot must behave exactly like
// the plain grid of slots: random writes (whole lines, shortened lines, lines left open for
// writing across the next step), shifts, loads and clears against a vector of strings.
TEST(Document, ShiftsMatchAPlainModelOverRandomSequences) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    std::mt19937 rng(seed);
    int lines = 1 + static_cast<int>(rng() % 9);
    int lsize = 2 + static_cast<int>(rng() % 6);
    Document doc;
    ASSERT_TRUE(doc.Allocate(lines, lsize));
    std::vector<std::string> model(lines);
    for (int step = 0; step < 80; ++step) {
      int line = static_cast<int>(rng() % lines);
      switch (rng() % 8) {
        case 0:
        case 1: {
          std::string text(rng() % lsize, static_cast<char>('a' + step % 26));
          Put(doc, line, text);
          model[line] = text;
          break;
        }
        case 2: {
          // Shortened where it lies (in the load block or its own block).
          int keep = static_cast<int>(rng() % lsize);
          ZeroFrom(doc.slot(line), keep);
          model[line].resize(std::min<std::size_t>(model[line].size(), keep));
          break;
        }
        case 3:
          Wedge(line, doc);
          model.insert(model.begin() + line, "");
          model.pop_back();
          break;
        case 4:
          Delete(line, doc);
          model.erase(model.begin() + line);
          model.push_back("");
          break;
        case 5: {
          // A load: lines of random lengths, some of them split for being too long.
          std::string text;
          std::vector<std::string> loaded;
          int count = static_cast<int>(rng() % (lines + 1));
          for (int i = 0; i < count; ++i) {
            std::string l(rng() % lsize, static_cast<char>('A' + i % 26));
            text += l + "\n";
            loaded.push_back(l);
          }
          if (count > 0 && rng() % 2 == 0) {
            // One line of exactly two slots' worth, when it still fits.
            std::string l(2 * (lsize - 1), 'Z');
            if (count + 1 < lines) {
              text += l;
              loaded.push_back(l.substr(0, lsize - 1));
              loaded.push_back(l.substr(lsize - 1));
            }
          }
          ASSERT_TRUE(ParseLines(TextOf(text), doc));
          model.assign(lines, "");
          std::copy(loaded.begin(), loaded.end(), model.begin());
          break;
        }
        case 6:
          ASSERT_TRUE(doc.Commit());
          break;
        case 7:
          if (rng() % 4 == 0) {
            doc.Clear();
            model.assign(lines, "");
          }
          break;
      }
      ASSERT_EQ(All(doc), model) << "seed " << seed << " step " << step;
      ASSERT_TRUE(doc.CheckInvariant()) << "seed " << seed << " step " << step;
      int last = 0;
      for (int i = 0; i < lines; ++i) {
        if (!model[i].empty()) last = i;
        ASSERT_EQ(doc.text(i), model[i]) << "seed " << seed << " step " << step;
      }
      ASSERT_EQ(DocLength(doc), last);
      if (!model[last].empty()) {
        ASSERT_GT(doc.extent(), last);
      }
    }
  }
}

// A copy of a line stays as it was while another line, or the same one, is written: a step may
// read one line while it writes another.
TEST(Document, CopiesOfLinesStayWhileLinesAreWritten) {
  Document doc;
  ASSERT_TRUE(doc.Allocate(4, 8));
  ASSERT_TRUE(ParseLines("abc\ndef", doc));
  std::span<const char> held = doc.view(0);
  Put(doc, 1, "xyz");
  Put(doc, 0, "0123456");
  Put(doc, 2, "q");
  EXPECT_EQ(std::string(held.data()), "abc");
  EXPECT_EQ(SlotText(doc, 0), "0123456");
  EXPECT_EQ(SlotText(doc, 1), "xyz");
  EXPECT_TRUE(doc.CheckInvariant());
}

TEST(Document, PadToCursorFillsWithSpacesOnlyUpToTheCursor) {
  Document doc;
  ASSERT_TRUE(doc.Allocate(1, 12));
  Put(doc, 0, "abc");
  PadToCursor(doc.slot(0), 7);
  EXPECT_EQ(SlotText(doc, 0), "abc    ");
  PadToCursor(doc.slot(0), 2);
  EXPECT_EQ(SlotText(doc, 0), "abc    ");
  EXPECT_TRUE(doc.CheckInvariant());
}

TEST(Document, CopySlotLeavesZerosAfterAShorterSource) {
  Document doc;
  ASSERT_TRUE(doc.Allocate(2, 8));
  Put(doc, 0, "abcdefg");
  Put(doc, 1, "x");
  CopySlot(doc.view(1), doc.slot(0));
  EXPECT_EQ(SlotText(doc, 0), "x");
  EXPECT_TRUE(doc.CheckInvariant());
}

}  // namespace

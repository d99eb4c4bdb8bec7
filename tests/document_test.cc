#include "core/document.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "session.h"

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

// The grid with its index table must behave exactly like the plain moving of slots.
TEST(Document, ShiftsMatchAPlainModelOverRandomSequences) {
  for (unsigned seed = 1; seed <= 200; ++seed) {
    std::mt19937 rng(seed);
    int lines = 1 + static_cast<int>(rng() % 7);
    int lsize = 2 + static_cast<int>(rng() % 5);
    Document doc;
    ASSERT_TRUE(doc.Allocate(lines, lsize));
    std::vector<std::string> model(lines);
    for (int step = 0; step < 60; ++step) {
      int line = static_cast<int>(rng() % lines);
      switch (rng() % 4) {
        case 0: {
          std::string text(rng() % lsize, static_cast<char>('a' + step % 26));
          Put(doc, line, text);
          model[line] = text;
          break;
        }
        case 1:
          Wedge(line, doc);
          model.insert(model.begin() + line, "");
          model.pop_back();
          break;
        case 2:
          Delete(line, doc);
          model.erase(model.begin() + line);
          model.push_back("");
          break;
        case 3:
          doc.Clear();
          model.assign(lines, "");
          break;
      }
      ASSERT_EQ(All(doc), model) << "seed " << seed << " step " << step;
      ASSERT_TRUE(doc.CheckInvariant()) << "seed " << seed << " step " << step;
      int last = 0;
      for (int i = 0; i < lines; ++i) {
        if (!model[i].empty()) last = i;
      }
      ASSERT_EQ(DocLength(doc), last);
    }
  }
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

#include "core/document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "doc/load.h"
#include "doc/save.h"
#include "journal/record.h"
#include "session.h"
#include "support.h"

namespace {

void Put(Document& doc, int line, const std::string& text) {
  ASSERT_EQ(doc.SetLine(line, text), 0);
}

std::vector<std::string> All(const Document& doc) {
  std::vector<std::string> v;
  for (int i = 0; i < doc.lines(); ++i) v.push_back(SlotText(doc, i));
  return v;
}

TEST(Document, DocLengthFindsTheLastLineWithText) {
  Document doc;
  ASSERT_EQ(doc.Allocate(20, 8), 0);
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
  EXPECT_NE(doc.Allocate(1 << 20, 1 << 12), 0);
  EXPECT_FALSE(doc.allocated());
  EXPECT_NE(doc.Allocate(0, 256), 0);
  EXPECT_EQ(doc.Allocate(3, 2), 0);
}

TEST(Document, OpenLinePushesTheLastLineOutAndRemoveLineEmptiesIt) {
  Document doc;
  ASSERT_EQ(doc.Allocate(5, 4), 0);
  for (int i = 0; i < 5; ++i) Put(doc, i, std::string(1, static_cast<char>('A' + i)));
  ASSERT_EQ(doc.OpenLine(1), 0);
  EXPECT_EQ(All(doc), (std::vector<std::string>{"A", "", "B", "C", "D"}));
  doc.RemoveLine(1);
  EXPECT_EQ(All(doc), (std::vector<std::string>{"A", "B", "C", "D", ""}));
  ASSERT_EQ(doc.OpenLine(4), 0);
  EXPECT_EQ(All(doc), (std::vector<std::string>{"A", "B", "C", "D", ""}));
  Put(doc, 4, "E");
  doc.RemoveLine(4);
  EXPECT_EQ(All(doc), (std::vector<std::string>{"A", "B", "C", "D", ""}));
  EXPECT_TRUE(doc.CheckInvariant());
}

TEST(Document, RemoveLineOfALongLineLeavesNothingOfItBehind) {
  Document doc;
  ASSERT_EQ(doc.Allocate(4, 8), 0);
  Put(doc, 0, "abcdefg");
  Put(doc, 1, "xy");
  doc.RemoveLine(0);
  EXPECT_EQ(SlotText(doc, 0), "xy");
  // Past the short line's end lies nothing: a write there pads with spaces.
  ASSERT_EQ(doc.WriteAt(0, 6, "Q"), 0);
  EXPECT_EQ(SlotText(doc, 0), "xy    Q");
  EXPECT_TRUE(doc.CheckInvariant());
}

// What a change does to a line of the plain grid, `limit` bytes at most.
std::string Changed(std::string line, int change, int column, std::string text, int limit) {
  text = text.substr(0, text.find('\0'));
  if (change == 2) {
    if (column < static_cast<int>(line.size())) line.erase(column, text.size());
    return line;
  }
  int at = std::min(column, limit);
  text.resize(std::min<std::size_t>(text.size(), limit - at));
  if (static_cast<int>(line.size()) < at) line.resize(at, ' ');
  if (change == 0) return line.replace(at, text.size(), text);
  line.insert(at, text);
  line.resize(std::min<std::size_t>(line.size(), limit));
  return line;
}

// The document with its index, its load block and its gap must behave exactly like the plain
// grid of lines: random whole-line writes (too long ones and ones with a NUL among them),
// writes, inserts and cuts at any column with text from anywhere (another line's view too),
// truncations, shifts (opening a line with text too), swaps of two lines, loads and clears
// against a vector of strings. Each change counts once.
// The changes of a command, one to three of them, go to a journal record that a copy replays:
// the copy then holds what the document holds.
TEST(Document, ShiftsMatchAPlainModelOverRandomSequences) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    std::mt19937 rng(seed);
    int lines = 1 + static_cast<int>(rng() % 9);
    int lsize = 2 + static_cast<int>(rng() % 6);
    Document doc;
    ASSERT_EQ(doc.Allocate(lines, lsize), 0);
    Document copy;
    ASSERT_EQ(copy.Allocate(lines, lsize), 0);
    (void)doc.TakeChange();
    std::vector<std::string> model(lines);
    for (int step = 0; step < 80; ++step) {
      int line = static_cast<int>(rng() % lines);
      std::uint64_t changes = doc.changes() + 1;
      switch (rng() % 8) {
        case 0:
          if (int other = static_cast<int>(rng() % lines); rng() % 2 == 0) {
            // Two lines swap their texts in one change.
            LineView a = doc.text(other);
            ASSERT_EQ(doc.SetLines(line, a.view(), other, doc.text(line).view()), 0);
            std::swap(model[line], model[other]);
            break;
          }
          [[fallthrough]];
        case 1: {
          std::string text(rng() % (lsize + 2), static_cast<char>('a' + step % 26));
          if (!text.empty() && rng() % 4 == 0) text[rng() % text.size()] = '\0';
          Put(doc, line, text);
          model[line] = text.substr(0, std::min<std::size_t>(text.find('\0'), lsize - 1));
          break;
        }
        case 2: {
          // Shortened where it lies (in the load block or its own block).
          int keep = static_cast<int>(rng() % (lsize + 1));
          doc.Truncate(line, keep);
          model[line].resize(std::min<std::size_t>(model[line].size(), keep));
          break;
        }
        case 3: {
          // Opened empty, or holding the text of a line (the last one, which falls out, too).
          int from = rng() % 2 == 0 ? static_cast<int>(rng() % lines) : -1;
          std::string text = from < 0 ? "" : model[from];
          ASSERT_EQ(from < 0 ? doc.OpenLine(line) : doc.OpenLine(line, doc.text(from).view()), 0);
          model.insert(model.begin() + line, text);
          model.pop_back();
          break;
        }
        case 4:
          doc.RemoveLine(line);
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
            // One line of exactly two lines' worth, when it still fits.
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
        case 6: {
          int change = static_cast<int>(rng() % 3);  // write, insert, cut
          int column = static_cast<int>(rng() % (lsize + 2));
          int from = static_cast<int>(rng() % lines);
          bool own = rng() % 2 == 0;
          std::string text =
              own ? std::string(rng() % (lsize + 1), static_cast<char>('0' + step % 10))
                  : model[from];
          std::string_view given = own ? std::string_view(text) : doc.text(from).view();
          if (change == 2) {
            doc.CutAt(line, column, static_cast<int>(text.size()));
          } else {
            Status done =
                change == 0 ? doc.WriteAt(line, column, given) : doc.InsertAt(line, column, given);
            ASSERT_TRUE(done.ok());
          }
          model[line] = Changed(model[line], change, column, text, lsize - 1);
          break;
        }
        case 7:
          if (rng() % 4 == 0) {
            doc.Clear();
            model.assign(lines, "");
          } else {
            --changes;
          }
          break;
      }
      ASSERT_EQ(doc.changes(), changes) << "seed " << seed << " step " << step;
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
      if (rng() % 3 == 0) continue;  // the command goes on
      Document::Change change = doc.TakeChange();
      if (!change.any) continue;
      std::string record;
      AppendChange(record, doc, change);
      JournalReader reader(record);
      std::string_view payload;
      ASSERT_TRUE(reader.Next(payload));
      ASSERT_TRUE(ApplyRecord(payload, copy).ok());
      ASSERT_EQ(All(copy), model) << "seed " << seed << " step " << step;
    }
  }
}

// A journal cut anywhere in its last record, or with any byte of it changed, is read up to the
// record before, and what follows is counted.
TEST(Journal, ACutOrDamagedLastRecordReplaysToTheOneBefore) {
  Document doc;
  ASSERT_EQ(doc.Allocate(10, 16), 0);
  JournalHeader header;
  header.name = "notes";
  header.path = "/home/u/notes";
  header.lines = 10;
  header.lsize = 16;
  header.pid = 42;
  std::string journal;
  AppendHeader(journal, header);
  (void)doc.TakeChange();
  ASSERT_EQ(doc.SetLine(0, "alpha"), 0);
  AppendChange(journal, doc, doc.TakeChange());
  ASSERT_EQ(doc.OpenLine(0, "beta"), 0);
  AppendChange(journal, doc, doc.TakeChange());
  std::size_t last = journal.size();
  doc.RemoveLine(1);
  ASSERT_EQ(doc.OpenLine(1, "gamma"), 0);
  AppendChange(journal, doc, doc.TakeChange());
  auto replay = [&](std::string_view bytes, std::size_t& left) {
    JournalReader reader(bytes);
    std::string_view payload;
    JournalHeader read;
    EXPECT_TRUE(reader.Next(payload) && ReadHeader(payload, read));
    EXPECT_EQ(read.path, header.path);
    Document copy;
    EXPECT_EQ(copy.Allocate(read.lines, read.lsize), 0);
    while (reader.Next(payload)) EXPECT_TRUE(ApplyRecord(payload, copy).ok());
    left = reader.left();
    return All(copy);
  };
  std::size_t left = 0;
  EXPECT_EQ(replay(journal, left), All(doc));
  EXPECT_EQ(left, 0u);
  std::vector<std::string> before = {"beta", "alpha", "", "", "", "", "", "", "", ""};
  for (std::size_t cut = last; cut < journal.size(); ++cut) {
    EXPECT_EQ(replay(std::string_view(journal).substr(0, cut), left), before) << cut;
    EXPECT_EQ(left, cut - last);
    std::string damaged = journal;
    damaged[cut] ^= 0x20;
    EXPECT_EQ(replay(damaged, left), before) << cut;
    EXPECT_EQ(left, journal.size() - last);
  }
}

// A change may take its text from any line, the one it changes included: it reads the text
// before it writes.
TEST(Document, ChangesTakeTheirTextFromAnyLine) {
  Document doc;
  ASSERT_EQ(doc.Allocate(4, 8), 0);
  ASSERT_TRUE(ParseLines("abc\ndef", doc));
  ASSERT_EQ(doc.SetLine(2, doc.text(0)), 0);
  ASSERT_EQ(doc.InsertAt(0, 1, doc.text(0)), 0);
  EXPECT_EQ(SlotText(doc, 0), "aabcbc");
  ASSERT_EQ(doc.WriteAt(1, 2, doc.text(1)), 0);
  EXPECT_EQ(SlotText(doc, 1), "dedef");
  ASSERT_EQ(doc.SetLine(1, doc.text(1).substr(3)), 0);
  EXPECT_EQ(SlotText(doc, 1), "ef");
  EXPECT_EQ(SlotText(doc, 2), "abc");
  EXPECT_TRUE(doc.CheckInvariant());
}

TEST(Document, WriteAtFillsWithSpacesOnlyUpToTheColumn) {
  Document doc;
  ASSERT_EQ(doc.Allocate(1, 12), 0);
  Put(doc, 0, "abc");
  ASSERT_EQ(doc.WriteAt(0, 7, ""), 0);
  EXPECT_EQ(SlotText(doc, 0), "abc    ");
  ASSERT_EQ(doc.WriteAt(0, 2, ""), 0);
  EXPECT_EQ(SlotText(doc, 0), "abc    ");
  // Past the last column only pads to it.
  ASSERT_EQ(doc.WriteAt(0, 40, "X"), 0);
  EXPECT_EQ(SlotText(doc, 0), "abc" + std::string(8, ' '));
  EXPECT_TRUE(doc.CheckInvariant());
}

TEST(Document, SetLineOfAShorterLineLeavesNothingOfTheLongerOne) {
  Document doc;
  ASSERT_EQ(doc.Allocate(2, 8), 0);
  Put(doc, 0, "abcdefg");
  Put(doc, 1, "x");
  ASSERT_EQ(doc.SetLine(0, doc.text(1)), 0);
  EXPECT_EQ(SlotText(doc, 0), "x");
  ASSERT_EQ(doc.InsertAt(0, 3, "y"), 0);
  EXPECT_EQ(SlotText(doc, 0), "x  y");
  EXPECT_TRUE(doc.CheckInvariant());
}

// A view outlives the document's next change only in a build without assertions: a line's
// view, asked for as a plain view, and the save's pieces.
TEST(DocumentDeathTest, AViewUsedAfterAChangeIsCaught) {
  Document doc;
  ASSERT_EQ(doc.Allocate(2, 8), 0);
  Put(doc, 0, "abc");
  LineView view = doc.text(0);
  Pieces pieces = DocumentPieces(doc);
  doc.Truncate(1, 0);
  EXPECT_DEBUG_DEATH(static_cast<void>(view.size()), "after the document changed");
  EXPECT_DEBUG_DEATH(static_cast<void>(view.view()), "after the document changed");
  EXPECT_DEBUG_DEATH(static_cast<void>(pieces.Each([](std::span<const char>) { return 0; })),
                     "document changed");
  LineView freed = doc.text(0);
  doc.Free();
  EXPECT_DEBUG_DEATH(static_cast<void>(freed.empty()), "after the document changed");
}

}  // namespace

// The document changes under the editor's feet between start-up and a save; the launch
// command does the changing, as another program on the machine would.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "session.h"

namespace {

TEST(Faults, DocumentDeletedBetweenStartAndSaveIsWrittenAgain) {
  TempDir dir;
  WriteFile("doc.txt", "one\ntwo\n");
  Transcript t = RunWithSettings("launch_command=rm doc.txt\n", "=\n!x\nS\n", {"doc.txt"});
  EXPECT_EQ(ReadFile("doc.txt"), "xne\ntwo\n");
  EXPECT_NE(t.out.find("Saved to doc.txt\n"), std::string::npos);
}

TEST(Faults, DocumentMadeUnreadableBetweenStartAndSaveKeepsItsMode) {
  TempDir dir;
  WriteFile("doc.txt", "one\n");
  Transcript t = RunWithSettings("launch_command=chmod 200 doc.txt\n", "=\nS\n", {"doc.txt"});
  struct stat info;
  ASSERT_EQ(stat("doc.txt", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0200u);
  chmod("doc.txt", 0600);
  EXPECT_EQ(ReadFile("doc.txt"), "one\n");
  EXPECT_NE(t.out.find("Saved to doc.txt\n"), std::string::npos);
}

}  // namespace

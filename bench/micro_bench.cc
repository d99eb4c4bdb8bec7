// Micro-benchmarks of the operations whose cost must follow the document, not the grid.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/editor.h"
#include "app/navigation.h"
#include "app/view.h"
#include "doc/load.h"
#include "support.h"

namespace {

// The default grid holding `count` lines of `length` characters.
void Fill(Document& doc, int count, int length) {
  if (!doc.allocated() && !doc.Allocate(32767, 256).ok()) std::abort();
  for (int i = 0; i < count; ++i) {
    if (!doc.SetLine(i, std::string(length, 'a' + i % 26)).ok()) std::abort();
  }
}

void BM_WedgeDeleteShortDocument(benchmark::State& state) {
  Document doc;
  Fill(doc, 100, 80);
  for (auto _ : state) {
    if (!doc.OpenLine(0).ok()) std::abort();
    doc.RemoveLine(0);
  }
}
BENCHMARK(BM_WedgeDeleteShortDocument);

void BM_WedgeFullDocument(benchmark::State& state) {
  Document doc;
  Fill(doc, 32767, 80);
  for (auto _ : state) {
    if (!doc.OpenLine(0).ok()) std::abort();
  }
}
BENCHMARK(BM_WedgeFullDocument);

void BM_DeleteFullDocument(benchmark::State& state) {
  Document doc;
  Fill(doc, 32767, 80);
  for (auto _ : state) {
    doc.RemoveLine(0);
    if (!doc.SetLine(32766, "x").ok()) std::abort();  // keep the document full
  }
}
BENCHMARK(BM_DeleteFullDocument);

// A line opened and removed again at the top of a 1,000,000-line document: the index's gap
// stays there, so neither moves the other records.
void BM_WedgeDeleteAtTopOfMillionLines(benchmark::State& state) {
  Document doc;
  if (!doc.Allocate(1 << 20, 128).ok()) std::abort();
  std::string text;
  for (int i = 0; i < 1000000; ++i) text += "line " + std::to_string(i) + " xxxxxxxxxxxxxxxx\n";
  ParseLines(text, doc);
  for (auto _ : state) {
    if (!doc.OpenLine(0).ok()) std::abort();
    doc.RemoveLine(0);
  }
}
BENCHMARK(BM_WedgeDeleteAtTopOfMillionLines);

void BM_ViewOfEightLongLines(benchmark::State& state) {
  Document doc;
  Fill(doc, 8, 255);
  Io io{nullptr, std::fopen("/dev/null", "w")};
  for (auto _ : state) Display({7, 0}, 7, doc, 1, "notes.txt", io);
  std::fclose(io.out);
}
BENCHMARK(BM_ViewOfEightLongLines);

void BM_JumpDocNotFound(benchmark::State& state) {
  Editor ed;
  if (!AllocateBuffers(ed, GridSize{})) return state.SkipWithError("no memory for the grid");
  Fill(ed.doc, 1000, 200);
  ed.io.out = std::fopen("/dev/null", "w");
  static const char kAnswer[] = "zzz\n";
  for (auto _ : state) {
    ed.io.in = fmemopen(const_cast<char*>(kAnswer), sizeof kAnswer - 1, "r");
    JumpDoc(ed);
    std::fclose(ed.io.in);
  }
  std::fclose(ed.io.out);
}
BENCHMARK(BM_JumpDocNotFound);

// A whole session in-process: start, load a 32767-line file, save it, quit.
void BM_LoadAndSave32767Lines(benchmark::State& state) {
  std::string dir = std::filesystem::temp_directory_path() / "morvax-bench-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) return state.SkipWithError("no temporary folder");
  std::string previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  {
    std::ofstream file("doc.txt", std::ios::binary);
    for (int i = 0; i < 32767; ++i) file << std::string(100 + (i * 37) % 156, 'a' + i % 26) << '\n';
  }
  static const char kInput[] = "S\nq\nq\n";
  const char* argv[] = {"morvax", "doc.txt"};
  for (auto _ : state) {
    std::FILE* in = fmemopen(const_cast<char*>(kInput), sizeof kInput - 1, "r");
    std::FILE* out = std::fopen("/dev/null", "w");
    RunEditor(2, argv, Io{in, out});
    std::fclose(in);
    std::fclose(out);
  }
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LoadAndSave32767Lines)->Unit(benchmark::kMillisecond);

}  // namespace

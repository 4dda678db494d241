// The builder's progress line, drawn into a temporary file instead of a terminal:
// nothing for an entry done within a second, the redrawn line for a longer one,
// and the line erased (overwritten with spaces) when the entry ends.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "progress_line.h"

namespace {

std::string contents(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
  return text;
}

struct TempFile {
  std::FILE* f = std::tmpfile();
  ~TempFile() { std::fclose(f); }
};

TEST(ProgressLine, QuickEntriesDrawNothing) {
  TempFile out;
  ASSERT_NE(out.f, nullptr);
  {
    ProgressLine progress(out.f, true);
    progress.begin("a.jar", 10);
    progress.begin("b.dll", 20);
    progress.end();
  }
  EXPECT_EQ(contents(out.f), "");
}

TEST(ProgressLine, SlowEntryShowsItsNameSizeAndSecondsThenErasesTheLine) {
  TempFile out;
  ASSERT_NE(out.f, nullptr);
  const std::string line = "mkpayload: compressing big.dll (123456 bytes) ... 1 s";
  {
    ProgressLine progress(out.f, true);
    progress.begin("big.dll", 123456);
    std::this_thread::sleep_for(std::chrono::milliseconds(1600));
    progress.begin("next.dll", 1);  // erases the line before the next entry
    const std::string drawn = contents(out.f);
    EXPECT_EQ(drawn, "\r" + line + "\r" + std::string(line.size(), ' ') + "\r");
  }
  EXPECT_EQ(contents(out.f).find("next.dll"), std::string::npos);
}

TEST(ProgressLine, DisabledLineDrawsNothing) {
  TempFile out;
  ASSERT_NE(out.f, nullptr);
  {
    ProgressLine progress(out.f, false);
    progress.begin("big.dll", 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  }
  EXPECT_EQ(contents(out.f), "");
}

}  // namespace

// The builder's progress line, drawn into a temporary file instead of a terminal:
// nothing for an entry done within a second, the redrawn line for a longer one,
// and the line erased (overwritten with spaces) when the entry ends.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "progress_line.h"

namespace {

using mkpayload::ProgressLine;

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

// A clock the test moves by hand.
struct FakeClock {
  ProgressLine::Clock::time_point at{};
  std::function<ProgressLine::Clock::time_point()> function() {
    return [this] { return at; };
  }
  void advance(int milliseconds) { at += std::chrono::milliseconds(milliseconds); }
};

TEST(ProgressLine, QuickEntriesDrawNothing) {
  TempFile out;
  ASSERT_NE(out.f, nullptr);
  FakeClock clock;
  {
    ProgressLine progress(out.f, true, clock.function());
    progress.begin("a.jar", 10);
    clock.advance(999);
    progress.redraw();
    progress.begin("b.dll", 20);
    clock.advance(999);
    progress.redraw();
    progress.end();
    clock.advance(5000);
    progress.redraw();
  }
  EXPECT_EQ(contents(out.f), "");
}

TEST(ProgressLine, SlowEntryShowsItsNameSizeAndSecondsThenErasesTheLine) {
  TempFile out;
  ASSERT_NE(out.f, nullptr);
  FakeClock clock;
  const std::string line = "mkpayload: compressing big.dll (123456 bytes) ... 1 s";
  {
    ProgressLine progress(out.f, true, clock.function());
    progress.begin("big.dll", 123456);
    clock.advance(1600);
    progress.redraw();
    progress.redraw();              // the same second is not drawn again
    progress.begin("next.dll", 1);  // erases the line before the next entry
    const std::string drawn = contents(out.f);
    EXPECT_EQ(drawn, "\r" + line + "\r" + std::string(line.size(), ' ') + "\r");
  }
  EXPECT_EQ(contents(out.f).find("next.dll"), std::string::npos);
}

TEST(ProgressLine, DisabledLineDrawsNothing) {
  TempFile out;
  ASSERT_NE(out.f, nullptr);
  FakeClock clock;
  {
    ProgressLine progress(out.f, false, clock.function());
    progress.begin("big.dll", 1);
    clock.advance(3000);
    progress.redraw();
  }
  EXPECT_EQ(contents(out.f), "");
}

// The background thread draws the line by itself once the entry has taken a
// second, and the line is gone when the progress line ends.
TEST(ProgressLine, TheThreadRedrawsOnItsOwn) {
  TempFile out;
  ASSERT_NE(out.f, nullptr);
  const std::string line = "mkpayload: compressing slow.dll (7 bytes) ... 1 s";
  std::string drawn;
  {
    ProgressLine progress(out.f, true);
    progress.begin("slow.dll", 7);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (drawn.find(line) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      drawn = contents(out.f);
    }
  }
  EXPECT_EQ(drawn, "\r" + line) << "drawn within the bound";
  EXPECT_EQ(contents(out.f), "\r" + line + "\r" + std::string(line.size(), ' ') + "\r");
}

}  // namespace

#include "control/launch.h"

#include <gtest/gtest.h>

#include <string>

#include "console/output.h"
#include "console/writer.h"
#include "control/options.h"
#include "platform/platform.h"
#include "settings/settings.h"

namespace {

struct ActionReached {
  ImmediateAction action;
};

void StopAtAction(const ImmediateAction& action) { throw ActionReached{action}; }

platform::KeyPress Space() { return {' ', 0, true}; }

class Launchers : public ::testing::Test {
 protected:
  void SetUp() override {
    options = ReportOptions{};
    options.pauseEachPage = false;
    CaptureOutput(&out);
  }
  void TearDown() override {
    CaptureOutput(nullptr);
    actionObserver = nullptr;
    keySource = platform::ReadKey;
    options = ReportOptions{};
    pageLength = 24;
    pagerLineCount = -2;
  }
  std::string out;
};

std::string Line(const std::string& text) { return text + platform::kLineEnd; }

}  // namespace

// The settings program relies on this to explain a word without acting on it.
TEST_F(Launchers, EveryImmediateWordReachesTheObserverBeforeActing) {
  actionObserver = StopAtAction;
  const struct {
    const char* word;
    std::string messageLine;
    std::string description;
    bool endsRun;
  } cases[] = {
      {"-w", "", "shows the welcome screen", true},
      {"-support", "Starting Web browser to show Quenlow support page.", "opens " + SupportPageAddress(), true},
      {"-CONFIG", "Starting Tallyfold configuration program", "opens " + SettingsProgramPath(), true},
      {"-manual", "Starting program to display Tallyfold help manual", "opens " + HelpFilePath(), false},
      {"-Help", "Starting program to display Tallyfold help manual", "opens " + HelpFilePath(), false},
      {"-tallyfold", "Starting Web browser for Tallyfold homepage", "opens " + ProductPageAddress(), true},
      {"-vantor", "Starting Web browser to show Quenlow home page.", "opens " + MakerPageAddress(), true},
  };
  for (const auto& c : cases) {
    out.clear();
    try {
      ParseOption(c.word);
      ADD_FAILURE() << c.word << " acted without asking the observer";
    } catch (const ActionReached& reached) {
      EXPECT_EQ(reached.action.description, c.description) << c.word;
      EXPECT_EQ(reached.action.endsRun, c.endsRun) << c.word;
    }
    EXPECT_EQ(out, c.messageLine.empty() ? "" : Line(c.messageLine)) << c.word;
  }
}

TEST_F(Launchers, TheUsageScreenStopsForThePagePromptWhenTheWindowIsShorter) {
  ShowUsage();
  const std::string unpaged = out;
  out.clear();
  options.pauseEachPage = true;
  pageLength = 24;
  pagerLineCount = -2;
  keySource = Space;
  ShowUsage();
  // The first 24 lines, the prompt (and its erasure), then the other 16.
  const std::string lineEnd = platform::kLineEnd;
  size_t cut = 0;
  for (int line = 0; line < 24; ++line) cut = unpaged.find(lineEnd, cut) + lineEnd.size();
  ASSERT_EQ(out.substr(0, cut), unpaged.substr(0, cut));
  EXPECT_EQ(out.compare(cut, 4, "-- ["), 0);
  EXPECT_EQ(out.substr(out.size() - (unpaged.size() - cut)), unpaged.substr(cut));
  EXPECT_EQ(out.find("-- [", cut + 1), std::string::npos) << "one prompt only";
}

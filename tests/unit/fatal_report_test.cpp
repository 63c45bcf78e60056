#include "control/fatal_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build_settings.h"
#include "control/options.h"
#include "platform/platform.h"
#include "settings/settings.h"

namespace {

std::string Report(int errorNumber) { return std::string(FatalErrorReportText(errorNumber)); }

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + platform::kLineEnd;
  return text;
}

std::string ExpectedReport(bool stackOverflow, const std::string& identity, const std::string& command,
                           int errorNumber) {
  std::vector<std::string> lines = {"*** An error occurred ***"};
  if (stackOverflow) lines.push_back("Stack overflow error");
  lines.insert(lines.end(), {"", "Please email the following information and a description of what you",
                             std::string("were doing to ") + TALLYFOLD_SUPPORT_EMAIL, "", identity,
                             command, "Error number " + std::to_string(errorNumber)});
  return Lines(lines);
}

class FatalErrorReport : public ::testing::Test {
 protected:
  void TearDown() override {
    commandLine.clear();
    SetFatalReportIdentity("", "");
  }
};

}  // namespace

TEST_F(FatalErrorReport, NamesTheStackOverflowOnlyForErrorNumber202) {
  commandLine = {"C:\\Tools\\tallyfold.exe", "-2", "My Files"};
  SetFatalReportIdentity("Tallyfold", "5.0");
  for (int number : {202, 200, 203, 216, 217, 1}) {
    EXPECT_EQ(Report(number), ExpectedReport(number == 202, "Program: Tallyfold  Version: 5.0",
                                             "Command line: C:\\Tools\\tallyfold.exe -2 My Files", number))
        << number;
  }
}

TEST_F(FatalErrorReport, CutsTheNameToThirtyAndTheVersionToTenCharacters) {
  commandLine = {"tf"};
  const struct {
    const char* name;
    const char* version;
    const char* shown;
  } cases[] = {
      {"Tallyfold", "5.0", "Program: Tallyfold  Version: 5.0"},
      {"123456789012345678901234567890", "1234567890", "Program: 123456789012345678901234567890  Version: 1234567890"},
      {"123456789012345678901234567890X", "1234567890X",
       "Program: 123456789012345678901234567890  Version: 1234567890"},
      // Characters, not bytes: each of these takes two bytes.
      {"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"
       "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9",
       "\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc",
       "Program: \u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"
       "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"
       "  Version: \u00fc\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc"},
  };
  for (const auto& c : cases) {
    SetFatalReportIdentity(c.name, c.version);
    EXPECT_EQ(Report(217), ExpectedReport(false, c.shown, "Command line: tf", 217)) << c.name;
  }
}

TEST_F(FatalErrorReport, BeforeTheIdentityAndCommandLineAreKnownTheirTextsAreEmpty) {
  EXPECT_EQ(Report(216), ExpectedReport(false, "Program:   Version: ", "Command line:", 216));
}

TEST_F(FatalErrorReport, SetsAsideRoomForTheWholeCommandLine) {
  const std::string longArgument(5000, 'x');
  commandLine = {"tf", longArgument};
  SetFatalReportIdentity("Tallyfold", "5.0");
  EXPECT_EQ(Report(203), ExpectedReport(false, "Program: Tallyfold  Version: 5.0", "Command line: tf " + longArgument,
                                        203));
}

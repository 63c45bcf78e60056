// The settings program: shows the stored default parameters, explains what
// each word does, and stores a new string.
//
//   tallyfold-config                       show, explain, ask for a new string
//   tallyfold-config --show                show and explain only
//   tallyfold-config --set parameters...   store the words after --set, joined
//                                          by blanks (for scripts); nothing
//                                          after --set removes them
// (config.exe on Windows.)
#include <iostream>
#include <string>
#include <vector>

#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "control/options.h"
#include "platform/platform.h"
#include "tools/explain.h"

namespace {

constexpr uint8_t kWordColumn = 12;

std::string ProgramName() { return platform::kSettingsProgramName; }

void ShowUsageLines() {
  WriteOutLine("Usage: " + ProgramName() + " [--show | --set parameters...]");
  WriteOutLine("  (no option)  show the default parameters, explain them and ask for new ones");
  WriteOutLine("  --show       show the default parameters and explain them");
  WriteOutLine("  --set        store new default parameters; nothing after it removes them");
}

std::string PadRight(const std::string& text, size_t width) {
  const size_t length = CharCount(text);
  return length >= width ? text + " " : text + std::string(width - length, ' ');
}

void ShowExplanation(const WordExplanation& explanation) {
  std::vector<std::string> lines = explanation.effects;
  for (const std::string& message : explanation.messages) lines.push_back("writes: " + message);
  if (explanation.becomesStartFolder) lines.push_back("is not an option: it becomes the start folder");
  if (lines.empty()) lines.push_back("changes nothing");
  std::string label = PadRight(explanation.word, kWordColumn);
  for (const std::string& line : lines) {
    WriteOutLine("  " + label + line);
    label = std::string(CharCount(label), ' ');
  }
}

// Explains every word of `parameters`, then warns about the words that would
// spoil every run.
void ExplainParameters(const std::string& parameters) {
  const std::vector<std::string> words = ParameterWords(parameters);
  if (words.empty()) {
    WriteOutLine("  (none: every run uses the built-in defaults)");
    return;
  }
  std::vector<WordExplanation> explanations;
  for (const std::string& word : words) explanations.push_back(ExplainWord(word));
  for (const WordExplanation& explanation : explanations) ShowExplanation(explanation);
  for (const WordExplanation& explanation : explanations) {
    if (explanation.becomesStartFolder) {
      WriteOutLine("Warning: \"" + explanation.word +
                   "\" becomes the start folder of every run whose command line names no folder.");
    }
    if (explanation.endsRun) {
      WriteOutLine("Warning: \"" + explanation.word + "\" ends every run before the command line is read.");
    } else if (explanation.startsAction) {
      WriteOutLine("Warning: \"" + explanation.word + "\" opens the help file on every run.");
    }
  }
}

void ShowStored(const std::string& parameters) {
  WriteOutLine("Default parameters, stored in " + platform::StoredDefaultsLocation() + ":");
  if (!parameters.empty()) WriteOutLine("  " + parameters);
  WriteOutLine("");
  ExplainParameters(parameters);
}

int Store(const std::string& parameters) {
  // The stored string is one line of the Linux settings file, and a line
  // break is no separator between words anyway.
  if (parameters.find_first_of("\r\n") != std::string::npos) {
    WriteOutLine("Default parameters cannot hold a line break; nothing was changed.");
    return 2;
  }
  std::string failure;
  if (!platform::WriteStoredDefaults(parameters, failure)) {
    WriteOutLine(failure);
    return 1;
  }
  WriteOutLine(parameters.empty() ? "Default parameters removed from " + platform::StoredDefaultsLocation() + "."
                                  : "Default parameters stored in " + platform::StoredDefaultsLocation() + ".");
  return 0;
}

bool ReadLine(std::string& line) {
  FlushOut();
  if (!std::getline(std::cin, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

int AskForNewParameters() {
  WriteOutLine("");
  WriteOutLine("Type the new default parameters and press Enter (Enter alone keeps them):");
  WriteOut("> ");
  std::string typed;
  if (!ReadLine(typed) || typed.empty()) {
    WriteOutLine("Nothing was changed.");
    return 0;
  }
  WriteOutLine("");
  ExplainParameters(typed);
  WriteOut("Store these default parameters? [y/n] ");
  std::string answer;
  if (!ReadLine(answer) || (answer != "y" && answer != "Y")) {
    WriteOutLine("Nothing was changed.");
    return 0;
  }
  return Store(typed);
}

int Run(const std::vector<std::string>& arguments) {
  platform::InitLocale();
  if (arguments.size() == 1) {
    ShowStored(platform::ReadStoredDefaults());
    return AskForNewParameters();
  }
  if (arguments.size() == 2 && arguments[1] == "--show") {
    ShowStored(platform::ReadStoredDefaults());
    return 0;
  }
  if (arguments[1] == "--set") {
    std::string parameters;
    for (size_t i = 2; i < arguments.size(); ++i) parameters += (i > 2 ? " " : "") + arguments[i];
    ExplainParameters(parameters);
    return Store(parameters);
  }
  ShowUsageLines();
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  ConsoleInit();
  const int exitCode = Run(platform::CommandLineArguments(argc, argv));
  EndProgram(exitCode);
}

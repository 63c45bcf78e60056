#include "scan/reading_prompt.h"

#include <algorithm>
#include <chrono>

#include "console/format.h"
#include "console/held_sums.h"
#include "console/text.h"
#include "console/writer.h"
#include "scan/tree.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kPrompt = "   Reading folder, press [Ctrl+C] to cancel";
const char kSpinner[] = "|/-\\";
// The spinner turns with time rather than once per folder: a write per
// folder added a fifth to a warm scan with standard error on a terminal.
constexpr auto kSpinnerPeriod = std::chrono::milliseconds(50);
// Nothing shows before the scan has run a second: a scan that ends sooner
// needs no sign of life, and a terminal then costs no more than a file
// (the prompt's writes took 15 ms of a 7 ms scan).
constexpr auto kPromptDelay = std::chrono::seconds(1);
constexpr int kTurnsPerFigures = 5;  // figures four times a second
// The clock is read once in so many folders, as many as take about a
// millisecond: on 1,100,000 empty folders from memory a read per folder
// took 3% of the program's time. At most 64, so that after fast folders a
// run of slow ones (a cold disk's, some milliseconds each) still turns the
// spinner within a second.
constexpr int kMostFoldersPerClockRead = 64;
constexpr auto kClockReadInterval = std::chrono::milliseconds(1);

struct ReadingPrompt {
  int spinnerIndex = 0;
  bool spinnerShown = false;
  Clock::time_point lastTurn;
  bool started = false;  // the clock of the delay runs
  bool wanted = false;   // the prompt shows once the delay is over
  bool shown = false;    // the prompt is on the console
  Clock::time_point start;
  int64_t folders = 0;
  int64_t bytes = 0;
  int64_t usedSpace = 0;
  int turnsSinceFigures = 0;
  size_t figuresWidth = 0;  // characters of figures on the line
  int foldersPerClockRead = 1;
  int foldersToClockRead = 0;
  Clock::time_point lastClockRead;
};

ReadingPrompt prompt;

// ":" and the two digits of a minute or second.
void AppendMinutesOrSeconds(std::string& text, int64_t value) {
  text += ':';
  AppendTwoDigits(text, value);
}

std::string ElapsedText(int64_t seconds) {
  const int64_t hours = seconds / 3600, minutes = seconds / 60 % 60;
  std::string text;
  if (hours == 0) {
    text = std::to_string(minutes);
  } else {
    text = std::to_string(hours);
    AppendMinutesOrSeconds(text, minutes);
  }
  AppendMinutesOrSeconds(text, seconds % 60);
  return text;
}

// Rewrites the prompt line from its first column with `figures` after the
// prompt (blanks over longer figures shown before) and brings the cursor
// back to the first column.
void WriteFigures(std::string figures, char spinnerCharacter) {
  // A line that wrapped could not be backed over: the figures that do not
  // fit are left out, the last first.
  const size_t room = static_cast<size_t>(std::max(0, screenWidth - 1 - static_cast<int>(kPrompt.size())));
  if (figures.size() > room) {
    const size_t lastWhole = figures.rfind(", ", room);
    figures.resize(lastWhole == std::string::npos ? 0 : lastWhole);
  }
  const size_t width = std::max(figures.size(), prompt.figuresWidth);
  figures.resize(width, ' ');
  WriteError(std::string(1, spinnerCharacter) + kPrompt.substr(1) + figures + std::string(kPrompt.size() + width, '\b'));
  prompt.figuresWidth = figures.find_last_not_of(' ') == std::string::npos ? 0 : figures.find_last_not_of(' ') + 1;
}

// The first figures write the whole prompt, the spinner in its first column.
void ShowFigures(Clock::time_point now, char spinnerCharacter) {
  if (!prompt.wanted) return;
  if (prompt.shown && ++prompt.turnsSinceFigures < kTurnsPerFigures) return;
  prompt.turnsSinceFigures = 0;
  prompt.shown = true;
  const int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(now - prompt.start).count();
  WriteFigures(ProgressFigures(prompt.folders, scanTotals.totalFiles, prompt.bytes, seconds, prompt.usedSpace),
               spinnerCharacter);
}

}  // namespace

void ShowReadingPrompt(int64_t usedSpace) {
  prompt.started = true;
  prompt.wanted = true;
  prompt.shown = false;
  prompt.start = Clock::now();
  prompt.folders = 0;
  prompt.bytes = 0;
  prompt.usedSpace = usedSpace;
  prompt.figuresWidth = 0;
}

void CountFolderProgress(int64_t bytes) {
  prompt.folders += 1;
  prompt.bytes = AddBytes(prompt.bytes, bytes);
}

// Whether the clock is read for this folder: one in as many as take about
// kClockReadInterval together.
bool ClockReadDue() {
  if (prompt.started && --prompt.foldersToClockRead > 0) return false;
  return true;
}

void AdjustClockReads(Clock::time_point now) {
  const auto interval = now - prompt.lastClockRead;
  if (interval < kClockReadInterval) {
    prompt.foldersPerClockRead = std::min(prompt.foldersPerClockRead * 2, kMostFoldersPerClockRead);
  } else if (interval > 4 * kClockReadInterval) {
    prompt.foldersPerClockRead = std::max(prompt.foldersPerClockRead / 2, 1);
  }
  prompt.lastClockRead = now;
  prompt.foldersToClockRead = prompt.foldersPerClockRead;
}

void TurnSpinner() {
  if (!ClockReadDue()) return;
  const auto now = Clock::now();
  AdjustClockReads(now);
  // A walk without the prompt starts the delay at its first folder.
  if (!prompt.started) {
    prompt.started = true;
    prompt.start = now;
  }
  if (now - prompt.start < kPromptDelay) return;
  if (prompt.spinnerShown && now - prompt.lastTurn < kSpinnerPeriod) return;
  prompt.spinnerShown = true;
  prompt.lastTurn = now;
  const char character = kSpinner[prompt.spinnerIndex];
  prompt.spinnerIndex = (prompt.spinnerIndex + 1) % 4;
  if (!prompt.wanted || prompt.shown) WriteError(std::string{character, '\b'});
  ShowFigures(now, character);
}

void EndReadingPrompt() {
  if (prompt.figuresWidth > 0) WriteFigures("", kSpinner[(prompt.spinnerIndex + 3) % 4]);
  prompt.started = false;
  prompt.wanted = false;
  prompt.shown = false;
}

std::string ProgressFigures(int64_t folders, int64_t files, int64_t bytes, int64_t seconds, int64_t usedSpace) {
  std::string text = "  " + FormatCount(folders) + " folders, " + FormatCount(files) + " files, " +
                     FormatSize(bytes) + ", " + ElapsedText(seconds);
  if (usedSpace > 0) {
    const std::string share = FormatPercent(bytes, usedSpace);
    text += ", " + share.substr(share.find_first_not_of(' ')) + " of used space";
  }
  return text;
}

#include "console/writer.h"

#include <vector>

#include "console/output.h"
#include "console/text.h"
#include "settings/settings.h"

bool outputRedirected = true;
int pageLength = 24;
int screenWidth = 80;
int pagerLineCount = -2;

platform::KeyPress (*keySource)() = platform::ReadKey;
void (*screenClearer)() = platform::ClearConsoleScreen;
void (*helpKeyAction)() = [] {};
bool (*helpFileOpener)() = [] { return false; };
void (*reverseVideoSwitch)(bool) = platform::SetReverseVideo;

namespace {

struct HeldMessage {
  std::string text;
  Paging paging;
};

// The messages written while the parameters are read.
struct MessageHold {
  bool holding = false;
  std::vector<HeldMessage> lines;
} messageHold;

// Messages of a captured run (tests, the settings program's explanations)
// stay with the captured output.
bool MessagesGoToStandardError() {
  return options.outputMode != OutputMode::console && !OutputIsCaptured();
}

// Standard output is written raw only when redirected; on a console no
// message may carry a control character of a name or a word.
void WriteShownLine(std::string_view text) {
  if (outputRedirected) return WriteOutLine(text);
  std::string shown;
  AppendControlsMasked(shown, text);
  WriteOutLine(shown);
}

void WriteMessageNow(std::string_view text, Paging paging) {
  if (MessagesGoToStandardError()) {
    FlushOut();  // after the report lines already written, on a terminal
    WriteErrorLine(text);
  } else if (paging == Paging::paged) {
    WriteLinePaged(text);
  } else {
    WriteShownLine(text);
  }
}

constexpr std::string_view kPagePrompt =
    "-- [Enter] & [Space]=page, [End]=continuous, [Esc]=exit, [j] & [k]=line --";

void ShowPagePrompt() {
  WriteOut(kPagePrompt);
  KeyRead key = GetKeyPress();
  EraseInPlace(kPagePrompt.size());
  if (key.character == 27) EndProgram(0);
  if (key.character == 0 && key.scanCode == kScanEnd) {
    options.pauseEachPage = false;
  } else if (key.character == 0 && key.scanCode == kScanF1) {
    helpKeyAction();
  } else if (key.character == 'j' || key.character == 'J' || key.character == 'k' ||
             key.character == 'K') {
    pagerLineCount -= 1;
  } else {
    pagerLineCount = 0;
  }
}

}  // namespace

void ConsoleInit() {
  static bool done = false;
  if (done) return;
  done = true;
  platform::ConsoleFacts facts{};
  std::string failure;
  if (!platform::OpenConsole(facts, failure)) {
    WriteOutLine(failure);
    EndProgram(0);
  }
  outputRedirected = facts.outputRedirected;
  pageLength = facts.pageLength;
  screenWidth = facts.screenWidth;
}

void WriteLinePaged(std::string_view text) {
  if (options.pauseEachPage) {
    pagerLineCount += 1;
    if (pagerLineCount > pageLength - 2) ShowPagePrompt();
  }
  WriteShownLine(text);
  if (options.pauseEachPage && CharCount(text) >= static_cast<size_t>(screenWidth)) {
    pagerLineCount += 1;
  }
}

void AppendShownName(std::string& line, std::string_view name) {
  if (outputRedirected) {
    line += name;
  } else {
    AppendControlsMasked(line, name);
  }
}

void WriteMessageLine(std::string_view text, Paging paging) {
  if (messageHold.holding) {
    messageHold.lines.push_back({std::string(text), paging});
  } else {
    WriteMessageNow(text, paging);
  }
}

void HoldMessages() { messageHold.holding = true; }

void ReleaseMessages() {
  messageHold.holding = false;
  for (const HeldMessage& message : messageHold.lines) WriteMessageNow(message.text, message.paging);
  messageHold.lines.clear();
}

void EraseInPlace(size_t width) {
  for (char c : {'\b', ' ', '\b'}) {
    WriteOut(std::string(width, c));
    FlushOut();
  }
}

void WriteError(std::string_view text) { platform::WriteConsoleError(text); }

void WriteErrorLine(std::string_view text) {
  // Error lines name paths; on a console their control characters are masked.
  static const bool errorIsConsole = platform::StandardErrorIsConsole();
  std::string line;
  if (errorIsConsole) {
    AppendControlsMasked(line, text);
  } else {
    line = text;
  }
  line += platform::kLineEnd;
  platform::WriteStandardError(line);
}

KeyRead GetKeyPress() {
  FlushOut();
  platform::KeyPress key = keySource();
  if (!key.ok) return {0, kScanEnd, true};
  return {key.character, key.character == 0 ? key.scanCode : uint8_t{0}, false};
}

void ClearScreen() {
  FlushOut();
  screenClearer();
}

void ShowReversed(bool on) {
  FlushOut();
  reverseVideoSwitch(on);
}

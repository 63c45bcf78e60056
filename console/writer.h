// The console layer: what standard output is, how large the screen is, the
// paged line writer with its page prompt, progress text on the console, key
// input and screen clearing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

extern bool outputRedirected;
extern int pageLength;
extern int screenWidth;
// Lines written since the last page prompt. It starts at -2 so that the
// first prompt leaves the two lines above it (banner and blank) in view.
extern int pagerLineCount;

// Takes the standard handles and measures the screen; runs once.
void ConsoleInit();

// One message line to standard output, after the pager step.
void WriteLinePaged(std::string_view text);

// A name of the tree (folder, path, volume label) appended as the output
// may show it: on a console each control character becomes "?", so that a
// name cannot drive the terminal; a redirected report keeps the bytes.
void AppendShownName(std::string& line, std::string_view name);

// The run's messages: option errors and warnings, drive errors, a failed
// launch. In the console form they go to standard output, through the pager
// unless `paging` is straight; in the data forms (tab, comma, HTML and any
// later one) to standard error, so that a data file holds only data. While
// the parameters are read the form is not settled, so from HoldMessages to
// ReleaseMessages the lines wait, in order.
enum class Paging { paged, straight };
void WriteMessageLine(std::string_view text, Paging paging = Paging::paged);
void HoldMessages();
void ReleaseMessages();

// Progress text on the console's error handle; lost when it is not a console.
void WriteError(std::string_view text);
// An error line on standard error, wherever standard error goes.
void WriteErrorLine(std::string_view text);

struct KeyRead {
  uint8_t character;
  uint8_t scanCode;
  bool failed;  // no key could be read; reported as End
};

inline constexpr uint8_t kScanF1 = 0x3B;
inline constexpr uint8_t kScanHome = 0x47;
inline constexpr uint8_t kScanUp = 0x48;
inline constexpr uint8_t kScanPageUp = 0x49;
inline constexpr uint8_t kScanLeft = 0x4B;
inline constexpr uint8_t kScanRight = 0x4D;
inline constexpr uint8_t kScanEnd = 0x4F;
inline constexpr uint8_t kScanDown = 0x50;
inline constexpr uint8_t kScanPageDown = 0x51;
inline constexpr uint8_t kScanDelete = 0x53;

// Takes back `width` characters just written on the current line: as many
// backspaces, blanks and backspaces again, each run flushed, so that the
// next output starts where the erased text began.
void EraseInPlace(size_t width);

// Flushes standard output, then waits for one key press.
KeyRead GetKeyPress();
void ClearScreen();
// Flushes standard output, then shows what follows in reverse video (or
// again in the console's own colours).
void ShowReversed(bool on);

// Where keys come from, what clears the screen and what turns reverse video
// on and off; tests replace them with a scripted key source and a recording
// screen.
extern platform::KeyPress (*keySource)();
extern void (*screenClearer)();
extern void (*reverseVideoSwitch)(bool on);
// What F1 does at the page prompt: the run sets it to
// open the help file, which is the launchers' business, not the console's.
extern void (*helpKeyAction)();
// What F1 does in the browser and its navigation: opens the help file where
// it can (false where none opens, and the page of the keys shows instead).
extern bool (*helpFileOpener)();

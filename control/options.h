// The three parameter sources and how each word of them is applied to the
// settings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The stored default parameter string, once read.
extern std::string defaultParameters;
// Every word taken as the start folder, in the order applied: the last one
// is the start folder, the others were replaced by a later word.
extern std::vector<std::string> folderWords;
// The words after two dashes that are no option, in the order applied.
extern std::vector<std::string> unknownLongOptions;
// The folders the command line names, in its order; with two or more, each
// is reported (the stored defaults and TALLYFOLD name at most the one
// start folder).
extern std::vector<std::string> commandLineFolders;

void ReadRegistryDefaults();
// Applies the stored defaults, then TALLYFOLD, then each argument.
void ApplyParameterSources();
// A word that begins with a dash but is no option is most likely a typing
// error: each one taken as the start folder gets a warning on standard error.
void WarnAboutUnknownOptions();

// The words of a parameter string: blanks (and characters 8 and 255)
// separate them outside double quotes; the quotes are dropped.
std::vector<std::string> ParameterWords(std::string_view text);
// Applies each word of a parameter string.
void SplitParameterString(std::string_view text);
// Applies one word: an option, or else the start folder.
void ParseOption(const std::string& word);
// The value of -size= and -cl=: a number rounded half to even, then times
// K, M or G; its absolute value. None when the number does not convert or
// the result does not fit.
std::optional<int64_t> ConvertSizeValue(std::string_view upperText);
// The same, 0 when there is none.
int64_t ParseSizeValue(std::string_view upperText);
// Recognises and applies a depth word such as "-3".
bool ParseDepthOption(std::string_view word);
// The words of the option table, upper-cased and up to any value ("-TAB",
// "-SIZE="): every option but the depth word.
std::vector<std::string_view> OptionTableWords();


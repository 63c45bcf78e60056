// What each word of a parameter string does, found out by handing the word to
// the program's own option parser, so that the explanation never disagrees
// with what a run does.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct WordExplanation {
  std::string word;
  std::vector<std::string> effects;   // "hides the file counts", ...
  std::vector<std::string> messages;  // lines the parser writes for the word
  bool becomesStartFolder = false;
  bool startsAction = false;          // shows a screen or starts something
  bool endsRun = false;               // -w and the launches other than the help file
};

WordExplanation ExplainWord(const std::string& word);

#include "report/escape.h"

namespace {

struct Reference {
  std::string_view character;  // UTF-8
  std::string_view reference;
};

// The graphics set of the tree characters (settings.cpp), in UTF-8.
constexpr Reference kBoxDrawing[] = {
    {"\u2514", "&#9492;"},  // corner
    {"\u251C", "&#9500;"},  // tee
    {"\u2500", "&#9472;"},  // horizontal bar
    {"\u2502", "&#9474;"},  // vertical bar
};

}  // namespace

std::string EscapeHtml(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case '&': escaped += "&amp;"; continue;
      case '<': escaped += "&lt;"; continue;
      case '>': escaped += "&gt;"; continue;
      case '"': escaped += "&quot;"; continue;
      default: break;
    }
    bool replaced = false;
    for (const Reference& box : kBoxDrawing) {
      if (text.substr(i, box.character.size()) == box.character) {
        escaped += box.reference;
        i += box.character.size() - 1;
        replaced = true;
        break;
      }
    }
    if (!replaced) escaped += text[i];
  }
  return escaped;
}

std::string QuoteDelimitedField(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

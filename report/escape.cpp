#include "report/escape.h"

#include <cstdint>

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

namespace {

// The code point of the valid UTF-8 sequence at `text[at]`, and its length
// in `length`; -1 when the byte there does not begin one.
int32_t DecodeUtf8(std::string_view text, size_t at, size_t& length) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  struct Form {
    uint8_t mask, value;
    size_t length;
    int32_t lowest;
  };
  static constexpr Form kForms[] = {{0x80, 0x00, 1, 0}, {0xE0, 0xC0, 2, 0x80},
                                    {0xF0, 0xE0, 3, 0x800}, {0xF8, 0xF0, 4, 0x10000}};
  for (const Form& form : kForms) {
    if ((lead & form.mask) != form.value) continue;
    if (at + form.length > text.size()) return -1;
    int32_t code = lead & static_cast<uint8_t>(~form.mask);
    for (size_t i = 1; i < form.length; ++i) {
      if ((byte(at + i) & 0xC0) != 0x80) return -1;
      code = (code << 6) | (byte(at + i) & 0x3F);
    }
    if (code < form.lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return -1;
    length = form.length;
    return code;
  }
  return -1;
}

void AppendUnicodeEscape(std::string& out, int32_t unit) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

}  // namespace

std::string QuoteJsonString(std::string_view text) {
  std::string quoted = "\"";
  quoted.reserve(text.size() + 2);
  for (size_t i = 0; i < text.size();) {
    size_t length = 1;
    const int32_t code = DecodeUtf8(text, i, length);
    if (code == '"' || code == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(code);
    } else if (code == '\n') {
      quoted += "\\n";
    } else if (code == '\r') {
      quoted += "\\r";
    } else if (code == '\t') {
      quoted += "\\t";
    } else if (code >= 0x20 && code < 0x7F) {
      quoted += static_cast<char>(code);
    } else if (code < 0) {
      AppendUnicodeEscape(quoted, 0xFFFD);
    } else if (code > 0xFFFF) {
      AppendUnicodeEscape(quoted, 0xD800 + ((code - 0x10000) >> 10));
      AppendUnicodeEscape(quoted, 0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      AppendUnicodeEscape(quoted, code);
    }
    i += length;
  }
  quoted += '"';
  return quoted;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0, length = 1; i < text.size(); i += length) {
    if (DecodeUtf8(text, i, length) < 0) return false;
  }
  return true;
}

#include "machine.h"

#include <stdio.h>
#include <stdlib.h>

namespace standin {

const char* const classKeywords[CLASS_COUNT] = {"dev", "client", "proto", "service"};

// wchar_t is 16 bits on Windows and 32 elsewhere; both hold the same text.
std::wstring fromUtf8(const std::string& text) {
  std::wstring wide;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char lead = (unsigned char)text[i];
    int extra = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : -1;
    uint32_t code = extra == 0 ? lead : extra == 1 ? (lead & 0x1F) : extra == 2 ? (lead & 0x0F) : (lead & 0x07);
    bool valid = extra >= 0 && i + extra < text.size();
    for (int k = 1; valid && k <= extra; k++) {
      unsigned char next = (unsigned char)text[i + k];
      if ((next >> 6) != 2) valid = false;
      code = (code << 6) | (next & 0x3F);
    }
    if (!valid || code > 0x10FFFF) {
      code = 0xFFFD;
      extra = 0;
    }
    i += 1 + extra;
    if (sizeof(wchar_t) == 2 && code >= 0x10000) {
      code -= 0x10000;
      wide += (wchar_t)(0xD800 + (code >> 10));
      wide += (wchar_t)(0xDC00 + (code & 0x3FF));
    } else {
      wide += (wchar_t)code;
    }
  }
  return wide;
}

std::string toUtf8(const std::wstring& text) {
  std::string narrow;
  for (size_t i = 0; i < text.size(); i++) {
    uint32_t code = (uint32_t)text[i];
    if (sizeof(wchar_t) == 2 && code >= 0xD800 && code < 0xDC00 && i + 1 < text.size()) {
      uint32_t low = (uint32_t)text[i + 1];
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        i++;
      }
    }
    if (code < 0x80) {
      narrow += (char)code;
    } else if (code < 0x800) {
      narrow += (char)(0xC0 | (code >> 6));
      narrow += (char)(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      narrow += (char)(0xE0 | (code >> 12));
      narrow += (char)(0x80 | ((code >> 6) & 0x3F));
      narrow += (char)(0x80 | (code & 0x3F));
    } else {
      narrow += (char)(0xF0 | (code >> 18));
      narrow += (char)(0x80 | ((code >> 12) & 0x3F));
      narrow += (char)(0x80 | ((code >> 6) & 0x3F));
      narrow += (char)(0x80 | (code & 0x3F));
    }
  }
  return narrow;
}

static int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Splits one line into words: bare words end at white space, quoted ones at
// the closing quote, with \" and \\ inside, and \xHH for the byte HH of the
// UTF-8 text (so that a name can hold any character, a line end included).
// A # outside quotes starts a comment.
static bool splitWords(const std::string& line, std::vector<std::string>* words, std::string* error) {
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      i++;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      std::string word;
      i++;
      while (i < line.size() && line[i] != '"') {
        if (line.compare(i, 2, "\\x") == 0 && i + 3 < line.size() && hexDigit(line[i + 2]) >= 0 &&
            hexDigit(line[i + 3]) >= 0) {
          word += (char)(hexDigit(line[i + 2]) * 16 + hexDigit(line[i + 3]));
          i += 4;
          continue;
        }
        if (line[i] == '\\' && i + 1 < line.size()) i++;
        word += line[i++];
      }
      if (i >= line.size()) {
        *error = "unterminated quote";
        return false;
      }
      i++;
      words->push_back(word);
    } else {
      size_t start = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') i++;
      words->push_back(line.substr(start, i - start));
    }
  }
  return true;
}

static int classIndex(const std::string& keyword) {
  for (int i = 0; i < CLASS_COUNT; i++)
    if (keyword == classKeywords[i]) return i;
  return -1;
}

// A whole decimal number, least or more.
static bool parseNumber(const std::string& word, long least, long* value) {
  char* end = NULL;
  *value = strtol(word.c_str(), &end, 10);
  return !word.empty() && *end == '\0' && *value >= least;
}

static bool parseFault(const std::vector<std::string>& words, Fault* fault, std::string* error) {
  char* end = NULL;
  fault->call = words[1];
  if (words[2] == "*") {
    fault->occurrence = 0;
  } else if (!parseNumber(words[2], 1, &fault->occurrence)) {
    *error = "occurrence must be a count from 1, or *";
    return false;
  }
  unsigned long result = strtoul(words[3].c_str(), &end, 16);
  if (words[3].empty() || *end != '\0' || result > 0xFFFFFFFFul) {
    *error = "result must be hexadecimal";
    return false;
  }
  fault->result = (int32_t)(uint32_t)result;
  return true;
}

// Applies one line's words to the machine; currentClass is the class that
// components go to.
static bool parseLine(const std::vector<std::string>& words, Machine* machine, int* currentClass, std::string* error) {
  const std::string& keyword = words[0];
  size_t count = words.size();
  if (keyword == "class" && count == 2) {
    *currentClass = classIndex(words[1]);
    if (*currentClass < 0) *error = "unknown class " + words[1];
    return *currentClass >= 0;
  }
  if (keyword == "component" && count == 3) {
    if (*currentClass < 0) *error = "component before any class";
    if (*currentClass < 0) return false;
    Component component = {fromUtf8(words[1]), fromUtf8(words[2]), std::vector<BindingPath>()};
    machine->classes[*currentClass].push_back(component);
    return true;
  }
  if (keyword == "path" && count == 3) {
    if (*currentClass < 0 || machine->classes[*currentClass].empty()) *error = "path before any component";
    else if (words[2] != "enabled" && words[2] != "disabled") *error = "state must be enabled or disabled";
    if (!error->empty()) return false;
    bool enabled = words[2] == "enabled";
    BindingPath path = {fromUtf8(words[1]), enabled, enabled};
    machine->classes[*currentClass].back().paths.push_back(path);
    return true;
  }
  if (keyword == "link" && count == 5) {
    for (size_t i : {2, 4})
      if (words[i] != "enabled" && words[i] != "disabled") *error = "state must be enabled or disabled";
    if (!error->empty()) return false;
    Link link = {fromUtf8(words[1]), words[2] == "enabled", fromUtf8(words[3]), words[4] == "enabled"};
    machine->links.push_back(link);
    return true;
  }
  if (keyword == "lock" && count == 2) {
    machine->lockHolder = fromUtf8(words[1]);
    return true;
  }
  if (keyword == "delay" && count == 4) {
    Delay delay = {words[1], 0, 0};
    if (!parseNumber(words[2], 1, &delay.occurrence) || !parseNumber(words[3], 0, &delay.milliseconds)) {
      *error = "delay takes a call, a count from 1 and milliseconds";
      return false;
    }
    machine->delays.push_back(delay);
    return true;
  }
  if (keyword == "fail" && count == 4) {
    Fault fault;
    if (!parseFault(words, &fault, error)) return false;
    machine->faults.push_back(fault);
    return true;
  }
  *error = "cannot read '" + keyword + "' with " + std::to_string(count - 1) + " values";
  return false;
}

bool parseMachine(const std::string& text, Machine* machine, std::string* error) {
  *machine = Machine();
  int currentClass = -1;
  size_t start = 0;
  for (int lineNumber = 1; start < text.size(); lineNumber++) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> words;
    std::string why;
    bool ok = splitWords(text.substr(start, end - start), &words, &why) &&
              (words.empty() || parseLine(words, machine, &currentClass, &why));
    if (!ok) {
      *error = "line " + std::to_string(lineNumber) + ": " + why;
      return false;
    }
    start = end + 1;
  }
  return true;
}

static std::string quoted(const std::wstring& text) {
  std::string narrow = toUtf8(text);
  std::string out = "\"";
  for (size_t i = 0; i < narrow.size(); i++) {
    unsigned char c = (unsigned char)narrow[i];
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
      continue;
    }
    if (c == '"' || c == '\\') out += '\\';
    out += narrow[i];
  }
  return out + "\"";
}

std::string hexResult(int32_t result) {
  char buffer[16];
  snprintf(buffer, sizeof buffer, "%x", (unsigned)(uint32_t)result);
  return buffer;
}

std::string formatMachine(const Machine& machine) {
  std::string text;
  for (int c = 0; c < CLASS_COUNT; c++) {
    if (machine.classes[c].empty()) continue;
    text += std::string("class ") + classKeywords[c] + "\n";
    for (const Component& component : machine.classes[c]) {
      text += "  component " + quoted(component.bindName) + " " + quoted(component.displayName) + "\n";
      for (const BindingPath& path : component.paths)
        text += "    path " + quoted(path.token) + (path.enabled ? " enabled\n" : " disabled\n");
    }
  }
  for (const Link& link : machine.links)
    text += "link " + quoted(link.trigger) + (link.when ? " enabled " : " disabled ") + quoted(link.target) +
            (link.then ? " enabled\n" : " disabled\n");
  if (!machine.lockHolder.empty()) text += "lock " + quoted(machine.lockHolder) + "\n";
  for (const Fault& fault : machine.faults)
    text += "fail " + fault.call + " " + (fault.occurrence == 0 ? std::string("*") : std::to_string(fault.occurrence)) +
            " " + hexResult(fault.result) + "\n";
  for (const Delay& delay : machine.delays)
    text += "delay " + delay.call + " " + std::to_string(delay.occurrence) + " " + std::to_string(delay.milliseconds) +
            "\n";
  return text;
}

}  // namespace standin

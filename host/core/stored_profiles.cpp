#include "stored_profiles.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

namespace host {
namespace {

constexpr const char* kComment = "*% The printer's stored profiles (r2740-setup-queue --refresh)";
// A PPD's translation texts hold at most 80 bytes.
constexpr size_t kMaxText = 80;

bool StartsWith(const std::string& s, const std::string& head) { return s.compare(0, head.size(), head) == 0; }

bool IsStoredChoiceName(const std::string& name) {
  const size_t n = std::strlen(kStoredChoicePrefix);
  return name.size() > n && StartsWith(name, kStoredChoicePrefix) &&
         std::all_of(name.begin() + static_cast<long>(n), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The panel's coded device paths are digit pairs: '0'..'?' only.
bool IsCoded(const std::string& s) {
  return s.size() % 2 == 0 && s.size() <= 2046 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '?'; });
}

// A text a PPD line can carry, cut to kMaxText bytes on a character
// boundary: ':' would end it, and libcups reads "<hex>" in texts as bytes,
// so those and '"' go as hex; control characters become blanks.
std::string SafeText(const std::string& utf8, bool latin1) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + len > utf8.size()) len = 1;
    std::string ch = utf8.substr(i, len);
    i += len;
    if (len == 1 && c >= 0x80) ch = "?";  // not UTF-8
    else if (len == 1 && (c < 0x20 || c == 0x7f)) ch = " ";
    else if (len == 1 && (c == ':' || c == '"' || c == '<')) ch = c == ':' ? "<3A>" : c == '"' ? "<22>" : "<3C>";
    else if (latin1 && len == 2 && c <= 0xc3) ch = std::string(1, static_cast<char>(((c & 0x1f) << 6) | (utf8[i - 1] & 0x3f)));
    else if (latin1 && len > 1) ch = "?";
    if (out.size() + ch.size() > kMaxText) break;
    out += ch;
  }
  return out;
}

std::string Trimmed(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

// "*KEY CHOICE/..." or "*ja.KEY CHOICE/...": the key and the choice.
bool ChoiceLine(const std::string& line, std::string* key, std::string* choice) {
  if (line.size() < 2 || line[0] != '*' || line[1] == '%') return false;
  size_t space = line.find(' ');
  if (space == std::string::npos) return false;
  size_t end = line.find_first_of("/:", space + 1);
  if (end == std::string::npos) return false;
  *key = line.substr(1, space - 1);
  if (StartsWith(*key, "ja.")) key->erase(0, 3);
  *choice = line.substr(space + 1, end - space - 1);
  return key->find(':') == std::string::npos;
}

}  // namespace

std::vector<StoredProfileChoice> StoredProfileChoices(ppd_file_t* ppd) {
  std::vector<StoredProfileChoice> out;
  if (!ppd) return out;
  for (ppd_attr_t* a = ppdFindAttr(ppd, kStoredProfileKeyword, nullptr); a;
       a = ppdFindNextAttr(ppd, kStoredProfileKeyword, nullptr)) {
    // "OPTION FIRST CODED": a spec "OPTION.CHOICE" would pass a PPD's 40
    // characters for the longer options' names.
    std::istringstream value(a->value ? a->value : "");
    StoredProfileChoice c;
    c.choice = a->spec;
    std::string rest;
    if (!(value >> c.option >> c.first >> c.coded) || (value >> rest)) continue;
    ppd_option_t* o = ppdFindOption(ppd, c.option.c_str());
    ppd_choice_t* mine = o ? ppdFindChoice(o, c.choice.c_str()) : nullptr;
    if (!mine || !IsStoredChoiceName(c.choice) || !ppdFindChoice(o, c.first.c_str()) || IsStoredChoiceName(c.first) ||
        !IsCoded(c.coded))
      continue;
    c.title = mine->text;
    out.push_back(std::move(c));
  }
  return out;
}

std::string WithStoredProfiles(const std::string& ppdText, const std::vector<StoredProfileChoice>& choices) {
  std::map<std::string, std::vector<const StoredProfileChoice*>> byOption;
  for (const auto& c : choices) byOption[c.option].push_back(&c);
  std::map<std::string, std::string> firstChoice;  // option -> its first own choice
  std::set<std::string> options;
  std::vector<std::string> lines;
  {
    std::istringstream in(ppdText);
    std::string line, open;
    while (std::getline(in, line)) {
      lines.push_back(line);
      std::string t = Trimmed(line), key, choice;
      if (StartsWith(t, "*OpenUI *")) {
        open = t.substr(9, t.find_first_of("/:", 9) - 9);
        options.insert(open);
      } else if (StartsWith(t, "*CloseUI:")) {
        open.clear();
      } else if (!open.empty() && ChoiceLine(t, &key, &choice) && key == open && !IsStoredChoiceName(choice) &&
                 !firstChoice.count(key)) {
        firstChoice[key] = choice;
      }
    }
  }
  std::string out;
  std::vector<std::string> tail;
  for (const std::string& line : lines) {
    std::string t = Trimmed(line), key, choice;
    if (t == kComment || StartsWith(t, std::string("*") + kStoredProfileKeyword + " ")) continue;
    if (ChoiceLine(t, &key, &choice) && IsStoredChoiceName(choice) && !StartsWith(t, "*Default")) continue;
    if (StartsWith(t, "*cupsUIConstraints ") && t.find(std::string(" ") + kStoredChoicePrefix) != std::string::npos)
      continue;
    if (StartsWith(t, "*Default")) {
      size_t colon = t.find(':');
      std::string option = colon == std::string::npos ? "" : t.substr(8, colon - 8);
      size_t from = colon == std::string::npos ? colon : t.find_first_not_of(' ', colon + 1);
      std::string value = from == std::string::npos ? "" : t.substr(from);
      if (IsStoredChoiceName(value) && firstChoice.count(option)) {
        auto mine = byOption.find(option);
        bool kept = mine != byOption.end() && std::any_of(mine->second.begin(), mine->second.end(),
                                                          [&](auto* c) { return c->choice == value; });
        if (!kept) {
          out += "*Default" + option + ": " + firstChoice[option] + "\n";
          continue;
        }
      }
    }
    if (StartsWith(t, "*CloseUI: *")) {
      std::string option = t.substr(11);
      auto it = byOption.find(option);
      for (const StoredProfileChoice* c : it == byOption.end() ? std::vector<const StoredProfileChoice*>{} : it->second)
        out += "*" + option + " " + c->choice + "/" + SafeText(c->title, true) + ": \"\"\n";
    }
    out += line + "\n";
  }
  // Where a constraint keeps an option from some of its own choices, it
  // keeps it from the stored ones too: none is the value a resolver sets.
  std::set<std::string> constraints;
  for (const std::string& line : lines) {
    std::string t = Trimmed(line);
    const std::string head = "*cupsUIConstraints ";
    size_t quote = t.find('"');
    if (!StartsWith(t, head) || quote == std::string::npos || t.back() != '"') continue;
    std::istringstream words(t.substr(quote + 1, t.size() - quote - 2));
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    for (size_t i = 0; i + 1 < w.size(); ++i) {
      if (w[i].size() < 2 || w[i][0] != '*' || IsStoredChoiceName(w[i + 1])) continue;
      auto it = byOption.find(w[i].substr(1));
      if (it == byOption.end() || !options.count(it->first)) continue;
      for (const StoredProfileChoice* c : it->second) {
        std::vector<std::string> copy = w;
        copy[i + 1] = c->choice;
        std::string joined;
        for (const auto& x : copy) joined += (joined.empty() ? "" : " ") + x;
        constraints.insert(t.substr(0, quote + 1) + joined + "\"");
      }
    }
  }
  bool any = false;
  for (const auto& c : choices) {
    if (!options.count(c.option)) continue;
    if (!any) tail.push_back(kComment);
    any = true;
    if (c.option.size() + 3 <= 40)  // a keyword's 40 characters
      tail.push_back("*ja." + c.option + " " + c.choice + "/" + SafeText(c.title, false) + ": \"\"");
    tail.push_back(std::string("*") + kStoredProfileKeyword + " " + c.choice + ": \"" + c.option + " " + c.first +
                   " " + c.coded + "\"");
  }
  tail.insert(tail.end(), constraints.begin(), constraints.end());
  for (const auto& t : tail) out += t + "\n";
  return out;
}

void ApplyStoredProfiles(const std::vector<StoredProfileChoice>& choices, OptionList* options) {
  for (const auto& c : choices) {
    auto named = std::find_if(options->begin(), options->end(), [&](const auto& o) {
      return o.first == c.option && !strcasecmp(o.second.c_str(), c.choice.c_str());
    });
    if (named == options->end()) continue;
    named->second = c.first;
    const std::string file = c.option + "CustomFilename", flag = c.option + "Custom";
    std::erase_if(*options, [&](const auto& o) { return o.first == file || o.first == flag; });
    options->emplace_back(file, c.coded);
    options->emplace_back(flag, "True");
  }
}

}  // namespace host

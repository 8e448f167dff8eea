// Choosing a stored profile in a colour panel's profile menu the way a user
// picks its menu item: "profile:FILE@disk" or "profile:FILE@card".
#include <cups/ppd.h>

#include <algorithm>
#include <cstring>

#include "host.h"

namespace host {
namespace {

// Every view a panel offers: its view tree (tab items included) and the
// views it names itself.
std::shared_ptr<ui::PopUpButton> FindPopUp(DialogSession::Panel& p, const std::string& key) {
  std::vector<std::shared_ptr<ui::View>> roots;
  if (p.view) roots.push_back(p.view);
  for (const auto& v : p.panel->allViews()) roots.push_back(v);
  for (const auto& root : roots) {
    if (!root) continue;
    if (auto found = std::dynamic_pointer_cast<ui::PopUpButton>(root->findByIdentifier(key))) return found;
  }
  return nullptr;
}

// The colour plug-in's profile items carry their entry as their represented
// object: {"ProfileFileName": data, "ProfileLocation": number}. The item is
// picked by that, not by a title rebuilt from the profile file, so the
// choice is the item the menu shows (a display name cut inside a character
// is shown without it) and the file can change meanwhile.
bool ItemEntry(ui::MenuItem* item, std::string* fileName, int* location) {
  auto d = item ? cf::As<cf::Dictionary>(item->representedObject()) : nullptr;
  auto file = d ? d->get<cf::Data>("ProfileFileName") : nullptr;
  auto where = d ? d->get<cf::Number>("ProfileLocation") : nullptr;
  if (!file || !where) return false;
  fileName->assign(file->bytes().begin(), file->bytes().end());
  *location = where->sint32Value();
  return true;
}

bool IsProfileItem(ui::MenuItem* item, const ProfileChoice& c) {
  std::string file;
  int location = 0;
  return ItemEntry(item, &file, &location) && location == c.location && file == c.fileName;
}

// Picks the profile's item in the profile menu KEY as a user would. Every
// colour panel that has the menu (both colour builds may be loaded) takes it
// when its menu offers the profile; one must.
bool ChooseProfileInPanel(DialogSession::Panel& p, const std::shared_ptr<ui::PopUpButton>& menu,
                          ppd_file_t* ppd, const std::string& key, const ProfileChoice& choice, std::string* error) {
  if (ColourPanelModel(p).empty()) {
    *error = "--set " + key + ": not a profile menu of a colour panel";
    return false;
  }
  if (!ppd || !ppdFindOption(ppd, key.c_str())) {
    *error = "--set " + key + ": the PPD has no option " + key + ", so the menu offers no profiles";
    return false;
  }
  for (int i = 0; i < menu->numberOfItems(); ++i) {
    if (!IsProfileItem(menu->itemAtIndex(i), choice)) continue;
    if (menu->userSelectItem(i)) return true;
    *error = "--set " + key + ": the menu is disabled";
    return false;
  }
  *error = "--set " + key + ": the menu offers no profile " + choice.fileName + " on the " + choice.where +
           " (not in the profile file, or hidden from menus)";
  return false;
}

}  // namespace

std::string ColourPanelModel(const DialogSession::Panel& p) {
  const std::string prefix = "jp.orvessa.pde.", suffix = ".qvco";
  if (p.kind.size() <= prefix.size() + suffix.size() || p.kind.rfind(prefix, 0) != 0 ||
      p.kind.compare(p.kind.size() - suffix.size(), suffix.size(), suffix) != 0)
    return "";
  return p.kind.substr(prefix.size(), p.kind.size() - prefix.size() - suffix.size());
}

std::string ProfileChoiceValue(const std::string& fileName, int location) {
  return kProfilePrefix + fileName + (location == 5 ? "@card" : "@disk");
}

std::optional<ProfileChoice> ParseProfileChoice(const std::string& value) {
  std::string spec = value.substr(std::strlen(kProfilePrefix));
  size_t at = spec.rfind('@');
  if (at == std::string::npos || at == 0) return std::nullopt;
  ProfileChoice c;
  c.fileName = spec.substr(0, at);
  c.where = spec.substr(at + 1);
  if (c.where == "disk") c.location = 4;
  else if (c.where == "card") c.location = 5;
  else return std::nullopt;
  return c;
}

bool ChooseProfile(DialogSession& session, const std::string& key, const std::string& value, std::string* error) {
  ppd_file_t* ppd = session.callback().ppdFile();
  auto choice = ParseProfileChoice(value);
  if (!choice) {
    *error = "--set " + key + "=" + value + ": write profile:FILE@disk or profile:FILE@card";
    return false;
  }
  bool chosen = false;
  std::string firstError;
  for (auto& p : session.panels()) {
    auto menu = FindPopUp(p, key);
    if (!menu) continue;
    std::string why;
    if (ChooseProfileInPanel(p, menu, ppd, key, *choice, &why)) chosen = true;
    else if (firstError.empty() || why.find("offers no profile") != std::string::npos) firstError = why;
  }
  if (chosen) return true;
  *error = firstError.empty() ? "--set " + key + ": no profile menu with that identifier" : firstError;
  return false;
}

std::vector<ProfileItem> ProfileItems(DialogSession& session) {
  std::vector<ProfileItem> out;
  ppd_file_t* ppd = session.callback().ppdFile();
  for (ppd_option_t* o = ppd ? ppdFirstOption(ppd) : nullptr; o; o = ppdNextOption(ppd)) {
    for (auto& p : session.panels()) {
      auto menu = ColourPanelModel(p).empty() ? nullptr : FindPopUp(p, o->keyword);
      for (int i = 0; menu && i < menu->numberOfItems(); ++i) {
        ui::MenuItem* item = menu->itemAtIndex(i);
        ProfileItem it{o->keyword, item ? item->title() : "", "", 0};
        if (!ItemEntry(item, &it.fileName, &it.location)) continue;
        bool seen = std::any_of(out.begin(), out.end(), [&](const ProfileItem& e) {
          return e.option == it.option && e.fileName == it.fileName && e.location == it.location;
        });
        if (!seen) out.push_back(std::move(it));
      }
    }
  }
  return out;
}

std::vector<std::string> TakeNotices(DialogSession& session) {
  std::vector<std::string> lines;
  pm::PrintSession& ps = session.callback().session();
  if (auto list = cf::As<cf::Array>(ps.data(pde::kNoticesKey)))
    for (const auto& item : *list)
      if (auto s = cf::As<cf::String>(item)) lines.push_back(s->utf8());
  ps.setData(pde::kNoticesKey, nullptr);
  return lines;
}

}  // namespace host

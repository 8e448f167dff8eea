// Choosing a stored profile in a colour panel's profile menu the way a user
// picks its menu item: "profile:FILE@disk" or "profile:FILE@card".
#include <cups/ppd.h>

#include <cstdio>
#include <cstring>

#include "cf/plist.h"
#include "host.h"
#include "system/system.h"

namespace host {
namespace {

constexpr const char* kProfileFolder = "/Library/Printers/ORVESSA/Preferences/jp.orvessa.printers.R2740";


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

// The display names the profile file stores for FILE at the location, in
// any of its lists, cut to 31 bytes as the plug-in reads them.
std::vector<std::string> StoredProfileNames(const std::string& path, const ProfileChoice& c) {
  std::vector<std::string> names;
  auto root = cf::As<cf::Dictionary>(cf::PropertyListCreateFromFile(path));
  if (!root) return names;
  for (const char* list : {"RGB", "SIM", "DST"}) {
    auto cls = root->get<cf::Dictionary>(list);
    auto files = cls ? cls->get<cf::Dictionary>("FileName") : nullptr;
    auto locations = cls ? cls->get<cf::Dictionary>("Location") : nullptr;
    auto profileNames = cls ? cls->get<cf::Dictionary>("ProfileName") : nullptr;
    if (!files || !locations || !profileNames) continue;
    for (int i = 0; i < 500; ++i) {
      char suffix[8];
      std::snprintf(suffix, sizeof suffix, "%04d", i);
      auto file = files->get<cf::String>(std::string("FileName") + suffix);
      auto loc = locations->get<cf::Number>(std::string("Location") + suffix);
      if (!file || !loc || file->utf8().substr(0, 31) != c.fileName || loc->sint32Value() != c.location) continue;
      auto name = profileNames->get<cf::String>(std::string("ProfileName") + suffix);
      names.push_back(name ? name->utf8().substr(0, 31) : std::string());
    }
  }
  return names;
}

// Picks the profile's item in the profile menu KEY as a user would: among
// the items after the PPD choices, the one titled "FILE(name)<location>".
// Every colour panel that has the menu (both colour builds may be loaded)
// takes it when its profile file holds the profile; one must.
bool ChooseProfileInPanel(DialogSession::Panel& p, const std::shared_ptr<ui::PopUpButton>& menu,
                          ppd_file_t* ppd, const std::string& key, const ProfileChoice& choice, std::string* error) {
  // Colour panels are of the kind "jp.orvessa.pde.<model>.qvco".
  const std::string prefix = "jp.orvessa.pde.", suffix = ".qvco";
  if (p.kind.size() <= prefix.size() + suffix.size() || p.kind.rfind(prefix, 0) != 0 ||
      p.kind.compare(p.kind.size() - suffix.size(), suffix.size(), suffix) != 0) {
    *error = "--set " + key + ": not a profile menu of a colour panel";
    return false;
  }
  const std::string model = p.kind.substr(prefix.size(), p.kind.size() - prefix.size() - suffix.size());
  ppd_option_t* option = ppd ? ppdFindOption(ppd, key.c_str()) : nullptr;
  if (!option) {
    *error = "--set " + key + ": the PPD has no option " + key + ", so the menu offers no profiles";
    return false;
  }
  const std::string file =
      sys::ResolvePath(std::string(kProfileFolder) + "/" + sys::LoginName() + "-" + model + "-profile.plist");
  std::vector<std::string> names = StoredProfileNames(file, choice);
  if (names.empty()) {
    *error = "--set " + key + ": no stored profile " + choice.fileName + " on the " + choice.where + " in " + file;
    return false;
  }
  std::string word = choice.location == 5 ? "Card" : "Disk";
  if (p.plugin && p.plugin->bundle())
    if (auto localized = p.plugin->bundle()->localizedString(word)) word = *localized;
  for (int i = option->num_choices; i < menu->numberOfItems(); ++i) {
    for (const auto& name : names) {
      if (menu->itemTitleAtIndex(i) != choice.fileName + "(" + name + ")" + word) continue;
      if (menu->userSelectItem(i)) return true;
      *error = "--set " + key + ": the menu is disabled";
      return false;
    }
  }
  *error = "--set " + key + ": the profile " + choice.fileName + " on the " + choice.where +
           " is hidden from this menu";
  return false;
}

}  // namespace

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
    else if (firstError.empty() || why.find("hidden") != std::string::npos) firstError = why;
  }
  if (chosen) return true;
  *error = firstError.empty() ? "--set " + key + ": no profile menu with that identifier" : firstError;
  return false;
}


}  // namespace host

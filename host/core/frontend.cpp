#include "frontend.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "cf/plist.h"

namespace host {

Flag TakeSharedFlag(int argc, char** argv, int* i, FrontEndOptions* o, std::string* error) {
  const std::string a = argv[*i];
  std::string* into = nullptr;
  if (a == "--queue") into = &o->queueName;
  else if (a == "--ppd") into = &o->ppdPath;
  else if (a == "--queue-id") into = &o->queueId;
  else if (a == "--device-uri") into = &o->deviceURI;
  else if (a == "--bundles") into = &o->bundles;
  else if (a == "--settings-in") into = &o->settingsIn;
  else if (a == "--settings-out") into = &o->settingsOut;
  else if (a == "--action") into = &o->action;
  else if (a != "--set") return Flag::NotShared;
  if (*i + 1 >= argc) {
    *error = a + " needs a value (see --help)";
    return Flag::Error;
  }
  std::string value = argv[++*i];
  if (into) {
    *into = value;
    if (a == "--device-uri") o->haveDeviceURI = true;
    return Flag::Taken;
  }
  size_t eq = value.find('=');
  if (eq == std::string::npos || eq == 0) {
    *error = "--set wants KEY=VALUE, got \"" + value + "\"";
    return Flag::Error;
  }
  std::string v = value.substr(eq + 1);
  if (v.rfind(kProfilePrefix, 0) == 0 && !ParseProfileChoice(v)) {
    *error = "--set " + value + ": write profile:FILE@disk or profile:FILE@card";
    return Flag::Error;
  }
  o->sets.emplace_back(value.substr(0, eq), v);
  return Flag::Taken;
}

bool CheckQueueFlags(const FrontEndOptions& o, bool required, std::string* error) {
  if (!o.queueName.empty() && !o.ppdPath.empty()) *error = "give either --queue or --ppd, not both";
  else if (required && o.queueName.empty() && o.ppdPath.empty()) *error = "give --queue NAME or --ppd FILE (see --help)";
  else if (!o.ppdPath.empty() && o.queueId.empty()) *error = "--ppd needs --queue-id";
  else if (o.ppdPath.empty() && (!o.queueId.empty() || o.haveDeviceURI)) *error = "--queue-id and --device-uri go with --ppd";
  else return true;
  return false;
}

OpenedQueue::~OpenedQueue() {
  ppd.reset();
  if (queue.temporaryPPD && !queue.ppdPath.empty()) unlink(queue.ppdPath.c_str());
}

int OpenQueue(const FrontEndOptions& o, OpenedQueue* opened, std::string* error) {
  if (!o.queueName.empty()) {
    auto q = CupsQueue(o.queueName, error);
    if (!q) return kQueueErr;
    opened->queue = *q;
  } else {
    opened->queue = ManualQueue(o.ppdPath, o.queueId, o.deviceURI);
  }
  opened->ppd = PPDFile::open(opened->queue.ppdPath, error);
  if (!opened->ppd) return kQueueErr;

  if (!o.bundles.empty()) {
    std::vector<std::string> errors;
    opened->plugins = LoadPlugInFolder(o.bundles, &errors);
    if (!errors.empty()) {
      *error = "bundle failed to load: " + errors.front();
      return kBundleErr;
    }
  } else {
    for (const auto& path : opened->ppd->dialogExtensions()) {
      auto p = LoadPlugIn(path, error);
      if (!p) {
        *error = "bundle failed to load: " + *error;
        return kBundleErr;
      }
      opened->plugins.push_back(p);
    }
  }

  if (!o.settingsIn.empty()) {
    std::string why;
    cf::Ref root = cf::PropertyListCreateFromFile(o.settingsIn, &why);
    if (!root) {
      *error = "cannot read settings " + o.settingsIn + ": " + why;
      return kSettingsErr;
    }
    opened->startSettings = cf::As<cf::Dictionary>(root);
    if (!opened->startSettings) {
      *error = "settings " + o.settingsIn + " are not a dictionary";
      return kSettingsErr;
    }
  }
  return kOK;
}

bool WriteFileAtomic(const std::string& path, const std::string& text, std::string* error) {
  std::string tmp = path + ".tmp." + std::to_string(getpid());
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      unlink(tmp.c_str());
      *error = "cannot write " + path + ": " + std::strerror(errno);
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace host

// A dialog session as the programs start one: the plug-ins of a bundle
// folder on the sample PPD, the install root and user preferences in a
// test's own folder, the queue's defaults and the general flags applied.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dialogstart.h"
#include "host.h"

namespace qttest {

// Null with the reason in *why.
inline std::unique_ptr<host::DialogSession> StartSession(const std::filesystem::path& bundles,
                                                         const std::filesystem::path& tmp,
                                                         const std::string& queueName, host::Queue* queue,
                                                         host::DialogStart* start, std::string* why) {
  std::filesystem::create_directories(tmp / "root");
  setenv("R2740_ROOT", (tmp / "root").c_str(), 1);
  setenv("R2740_USER_PREFS", (tmp / "prefs").c_str(), 1);
  std::vector<std::string> errors;
  auto plugins = host::LoadPlugInFolder(bundles.string(), &errors);
  if (!errors.empty()) {
    *why = errors.front();
    return nullptr;
  }
  std::string ppdPath = std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd";
  auto ppd = host::PPDFile::open(ppdPath, why);
  if (!ppd) return nullptr;
  *queue = host::ManualQueue(ppdPath, queueName, "lpd://127.0.0.1/queue");
  auto session = std::make_unique<host::DialogSession>(std::make_shared<host::HostCallback>(*queue, std::move(ppd)),
                                                       std::move(plugins));
  if (host::StartDialog(*session, *queue, {}, start, why) != host::kOK) return nullptr;
  return session;
}

}  // namespace qttest

// Loading plug-in bundles.
#include <dirent.h>
#include <dlfcn.h>

#include <algorithm>

#include "host.h"
#include "system/system.h"

namespace host {

namespace {

std::string StringInfo(const bndl::Bundle& bundle, const char* key, bool* wrongType) {
  cf::Ref v = bundle.objectForInfoDictionaryKey(key);
  *wrongType = v && !cf::As<cf::String>(v);
  auto s = cf::As<cf::String>(v);
  return s ? s->utf8() : std::string();
}

std::vector<std::string> ListDir(const std::string& dir, const std::string& suffix) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n == "." || n == "..") continue;
      if (n.size() > suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
        names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

PlugIn::~PlugIn() {
  // The factory's code lives in the library; it goes first. The library
  // itself stays mapped (see host.h).
  factory_.reset();
}

PlugInRef LoadPlugIn(const std::string& bundlePath, std::string* error) {
  auto fail = [&](const std::string& why) -> PlugInRef {
    if (error) *error = bundlePath + ": " + why;
    return nullptr;
  };
  if (!sys::IsDirectory(bundlePath)) return fail("bundle not found");
  if (!sys::FileExists(bundlePath + "/Contents/Info.plist")) return fail("bundle has no Contents/Info.plist");
  std::string why;
  bndl::BundleRef bundle = bndl::Bundle::bundleWithPath(bundlePath, &why);
  if (!bundle) return fail("malformed Info.plist" + (why.empty() ? std::string() : ": " + why));

  bool wrongType = false;
  std::string libName = StringInfo(*bundle, kLibraryKey, &wrongType);
  if (wrongType) return fail(std::string("Info.plist key ") + kLibraryKey + " is not a string");
  if (libName.empty()) {
    auto libs = ListDir(bundle->libraryPath(), ".so");
    if (libs.size() != 1)
      return fail(std::string("Info.plist names no library (") + kLibraryKey + ") and Contents/lib holds " +
                  std::to_string(libs.size()) + " *.so files");
    libName = libs.front();
  }
  // A plain file name: the library must lie inside the bundle.
  if (libName.find('/') != std::string::npos || libName == "." || libName == "..")
    return fail(std::string("Info.plist key ") + kLibraryKey + " is not a plain file name: " + libName);
  std::string libPath = bundle->libraryPath() + "/" + libName;
  if (!sys::FileExists(libPath)) return fail("library missing: Contents/lib/" + libName);

  std::string entryName = StringInfo(*bundle, pde::kFactoryEntryKey, &wrongType);
  if (wrongType || entryName.empty())
    return fail(std::string("Info.plist has no string ") + pde::kFactoryEntryKey);

  dlerror();
  void* handle = dlopen(libPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* e = dlerror();
    return fail(std::string("library failed to load: ") + (e ? e : libPath));
  }
  dlerror();
  void* sym = dlsym(handle, entryName.c_str());
  if (!sym) return fail("entry point " + entryName + " not found in Contents/lib/" + libName);

  auto entry = reinterpret_cast<pde::FactoryEntry>(sym);
  std::unique_ptr<pde::PDEFactory> factory(entry());
  if (!factory) return fail("entry point " + entryName + " returned no factory");
  if (!factory->initWithBundle(bundle)) return fail("the factory refused initWithBundle");

  PlugInRef plugin(new PlugIn());
  plugin->path_ = bundlePath;
  plugin->bundle_ = bundle;
  plugin->handle_ = handle;
  plugin->factory_ = std::move(factory);
  if (error) error->clear();
  return plugin;
}

std::vector<PlugInRef> LoadPlugInFolder(const std::string& folder, std::vector<std::string>* errors) {
  std::vector<PlugInRef> plugins;
  if (!sys::IsDirectory(folder)) {
    if (errors) errors->push_back(folder + ": bundle folder not found");
    return plugins;
  }
  for (const auto& name : ListDir(folder, ".plugin")) {
    std::string why;
    if (PlugInRef p = LoadPlugIn(folder + "/" + name, &why))
      plugins.push_back(std::move(p));
    else if (errors)
      errors->push_back(why);
  }
  return plugins;
}

}  // namespace host

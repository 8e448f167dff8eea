// Small helpers shared by the fuzz targets: a private install root per
// process and a reader that turns fuzz bytes into choices.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "system/system.h"
#include "ui/ui.h"

namespace fuzz {

// A temporary install root (R2740_ROOT), made on first use and removed when
// the process exits normally.
inline const std::string& TempRoot() {
  static const std::string root = [] {
    char tmpl[] = "/tmp/r2740-fuzz-XXXXXX";
    std::string dir = mkdtemp(tmpl) ? tmpl : "";
    if (dir.empty()) abort();
    setenv("R2740_ROOT", dir.c_str(), 1);
    setenv("R2740_LANG", "en", 1);
    atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(getenv("R2740_ROOT"), ec);
    });
    return dir;
  }();
  return root;
}

// The profile folder under the temp root, created.
inline std::string ProfileFolder() {
  TempRoot();
  std::string dir = sys::ResolvePath("/Library/Printers/ORVESSA/Preferences/jp.orvessa.printers.R2740");
  std::filesystem::create_directories(dir);
  return dir;
}

inline void WriteFile(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Consumes the input front to back; reads past the end give zeros, so every
// input decodes to something.
class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : p_(data), n_(size) {}
  bool empty() const { return n_ == 0; }
  uint8_t byte() {
    if (!n_) return 0;
    --n_;
    return *p_++;
  }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | byte();
    return v;
  }
  std::string str(size_t max) {
    size_t len = byte() % (max + 1);
    if (len > n_) len = n_;
    std::string s(reinterpret_cast<const char*>(p_), len);
    p_ += len;
    n_ -= len;
    return s;
  }
  std::string rest() {
    std::string s(reinterpret_cast<const char*>(p_), n_);
    p_ += n_;
    n_ = 0;
    return s;
  }

 private:
  const uint8_t* p_;
  size_t n_;
};

// Works a text field as a user would, up to 64 steps chosen by the input
// (type, select, delete, end, begin editing); `check` runs after each step.
template <class Check>
void DriveTextField(ui::TextField* field, Bytes& in, Check check) {
  for (int step = 0; step < 64 && !in.empty(); ++step) {
    switch (in.byte() % 5) {
      case 0: field->userType(in.str(24)); break;
      case 1: {
        const long location = in.byte(), length = in.byte() % 8;
        field->userSelect({location, length});
        break;
      }
      case 2: field->userDeleteBackward(); break;
      case 3: field->userEndEditing(); break;
      default: field->userBeginEditing(); break;
    }
    check();
  }
  field->userEndEditing();
}

}  // namespace fuzz

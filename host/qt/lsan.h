// Under LeakSanitizer: fontconfig keeps a small cache for the life of the
// process (it is freed only by FcFini, which Qt does not call); that is
// not a leak of ours.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
#endif

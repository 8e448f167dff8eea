// A stored profile's menu title comes from the printer (its profile and
// file names, read over SNMP). Whatever it holds, the PPD it is written
// into must stay one libcups reads, with the choice in it and the
// ticket's values intact.
#include <cups/ppd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "stored_profiles.h"

namespace {

const char* const kPPD =
    "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
    "*LanguageEncoding: ISOLatin1\n*PCFileName: \"FUZZ.PPD\"\n*Manufacturer: \"Fuzz\"\n*Product: \"(Fuzz)\"\n"
    "*ModelName: \"Fuzz\"\n*ShortNickName: \"Fuzz\"\n*NickName: \"Fuzz\"\n*PSVersion: \"(3010.000) 0\"\n"
    "*OpenUI *QVImageRGBSource/Image RGB Source: PickOne\n*DefaultQVImageRGBSource: R2740Stored1\n"
    "*QVImageRGBSource None/None: \"\"\n*QVImageRGBSource sRGB/sRGB: \"\"\n*CloseUI: *QVImageRGBSource\n"
    "*cupsUIConstraints QC: \"*QVQuickColor Auto *QVImageRGBSource None\"\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string title(reinterpret_cast<const char*>(data), size);
  const std::string coded = "2?6174";
  const std::string text = host::WithStoredProfiles(kPPD, {{"QVImageRGBSource", "R2740Stored1", title, "None", coded}});
  char name[] = "/tmp/r2740-fuzz-ppd-XXXXXX";
  int fd = ::mkstemp(name);
  if (fd < 0) return 0;
  bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  ppd_file_t* ppd = written ? ppdOpenFile(name) : nullptr;
  ::unlink(name);
  if (!written) return 0;
  if (!ppd) abort();
  auto choices = host::StoredProfileChoices(ppd);
  ppd_option_t* o = ppdFindOption(ppd, "QVImageRGBSource");
  bool ok = choices.size() == 1 && choices[0].coded == coded && choices[0].first == "None" && o &&
            ppdFindChoice(o, "R2740Stored1");
  ppdClose(ppd);
  if (!ok) abort();
  return 0;
}

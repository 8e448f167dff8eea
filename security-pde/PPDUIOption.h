// A PPD main keyword parsed into a small record: its translation, its
// choices with their translations, the default and the marked choice, and
// for "PageSize" the paper dimensions of every size.
#pragma once

#include <cups/ppd.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "SecurityBuild.h"
#include "cf/cf.h"
#include "printing/printing.h"

namespace R2740_SECURITY_NS {

struct QVSession;
struct PPDUIOption;

// Paper of one "PageSize" choice, in points.
struct PPDPaperBlock {
  double width = 0, length = 0;
  double top = 0, left = 0, bottom = 0, right = 0;
};

struct PPDUIChoice {
  cf::StringRef key;    // choice keyword, UTF-8
  cf::StringRef alias;  // translation text
  intptr_t reserved = 0;
  std::unique_ptr<PPDPaperBlock> data;  // "PageSize" only
  PPDUIOption* owner = nullptr;
};

struct PPDUIOption {
  cf::StringRef keyword;
  cf::StringRef alias;
  uint8_t conflicted = 0;
  int16_t defIndex = 0;
  int16_t curIndex = 0;
  int16_t numChoices = 0;
  std::vector<PPDUIChoice> choices;
};

// The string encoding the PPD declares for its texts.
cf::StringEncoding GetCFStringEncodingFromPPD(ppd_file_t* ppd);
// A PPD text as a string: libcups hands translations over as UTF-8; text
// that is not valid UTF-8 is read in the PPD's declared encoding.
cf::StringRef PPDTextToString(ppd_file_t* ppd, const char* text);

// The PPD of the session: session data "kPMPPDReference" (the bytes hold
// the ppd_file_t pointer), else the callback's PPD. Status 0 on success.
pm::OSStatus GetPPDReference(QVSession* session, ppd_file_t** ppd);
void FreePPDReference(ppd_file_t* ppd);

bool SetupPPDUIOption(PPDUIOption* option, ppd_file_t* ppd, const char* keyword);
void ClearPPDUIOption(PPDUIOption* option);
PPDUIOption* CreatePPDUIOption(ppd_file_t* ppd, const char* keyword);
PPDUIOption* CreatePPDUIOptionWithCFKey(ppd_file_t* ppd, const cf::StringRef& keyword);
void DeletePPDUIOption(PPDUIOption* option);

cf::StringRef PPDUIOptionGetSelfKey(const PPDUIOption* option);
cf::StringRef PPDUIOptionGetSelfAlias(const PPDUIOption* option);
int16_t PPDUIOptionGetItemCount(const PPDUIOption* option);
int16_t PPDUIOptionGetDefaultIndex(const PPDUIOption* option);
cf::StringRef PPDUIOptionGetDefaultKey(const PPDUIOption* option);
cf::StringRef PPDUIOptionGetDefaultAlias(const PPDUIOption* option);
int PPDUIOptionKeyToIndex(const PPDUIOption* option, const cf::StringRef& key);
cf::StringRef PPDUIOptionKeyToAlias(const PPDUIOption* option, const cf::StringRef& key);
cf::StringRef PPDUIOptionAliasToKey(const PPDUIOption* option, const cf::StringRef& alias);
cf::StringRef PPDUIOptionIndexToKey(const PPDUIOption* option, int index);
cf::StringRef PPDUIOptionIndexToAlias(const PPDUIOption* option, int index);

bool SetupPPDPageSize(PPDUIOption* option, ppd_file_t* ppd);
bool PPDPaperSizeFindAdjustedPMRect(const PPDUIOption* option, const pm::PMRect& rect, pm::PMOrientation orientation,
                                    cf::StringRef* key);

}  // namespace R2740_SECURITY_NS

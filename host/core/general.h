// The dialog's general options: what the print system around the panels
// offers itself (copies, collation, pages, paper, orientation, two-sided,
// and the PPD options that no panel claims, the "Printer Features").
// They live in the print settings under the CUPS option names a job is sent
// with, so that the queue's defaults, the user's lpoptions, presets and the
// job all speak the same names.
#pragma once

#include <cups/ppd.h>

#include <string>
#include <utility>
#include <vector>

#include "host.h"
#include "printing/typed_options.h"

namespace host {

using OptionList = std::vector<std::pair<std::string, std::string>>;

inline constexpr const char* kCopiesOption = "copies";                         // "1".."9999"
inline constexpr const char* kCollateOption = "multiple-document-handling";    // the two values below
inline constexpr const char* kCollated = "separate-documents-collated-copies";
inline constexpr const char* kUncollated = "separate-documents-uncollated-copies";
inline constexpr const char* kPageRangesOption = "page-ranges";                // "1-3,5"
inline constexpr const char* kOrientationOption = "orientation-requested";     // "3".."6" (IPP)
inline constexpr const char* kPageSizeOption = "PageSize";
inline constexpr const char* kDuplexOption = "Duplex";

// The general options that are no PPD keyword, in the order a dialog shows them.
inline constexpr const char* kPlainGeneralOptions[] = {kCopiesOption, kCollateOption, kPageRangesOption,
                                                       kOrientationOption};
// The lp options (cupsd's job-template attributes and its filters' options,
// such as number-up, fit-to-page, job-hold-until) that the dialog does not
// show but carries from the user's defaults to the job, as lp does. Those
// libcups maps onto PPD options (media, sides, print-color-mode, ...) are
// not among them: the dialog's own choice of those options stands.
bool IsPassedOnOption(const std::string& name);
// `keyword` is the main keyword of an option of the PPD (not merely one
// ppdFindOption finds by another spelling).
bool IsMainKeyword(ppd_file_t* ppd, const std::string& keyword);
// PPD options the general part shows itself (never in "Printer Features").
bool IsGeneralPPDOption(const std::string& keyword);

// Sets one general option in the callback's print settings, after checking
// it; false with a one-line reason, and nothing changed, when the value is
// not acceptable:
//   copies                      1 to 9999
//   multiple-document-handling  kCollated / kUncollated (also true / false)
//   page-ranges                 ascending ranges "1-3,5,7-" of pages >= 1;
//                               empty means every page (the key is removed)
//   orientation-requested       3 portrait, 4 landscape, 5 reverse landscape,
//                               6 reverse portrait (or those names)
//   PageSize                    a PageSize choice of the PPD, or
//                               "Custom.WxH" (points; or with in, cm, mm)
//                               within the PPD's custom size range
//   a typed option              "None" or "Custom" only, and nothing is
//                               stored (pm::kTypedOptions; the reason
//                               names the panel field that takes a value)
//   any other name              a PPD main keyword and one of its choices
// A PPD option is marked in the PPD too. The paper becomes the page
// format's paper and the settings' destination paper name, and the panels
// hear of it (pm::kPMPaperDidChangeNotification); the orientation becomes
// the page format's.
[[nodiscard]] bool SetGeneralOption(HostCallback& callback, const std::string& name, const std::string& value, std::string* error);
// The option's value in the print settings; else, for a PPD option, its
// marked choice; else the general default ("1", kCollated, "", "3").
std::string GeneralOptionValue(HostCallback& callback, const std::string& name);

// The options of the "Printer Features" panel: every option of the PPD
// that no panel claims (`claimed`: their supportedPPDOptionKeys), the
// general part does not show and is no typed option (pm::kTypedOptions:
// the Security panel's fields), in PPD order.
std::vector<ppd_option_t*> FeatureOptions(ppd_file_t* ppd, const std::vector<std::string>& claimed);
// The PPD's conflicts among its marked choices (ppdConflicts), one line
// per constraint that holds: "Duplex DuplexTumble conflicts with MediaType
// Transparency". Empty when none.
std::vector<std::string> Conflicts(ppd_file_t* ppd);

// A text of the PPD (an option's or choice's) as UTF-8: libcups hands them
// out in UTF-8 whatever the PPD's LanguageEncoding; bytes that are no
// UTF-8 are read as ISO Latin 1.
std::string PPDText(ppd_file_t* ppd, const char* text);

// The general options as a summary block named "General" (what the
// dialog's Summary and the command line's summary show): Copies, Collated,
// Pages, Paper Size, Orientation, Two-Sided, then each "Printer Features"
// option of `features`, with the PPD's texts for choices. Its own words are
// in the first preferred language the host speaks (English, Japanese).
PanelSummary GeneralSummary(HostCallback& callback, const std::vector<ppd_option_t*>& features);
// One of the words GeneralSummary uses ("All", "Portrait", "On"...) in that
// language; the word itself when the host has no translation of it.
std::string GeneralWord(const char* english);

// The paper of a PageSize value ("Letter", "Custom.300x500mm"): its size in
// points, false when the PPD has no such paper or the custom size lies
// outside the PPD's range (then *error says so).
[[nodiscard]] bool PaperSize(ppd_file_t* ppd, const std::string& value, double* width, double* length, std::string* error);

}  // namespace host

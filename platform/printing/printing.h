// The printing objects a print dialog hands to its panels: print settings,
// session, printer, page format and paper. Handles are borrowed pointers, as
// the print system owns them; the host creates and frees the objects.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "cf/cf.h"

namespace pm {

using OSStatus = int32_t;
inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus paramErr = -50;
inline constexpr OSStatus memFullErr = -108;
inline constexpr OSStatus kPMInvalidParameter = -50;
inline constexpr OSStatus kPMKeyNotFound = -9589;
inline constexpr OSStatus kPMValueOutOfRange = -9590;
inline constexpr OSStatus kPMInvalidPrinter = -30882;
inline constexpr OSStatus kPMInvalidPaper = -30891;
inline constexpr OSStatus kPMObjectNotFound = -30892;
inline constexpr OSStatus kPMCreateMessageFailed = -30870;
inline constexpr OSStatus kPMPPDOptionNotFound = -30888;

// Page orientation as the platform numbers it.
using PMOrientation = uint16_t;
inline constexpr PMOrientation kPMPortrait = 1;
inline constexpr PMOrientation kPMLandscape = 2;
inline constexpr PMOrientation kPMReversePortrait = 3;
inline constexpr PMOrientation kPMReverseLandscape = 4;

// top, left, bottom, right in points.
struct PMRect {
  double top = 0, left = 0, bottom = 0, right = 0;
};

// Keys the print system itself keeps in print settings.
inline constexpr const char* kPMPageToPaperMappingTypeKey = "com.apple.print.PageToPaperMappingType";
inline constexpr const char* kPMOrientationKey = "com.apple.print.PageFormat.PMOrientation";
// Where the print settings carry the destination paper's name (the paper the
// page format would be created with from the settings' data).
inline constexpr const char* kPMDestinationPaperNameKey = "com.apple.print.PrintSettings.PMPaperName";
inline constexpr const char* kPMPaperDidChangeNotification = "PMPrintDestinationPaperDidChangeNotification";

class Paper {
 public:
  Paper(std::string id, std::string name, double widthPt, double heightPt)
      : id_(std::move(id)), name_(std::move(name)), width_(widthPt), height_(heightPt) {}
  const std::string& id() const { return id_; }
  const std::string& name() const { return name_; }
  double width() const { return width_; }
  double height() const { return height_; }

 private:
  std::string id_, name_;
  double width_, height_;
};
using PMPaper = Paper*;

class PrintSettings {
 public:
  struct Entry {
    cf::Ref value;
    bool locked = false;
  };
  // The settings as one dictionary (key -> value), sharing the values.
  cf::DictionaryRef asDictionary() const;
  // Replaces the whole content with the pairs of a dictionary (unlocked).
  void loadDictionary(const cf::DictionaryRef& dict);
  cf::Ref value(const std::string& key) const;
  void setValue(const std::string& key, cf::Ref value, bool locked);
  bool isLocked(const std::string& key) const;
  void remove(const std::string& key);
  const std::map<std::string, Entry, std::less<>>& entries() const { return entries_; }

 private:
  std::map<std::string, Entry, std::less<>> entries_;
};
using PMPrintSettings = PrintSettings*;

class Printer {
 public:
  Printer(std::string id, std::string deviceURI) : id_(std::move(id)), uri_(std::move(deviceURI)) {}
  const std::string& id() const { return id_; }
  const std::string& deviceURI() const { return uri_; }

 private:
  std::string id_, uri_;
};
using PMPrinter = Printer*;

class PageFormat {
 public:
  PageFormat() = default;
  PageFormat(std::shared_ptr<Paper> paper, PMOrientation o) : paper_(std::move(paper)), orientation_(o) {}
  Paper* paper() const { return paper_.get(); }
  void setPaper(std::shared_ptr<Paper> p) { paper_ = std::move(p); }
  PMOrientation orientation() const { return orientation_; }
  void setOrientation(PMOrientation o) { orientation_ = o; }

 private:
  std::shared_ptr<Paper> paper_;
  PMOrientation orientation_ = kPMPortrait;
};
using PMPageFormat = PageFormat*;

class PrintSession {
 public:
  Printer* currentPrinter() const { return printer_; }
  void setCurrentPrinter(Printer* p) { printer_ = p; }
  cf::Ref data(const std::string& key) const { return data_->getValue(key); }
  void setData(const std::string& key, cf::Ref v) { data_->setValue(key, std::move(v)); }

 private:
  Printer* printer_ = nullptr;
  cf::DictionaryRef data_ = cf::Dictionary::create();
};
using PMPrintSession = PrintSession*;

// ---- the platform calls, by their names --------------------------------
// Answers kPMKeyNotFound when the key is absent, paramErr for null handles.
OSStatus PMPrintSettingsGetValue(PMPrintSettings settings, const cf::StringRef& key, cf::Ref* value);
OSStatus PMPrintSettingsGetValue(PMPrintSettings settings, const std::string& key, cf::Ref* value);
// A null value removes the key.
[[nodiscard]] OSStatus PMPrintSettingsSetValue(PMPrintSettings settings, const cf::StringRef& key, cf::Ref value,
                                               bool locked);
[[nodiscard]] OSStatus PMPrintSettingsSetValue(PMPrintSettings settings, const std::string& key, cf::Ref value,
                                               bool locked);
// kPMInvalidPrinter when the session has no current printer.
OSStatus PMSessionGetCurrentPrinter(PMPrintSession session, PMPrinter* printer);
cf::StringRef PMPrinterGetID(PMPrinter printer);
OSStatus PMPrinterCopyDeviceURI(PMPrinter printer, cf::URLRef* uri);
OSStatus PMSessionGetDataFromSession(PMPrintSession session, const std::string& key, cf::Ref* data);
[[nodiscard]] OSStatus PMSessionSetDataInSession(PMPrintSession session, const std::string& key, cf::Ref data);
OSStatus PMGetPageFormatPaper(PMPageFormat format, PMPaper* paper);
OSStatus PMPaperGetName(PMPaper paper, cf::StringRef* name);
OSStatus PMPaperGetID(PMPaper paper, cf::StringRef* id);
OSStatus PMGetOrientation(PMPageFormat format, PMOrientation* orientation);
// The paper rectangle in points, unaffected by orientation: (0,0)-(h,w).
OSStatus PMGetUnadjustedPaperRect(PMPageFormat format, PMRect* rect);
// The destination paper named in the print settings (kPMDestinationPaperNameKey).
OSStatus PMPrintSettingsGetPaperName(PMPrintSettings settings, cf::StringRef* name);

}  // namespace pm

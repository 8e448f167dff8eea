// The callback object the panels are handed.
#include "host.h"

namespace host {

namespace {

// The PPD's default paper: the default PageSize choice and its size.
std::shared_ptr<pm::Paper> DefaultPaper(ppd_file_t* ppd) {
  if (!ppd) return nullptr;
  std::string name;
  if (ppd_option_t* o = ppdFindOption(ppd, "PageSize")) name = o->defchoice;
  ppd_size_t* size = name.empty() ? nullptr : ppdPageSize(ppd, name.c_str());
  if (!size) size = ppdPageSize(ppd, nullptr);
  if (!size) return nullptr;
  if (name.empty()) name = size->name;
  return std::make_shared<pm::Paper>(name, name, size->width, size->length);
}

}  // namespace

HostCallback::HostCallback(const Queue& queue, std::unique_ptr<PPDFile> ppd)
    : ppd_(std::move(ppd)), printer_(queue.id, queue.deviceURI) {
  session_.setCurrentPrinter(&printer_);
  ppd_file_t* file = ppdFile();
  if (file) session_.setData("kPMPPDReference", cf::Data::create(&file, sizeof(file)));
  if (auto paper = DefaultPaper(file)) {
    pageFormat_ = pm::PageFormat(paper, pm::kPMPortrait);
    settings_.setValue(pm::kPMDestinationPaperNameKey, cf::str(paper->name()), false);
  }
}

void HostCallback::setPrinter(const std::string& id, const std::string& deviceURI) {
  printer_ = pm::Printer(id, deviceURI);
  session_.setCurrentPrinter(&printer_);
}

}  // namespace host

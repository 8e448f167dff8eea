// Jobs on CUPS queues: documents in, a job id and the queue's state out.
#include "jobs.h"

#include <cups/cups.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <vector>

namespace host {

std::string CupsRequestError(const std::string& what) {
  if (cupsLastError() == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE) {
    std::string server = cupsServer();
    if (server.empty() || server[0] != '/') server += ":" + std::to_string(ippPort());
    return what + ": no CUPS server answers at " + server +
           "; start cupsd there, or set CUPS_SERVER to a server that runs";
  }
  const char* why = cupsLastErrorString();
  return what + ": " + (why && *why ? why : ippErrorString(cupsLastError()));
}

int PrintDocuments(const std::string& queue, const std::vector<std::string>& documents, const std::string& title,
                   const OptionList& options, std::string* error) {
  if (queue.empty()) {
    if (error) *error = "no CUPS queue to print to";
    return 0;
  }
  if (documents.empty()) {
    if (error) *error = "no document to print";
    return 0;
  }
  for (const auto& d : documents) {
    if (access(d.c_str(), R_OK) != 0) {
      if (error) *error = "cannot read the document " + d + ": " + std::strerror(errno);
      return 0;
    }
  }
  int num = 0;
  cups_option_t* opts = nullptr;
  for (const auto& [name, value] : options) num = cupsAddOption(name.c_str(), value.c_str(), num, &opts);
  std::vector<const char*> files;
  for (const auto& d : documents) files.push_back(d.c_str());
  int id = cupsPrintFiles2(CUPS_HTTP_DEFAULT, queue.c_str(), static_cast<int>(files.size()), files.data(), title.c_str(),
                           num, opts);
  cupsFreeOptions(num, opts);
  if (id <= 0) {
    if (error) {
      *error = CupsRequestError("the job was not accepted by queue " + queue);
    }
    return 0;
  }
  return id;
}

namespace {

// Whether a program (by name) is one CUPS' own conversion rules run
// (pdftops, gstoraster, ...): a format converter, not a printer's driver.
bool IsCupsConverter(const std::string& name) {
  static const std::set<std::string> converters = [] {
    std::set<std::string> names;
    const char* data = std::getenv("CUPS_DATADIR");
    const char* root = std::getenv("CUPS_SERVERROOT");
    std::error_code ec;
    for (const std::string& folder : {std::string(data && *data ? data : "/usr/share/cups") + "/mime",
                                     std::string(root && *root ? root : "/etc/cups")}) {
      for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.path().extension() != ".convs") continue;
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);) {
          std::istringstream words(line);
          std::string src, dst, cost, name;
          if (words >> src >> dst >> cost >> name && src[0] != '#') names.insert(name);
        }
      }
    }
    return names;
  }();
  return converters.count(name) > 0;
}

}  // namespace

bool QueueHasPrinterDriver(ppd_file_t* ppd) {
  if (!ppd) return false;
  // cupsd takes the *cupsFilter2 lines when there are any, else *cupsFilter.
  const char* keyword = ppdFindAttr(ppd, "cupsFilter2", nullptr) ? "cupsFilter2" : "cupsFilter";
  std::vector<std::string> programs;
  for (ppd_attr_t* a = ppdFindAttr(ppd, keyword, nullptr); a; a = ppdFindNextAttr(ppd, keyword, nullptr)) {
    std::istringstream words(a->value ? a->value : "");
    std::vector<std::string> fields{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
    programs.push_back(fields.empty() ? "-" : fields.back());
  }
  // Looked up after the loop: ppdFindAttr restarts ppdFindNextAttr's walk.
  ppd_attr_t* driver = ppdFindAttr(ppd, kDriverFilterKeyword, nullptr);
  auto name = [](const std::string& path) { return path.substr(path.rfind('/') + 1); };
  for (std::string program : programs) {
    if (name(program) == "r2740-filter") program = driver && driver->value && *driver->value ? driver->value : "-";
    if (program != "-" && !IsCupsConverter(name(program))) return true;
  }
  return false;
}

bool NoticeUnenforcedSecurity(const OptionList& options, ppd_file_t* ppd) {
  if (!ppd || QueueHasPrinterDriver(ppd)) return false;
  std::vector<std::string> asked;
  for (const auto& [name, value] : options) {
    if (name == kPrintModeOption && strcasecmp(value.c_str(), "SecurePrint") == 0) asked.push_back("Secure Print");
    if (name == kAuthenticationOption && strcasecmp(value.c_str(), "True") == 0) asked.push_back("User Authentication");
    if (name == kSectionManagementOption && strcasecmp(value.c_str(), "True") == 0)
      asked.push_back("Section Management");
  }
  if (asked.empty()) return false;
  std::string what;
  for (size_t i = 0; i < asked.size(); ++i)
    what += (i == 0 ? "" : i + 1 == asked.size() ? " and " : ", ") + asked[i];
  ui::Alert alert;
  alert.style = ui::AlertStyle::Informational;
  alert.messageText = what + (asked.size() == 1 ? " is" : " are") + " not carried out by this queue.";
  alert.informativeText =
      "The queue's PPD names no printer driver, so nothing turns these options into printer commands: "
      "the printer receives the job as an ordinary one and prints it at once. A queue made with the "
      "printer maker's driver carries them out.";
  alert.addButtonWithTitle("OK");
  (void)alert.runModal();  // one button: there is nothing to decide
  return true;
}

std::string QueueState(const std::string& queue) {
  cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.c_str(), nullptr);
  if (!dest) return "state unknown";
  auto option = [dest](const char* name) {
    const char* v = cupsGetOption(name, dest->num_options, dest->options);
    return std::string(v ? v : "");
  };
  std::string state = option("printer-state");
  std::string line = state == "3" ? "idle" : state == "4" ? "processing" : state == "5" ? "stopped" : "state unknown";
  std::string reasons = option("printer-state-reasons");
  if (!reasons.empty() && reasons != "none") line += " (" + reasons + ")";
  std::string accepting = option("printer-is-accepting-jobs");
  if (!accepting.empty()) line += accepting == "true" ? ", accepting jobs" : ", not accepting jobs";
  cupsFreeDests(1, dest);
  return line;
}

std::string SamplePDF(const std::string& line) { return SamplePDF(std::vector<std::string>{line}); }

std::string SamplePDF(const std::vector<std::string>& pages) {
  // Objects: 1 catalog, 2 page tree, 3 font, then each page and its contents.
  std::string kids;
  for (size_t i = 0; i < pages.size(); ++i) kids += (i ? " " : "") + std::to_string(4 + 2 * i) + " 0 R";
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
  };
  for (size_t i = 0; i < pages.size(); ++i) {
    // PDF string literal: backslash, parentheses escaped; keep it ASCII.
    std::string text;
    for (char c : pages[i]) {
      unsigned char u = static_cast<unsigned char>(c);
      if (c == '\\' || c == '(' || c == ')') text += '\\';
      text += (u >= 32 && u < 127) ? c : '?';
    }
    std::string stream = "BT /F1 18 Tf 72 720 Td (" + text + ") Tj ET\n";
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " + std::to_string(5 + 2 * i) +
                      " 0 R /Resources << /Font << /F1 3 0 R >> >> >>");
    objects.push_back("<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream + "endstream");
  }
  std::string out = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t off : offsets) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", off);
    out += entry;
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

std::string WriteTemporaryFile(const std::string& bytes, const std::string& suffix, std::string* error) {
  const char* dir = std::getenv("TMPDIR");
  std::string path = std::string(dir && *dir ? dir : "/tmp") + "/r2740-print-XXXXXX" + suffix;
  std::vector<char> buf(path.begin(), path.end());
  buf.push_back('\0');
  int fd = mkstemps(buf.data(), static_cast<int>(suffix.size()));
  if (fd < 0) {
    if (error) *error = "cannot create a temporary file: " + std::string(std::strerror(errno));
    return {};
  }
  path = buf.data();
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (error) *error = "cannot write " + path + ": " + std::strerror(errno);
      close(fd);
      unlink(path.c_str());
      return {};
    }
    done += static_cast<size_t>(n);
  }
  if (close(fd) != 0) {
    if (error) *error = "cannot write " + path + ": " + std::strerror(errno);
    unlink(path.c_str());
    return {};
  }
  return path;
}

}  // namespace host

// What the host's command-line faces (r2740-pde-cli, r2740-print-dialog)
// share: their common flags, exit statuses, and opening a queue with its
// PPD, plug-ins and starting settings.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host.h"

namespace host {

enum Exit {
  kOK = 0,
  kUsageErr = 2,
  kQueueErr = 3,
  kBundleErr = 4,
  kSettingsErr = 5,
  kSetErr = 6,
  kPanelErr = 7,
  kOutputErr = 8,
  kJobErr = 9,
};

// The held job a dialog is opened for (r2740-print-agent names it). The
// values come from cupsd, but whoever sent the job chose them: they are
// taken as plain text only (PlainText), numbers as digits only.
struct HeldJobInfo {
  std::string id, name, pages, application, host;
  long long sent = 0;  // time-at-creation, seconds since the epoch; 0 unknown
  bool empty() const { return id.empty(); }
};
// "--job" values, one KEY=VALUE each: id, name, pages, application, host, sent.
inline constexpr const char* kJobKeys[] = {"id", "name", "pages", "application", "host", "sent"};

struct FrontEndOptions {
  std::string queueName, ppdPath, queueId, deviceURI, bundles, settingsIn, settingsOut, action;
  bool haveDeviceURI = false;
  std::vector<std::pair<std::string, std::string>> sets;
  HeldJobInfo job;
};

// Text another user may have chosen, made fit to show as one line of plain
// text: invalid UTF-8 becomes U+FFFD, line breaks and tabs a space, other
// control and format characters (bidirectional overrides, zero-width
// marks) are dropped, and it is cut to `limit` characters ("..." marks the cut).
inline constexpr size_t kPlainTextLimit = 120;
std::string PlainText(const std::string& text, size_t limit = kPlainTextLimit);
// One line naming the job, in English: Job 12 "report.pdf", 3 pages, from
// LibreOffice on host.example, sent 2026-12-08 17:20 (local time). Parts
// the job does not have are left out.
std::string JobLine(const HeldJobInfo& job);

enum class Flag { Taken, NotShared, Error };
// Takes argv[*i] (and its value, advancing *i) when it is one of the shared
// flags --queue --ppd --queue-id --device-uri --bundles --settings-in
// --settings-out --action --set --job; Error with a one-line reason.
Flag TakeSharedFlag(int argc, char** argv, int* i, FrontEndOptions* o, std::string* error);
// The queue flags make sense together (either --queue or --ppd with
// --queue-id); `required`: one of them must be there.
[[nodiscard]] bool CheckQueueFlags(const FrontEndOptions& o, bool required, std::string* error);

// A queue opened for a dialog: PPD, plug-ins (those of --bundles, else the
// PPD's *APDialogExtension bundles), starting settings. A PPD fetched from
// cupsd is removed when this goes.
struct OpenedQueue {
  Queue queue;
  std::unique_ptr<PPDFile> ppd;
  std::vector<PlugInRef> plugins;
  cf::DictionaryRef startSettings;
  OpenedQueue() = default;
  OpenedQueue(const OpenedQueue&) = delete;
  OpenedQueue& operator=(const OpenedQueue&) = delete;
  ~OpenedQueue();
};
// kOK, or the exit status with a one-line reason.
[[nodiscard]] Exit OpenQueue(const FrontEndOptions& o, OpenedQueue* opened, std::string* error);

// Whole text into an output named on the command line, as a shell's ">"
// would put it, but never half written: "-" is standard output; symbolic
// links are followed to their target; a regular file (or none) is replaced
// by a temporary file beside it, synced and renamed over it, keeping the
// replaced file's mode (and owner, for root), a new file getting `mode`
// less the umask (a writable file in a folder the caller may not write is
// written in place); a device, FIFO or other special file is written into.
// False with a one-line reason (a directory, a link loop, a write error).
// Settings hold ciphertexts: kSecretFileMode for them.
inline constexpr unsigned kSecretFileMode = 0600;
[[nodiscard]] bool WriteFileAtomic(const std::string& path, const std::string& text, std::string* error,
                                   unsigned mode = 0666);

// An alert as one line for standard error: "alert: <message> | <informative>",
// the lines of each text joined by a space.
std::string AlertLine(const ui::Alert& alert);

}  // namespace host

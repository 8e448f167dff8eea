// The print agent's dealings with cupsd. An ask queue holds every job it
// takes; the agent of the job's owner opens the print dialog on the real
// queue the ask queue names, and then sets the dialog's options on the job,
// moves it to the real queue and releases it, or cancels it.
#pragma once

#include <cups/ppd.h>

#include <map>
#include <string>
#include <vector>

#include "general.h"

namespace agent {

// The ask queue's printer option naming its real queue. r2740-setup-queue
// sets it as "r2740-real-queue-default"; cupsd answers it in
// Get-Printer-Attributes (and copies it onto the queue's jobs).
inline constexpr const char* kRealQueueDefault = "r2740-real-queue-default";
inline constexpr const char* kAskSuffix = "-Ask";
// The CUPS policies r2740-setup-queue keeps in cupsd.conf and names in
// printer-op-policy come in pairs, one per policy they are built on
// (policies.h names them). The ask queue remembers the real queue's policy
// before ours in kRealPolicyBefore, for --remove.
inline constexpr const char* kRealPolicyBefore = "r2740-real-op-policy-default";
// Whether an ask queue's printer-op-policy is an ask policy of ours, under
// which cupsd takes a job's owner only from an authenticated user.
bool IsAskPolicy(const std::string& policy);
// What `lpstat -p` shows for an ask queue.
inline constexpr const char* kAskQueueMessage =
    "Jobs wait here until their user's R2740 print agent opens the print dialog";

// One cupsd request on libcups' connection, for the agent and
// r2740-setup-queue alike: the response, or null with cupsLastError set
// when cupsd answered with anything but success; the caller deletes it.
ipp_t* Ask(ipp_t* request, const char* resource);
// "what: cupsd's reason" for the last request.
std::string LastError(const char* what);
std::string PrinterURI(const std::string& queue);

struct HeldJob {
  int id = 0;
  std::string askQueue, realQueue, owner, name;
  bool held = false;             // job-state held (else pending on the stopped ask queue)
  host::OptionList attributes;   // the job's attributes, as libcups writes them out
};

// The jobs waiting on ask queues (held or pending) whose owner
// (job-originating-user-name) is `user`, oldest first. Jobs of other users
// are never returned, even where cupsd lists them. Nor are jobs on an ask
// queue whose printer-op-policy is no ask policy of ours (anyone may have sent
// them in the user's name): those queues go to *unprotected (ask queue ->
// its real queue) when given. False with a reason when cupsd cannot be asked.
[[nodiscard]] bool WaitingJobs(const std::string& user, std::vector<HeldJob>* jobs, std::string* error,
                               std::map<std::string, std::string>* unprotected = nullptr);
// The same job asked again, for after its lock was taken: false when it no
// longer waits on an ask queue (another agent handled it) or is not the user's.
[[nodiscard]] bool StillWaiting(const std::string& user, HeldJob* job);

// The dialog flags that start it from the job's own choices: copies,
// collation (multiple-document-handling or collate; the dialog's default
// when the job has neither), page ranges, orientation, the paper of
// "media" (a PPD PageSize, a PWG or legacy media name) and the Duplex of
// "sides", and the job's other options that are PPD options of the real
// queue with a choice the PPD has. The job's values win over the user's
// defaults.
std::vector<std::string> DialogArguments(const HeldJob& job, ppd_file_t* ppd);

// Print: sets `options` on the job (Set-Job-Attributes, as `lp -i ID -o ...`;
// the job's own copies, page-ranges, orientation and collation that the
// options no longer carry are set to what their absence means, media and
// sides to the options' PageSize and Duplex, so that the dialog's choice
// holds; the lp options the dialog does not show (host::IsPassedOnOption)
// that the job has keep the job's value, and job-sheets is never sent), moves it to the real queue (CUPS-Move-Job) and releases it when
// held. False with cupsd's reason at the first step refused.
[[nodiscard]] bool PrintJob(const std::string& user, const HeldJob& job, const host::OptionList& options,
                            std::string* error);
// What `lpstat -l -o` shows as a job's "Status:". cupsd lets the job's owner
// set it (Set-Job-Attributes), unlike job-state-message and
// job-state-reasons, and empties it once the job prints.
inline constexpr const char* kStateMessage = "job-printer-state-message";
// Says in kStateMessage why the job waits. False when cupsd refused.
bool SetWaitingReason(const std::string& user, const HeldJob& job, const std::string& text);

// Cancel-Job. False with cupsd's reason.
[[nodiscard]] bool CancelJob(const std::string& user, const HeldJob& job, std::string* error);

// IPP notifications (the "ippget" pull method): a subscription to the
// creation and state changes of jobs, renewed by the caller before its
// lease ends. The subscription id, or 0 when cupsd offers none (*error).
inline constexpr int kLeaseSeconds = 300;
int Subscribe(const std::string& user, std::string* error);
// Renew-Subscription; false when the subscription is gone (cupsd restarted
// without it).
[[nodiscard]] bool Renew(const std::string& user, int subscription);
// Get-Notifications from *sequence on: whether events came (the sequence
// then moves past them), none did, or the subscription is gone or cupsd
// does not answer.
enum class Notified { kEvents, kNone, kGone };
Notified Events(const std::string& user, int subscription, int* sequence);

// The agent's private folder, for its locks and temporary files:
// $XDG_RUNTIME_DIR/r2740-agent when XDG_RUNTIME_DIR is a folder of this user,
// mode 0700 and no link; else r2740-agent in $XDG_CACHE_HOME (or
// ~/.cache), a folder of this user that no other user may write. Never a
// name in a folder shared with other users. The folder is made 0700 when
// missing; a file, link or stale entry of this user at its name is
// replaced. Trusted because it is opened without following links and
// checked on its descriptor: this user's, 0700, inside a folder no other
// user may write, so nobody else can have made, replaced or linked it.
class PrivateFolder {
 public:
  PrivateFolder() = default;
  PrivateFolder(PrivateFolder&& other) noexcept;
  PrivateFolder& operator=(PrivateFolder&& other) noexcept;
  ~PrivateFolder();
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // False with every reason when no candidate folder is safe; *note says
  // why a folder was passed over for the one taken (empty when none was).
  [[nodiscard]] bool open(std::string* error, std::string* note);
  // A new folder of its own inside ("<prefix>XXXXXX", 0700); its path, or
  // empty with the reason.
  std::string makeTemporaryFolder(const std::string& prefix, std::string* error) const;
  // Removes a folder makeTemporaryFolder made, relative to this folder and
  // without following links.
  void removeTemporaryFolder(const std::string& path) const;
  // Removes the jobs' temporary folders an agent that ended without
  // cleaning up left behind: only folders of this user named as
  // makeTemporaryFolder names them whose job lock nobody holds. How many.
  int removeStaleJobFolders() const;

 private:
  int fd_ = -1;
  std::string path_;
};

// Per-user lock of one job, so that two agents of one user never open a
// dialog for the same job: "job-ID.lock" in the private folder, locked with
// flock while the dialog is open and removed when released. Opened relative
// to the folder without following links; a link, folder or other non-file
// at that name is replaced. False when another agent holds it or the file
// cannot be made (*error says which).
class JobLock {
 public:
  JobLock() = default;
  JobLock(const JobLock&) = delete;
  JobLock& operator=(const JobLock&) = delete;
  ~JobLock();
  [[nodiscard]] bool lock(const PrivateFolder& folder, int jobId, std::string* error);
  // The locked file, for a child that must hold the lock as long as it runs.
  int fd() const { return fd_; }

 private:
  int dir_ = -1, fd_ = -1;
  std::string name_;
};

}  // namespace agent

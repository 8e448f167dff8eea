// The profile service under faults: killed in the middle of a piecewise
// write, serving a folder it may not write, a disk that fills up, and a lock
// file it cannot open.
// A write that fails must say so and leave the old file whole.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <future>

#include "ProfileTestSupport.h"

using namespace proftest;

namespace {

const std::string kOld =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n"
    "<dict><key>PlistVersion</key><integer>1</integer></dict>\n</plist>\n";

// The XML of three full lists (1500 entries), as the plug-in sends it.
std::string FullXML() {
  Lists l;
  std::memset(l.l.get(), 0, 3 * sizeof(ProfileList));
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < kProfileSlotCount; ++i) {
      ProfileEntry& e = l.l[k].entry[i];
      e.IndexOnDevice = i + 1;
      e.InMenu = kProfileStateFoundShown;
      e.ProfileClass = 1;
      e.Location = kProfileLocationDisk;
      std::snprintf(e.FileName, sizeof e.FileName, "P%05d.ICC", i);
      std::snprintf(e.ProfileName, sizeof e.ProfileName, "Profile %d", i);
    }
    l.l[k].iNum = kProfileSlotCount;
  }
  return QVPListCreateXMLText(&l.rgb(), &l.sim(), &l.dst());
}

std::vector<std::string> Pieces(const std::string& text, size_t n) {
  std::vector<std::string> out;
  size_t step = (text.size() + n - 1) / n;
  for (size_t at = 0; at < text.size(); at += step) out.push_back(text.substr(at, step));
  return out;
}

// The plug-in's sequence: drop a left-over temporary file, send the pieces
// (stop at the first that is not acknowledged), rename. Empty when every
// step was acknowledged, else the step and its reply.
std::string WriteSequence(const ServiceRoot& svc, const std::string& path, const std::vector<std::string>& pieces) {
  std::string url = "file://" + path;
  std::string removed = svc.Reply({"qvPListRemove_XPC", path + ".dummy"});
  for (size_t i = 0; i < pieces.size(); ++i)
    if (auto r = svc.Reply({"writeDataToPlistFile_XPC", url, pieces[i]}); r != "TRUE")
      return "piece " + std::to_string(i) + ": " + r + " (remove: " + removed + ")";
  auto r = svc.Reply({"writeDataToPlistFileRename_XPC", url});
  return r == "TRUE" ? "" : "rename: " + r + " (remove: " + removed + ")";
}

// Dead with its files closed: the process is gone, or only its main thread
// is left, as a zombie nobody reaped. A main thread turns zombie before the
// other threads have closed the process's files, and until then its socket
// still takes connections that nobody will answer.
bool Gone(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  auto stat = sys::ReadFile(proc + "/stat");
  if (!stat) return true;
  size_t close = stat->rfind(')');
  if (close == std::string::npos || close + 2 >= stat->size() || (*stat)[close + 2] != 'Z') return false;
  std::error_code ec;
  auto threads = std::distance(std::filesystem::directory_iterator(proc + "/task", ec),
                               std::filesystem::directory_iterator());
  return ec || threads <= 1;
}

void KillAndWait(pid_t pid) {
  ASSERT_GT(pid, 0);  // kill(-1) would reach every process
  ::kill(pid, SIGKILL);
  for (int i = 0; i < 400 && !Gone(pid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// The file's bytes; a missing file is a failure to report, not to crash on.
std::string Text(const std::string& path) { return sys::ReadFile(path).value_or("<no file>"); }

bool Readable(const std::string& path) {
  Lists l;
  QV_PLIST_PROFILE_PATH = path.c_str();
  int r = QVPListReadProfile_All(&l.rgb(), &l.sim(), &l.dst());
  QV_PLIST_PROFILE_PATH = nullptr;
  return r == 0 && l.dst().iNum == kProfileSlotCount;
}

TEST(ServiceFaults, KilledMidSequenceLeavesTheFileWholeAndTheNextWriteSucceeds) {
  ServiceRoot svc;
  const std::string cur = svc.ProfilePath("root");
  const std::string full = FullXML();
  const auto pieces = Pieces(full, 8);
  ASSERT_EQ(8u, pieces.size());

  // Between pieces: the service dies after the third.
  ASSERT_EQ("TRUE", svc.Reply({"writeDictionaryToPlistFile_XPC", "file://" + cur, kOld}));
  for (int i = 0; i < 3; ++i) ASSERT_EQ("TRUE", svc.Reply({"writeDataToPlistFile_XPC", "file://" + cur, pieces[i]}));
  KillAndWait(svc.ServicePid());
  EXPECT_EQ(kOld, Text(cur));
  ASSERT_EQ("", WriteSequence(svc, cur, pieces));  // a new instance starts on demand
  EXPECT_EQ(full, Text(cur));
  EXPECT_TRUE(Readable(cur));
  EXPECT_FALSE(sys::FileExists(cur + ".dummy"));

  // During requests: a writer runs the sequence while the service is
  // killed at a growing delay. The file is the old or the new one, never
  // a mixture, and the next sequence always succeeds.
  for (int round = 0; round < 6; ++round) {
    ASSERT_EQ("TRUE", svc.Reply({"writeDictionaryToPlistFile_XPC", "file://" + cur, kOld}));
    pid_t pid = svc.ServicePid();
    ASSERT_GT(pid, 0);
    auto writer = std::async(std::launch::async, [&] { return WriteSequence(svc, cur, pieces); });
    std::this_thread::sleep_for(std::chrono::milliseconds(10 + 25 * round));
    KillAndWait(pid);
    bool reported = writer.get().empty();
    std::string now = Text(cur);
    EXPECT_TRUE(now == kOld || now == full) << "round " << round << ": " << now.size() << " bytes";
    if (reported) {
      EXPECT_EQ(full, now) << "round " << round;  // success is never claimed for the old file
    }
    ASSERT_EQ("", WriteSequence(svc, cur, pieces)) << "round " << round;
    now = Text(cur);
    EXPECT_TRUE(now == full) << "round " << round << ": " << now.size() << " bytes: " << now.substr(0, 60);
  }
  EXPECT_TRUE(Readable(cur));
}

// A service we start ourselves, as `uid`, with the file-size limit given
// (0: none), on its own socket in a folder everybody may use.
class OwnService {
 public:
  OwnService(const ServiceRoot& svc, uid_t uid, rlim_t fsize) {
    dir_ = svc.root() + "/run";
    std::filesystem::create_directories(dir_);
    ::chmod(dir_.c_str(), 0777);
    ::chmod(svc.root().c_str(), 0755);
    socket_ = dir_ + "/xpc.sock";
    ::setenv("R2740_XPC_SOCKET", socket_.c_str(), 1);
    pid_ = ::fork();
    if (pid_ == 0) {
      if (fsize) {
        rlimit lim{fsize, fsize};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
      }
      if (uid != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)) _exit(3);
      ::execl(svc.service().c_str(), "R2740XPCService", static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 200 && !std::filesystem::exists(socket_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ~OwnService() {
    ::kill(pid_, SIGTERM);
    int st;
    ::waitpid(pid_, &st, 0);
  }
  bool up() const { return std::filesystem::exists(socket_); }

 private:
  pid_t pid_ = -1;
  std::string dir_, socket_;
};

// Every way of writing fails, says so, and leaves the old file as it was.
void ExpectWritesFailAndKeepOld(const ServiceRoot& svc, const std::string& cur, const std::string& what) {
  const std::string full = FullXML();
  // One argument holds at most 128 KiB: the one-piece write gets 100 KB.
  std::string padded = kOld;
  padded.insert(padded.find("</dict>"), "<key>Pad</key><string>" + std::string(100000, 'x') + "</string>");
  EXPECT_EQ("FALSE", svc.Reply({"writeDictionaryToPlistFile_XPC", "file://" + cur, padded})) << what;
  EXPECT_NE("", WriteSequence(svc, cur, Pieces(full, 4))) << what;
  EXPECT_EQ(kOld, Text(cur)) << what;
  // Nothing half-written is left beside it.
  for (auto& e : std::filesystem::directory_iterator(std::filesystem::path(cur).parent_path()))
    EXPECT_EQ(std::filesystem::path(cur).filename(), e.path().filename()) << what;
}

TEST(ServiceFaults, FolderItMayNotWriteOrAFullDiskFailsAndKeepsTheOldFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the service as another user and to mount";
  {
    // Read-only for the service: it runs as nobody, the folder is root's.
    // The file itself is nobody's, so the probe still answers yes.
    ServiceRoot svc(true);
    const std::string cur = svc.ProfilePath("root");
    std::ofstream(cur) << kOld;
    ASSERT_EQ(0, ::chown(cur.c_str(), 65534, 65534));
    OwnService service(svc, 65534, 0);
    ASSERT_TRUE(service.up());
    EXPECT_EQ("TRUE", svc.Reply({"qvPListIsAdminProfile_XPC", cur}));
    ExpectWritesFailAndKeepOld(svc, cur, "read-only folder");
  }
  {
    // A full disk: a 64 KiB tmpfs over the profile folder; where mounting
    // is not allowed, a 64 KiB file-size limit on the service.
    ServiceRoot svc(true);
    const std::string cur = svc.ProfilePath("root");
    bool mounted = ::mount("tmpfs", svc.folder().c_str(), "tmpfs", 0, "size=64k") == 0;
    std::ofstream(cur) << kOld;
    ASSERT_GT(FullXML().size(), 64u * 1024);
    {
      OwnService service(svc, 0, mounted ? 0 : 64 * 1024);
      ASSERT_TRUE(service.up());
      ExpectWritesFailAndKeepOld(svc, cur, mounted ? "full tmpfs" : "file-size limit");
      // A write that fits still goes through.
      std::string small = kOld;
      small.replace(small.find("<integer>1<"), 11, "<integer>2<");
      EXPECT_EQ("TRUE", svc.Reply({"writeDictionaryToPlistFile_XPC", "file://" + cur, small}));
      EXPECT_EQ(small, Text(cur));
    }
    if (mounted) ::umount2(svc.folder().c_str(), MNT_DETACH);
  }
}

// A lock file that cannot be opened is reported as that, with the reason,
// not as another instance.
TEST(ServiceFaults, LockFileThatCannotBeOpenedSaysWhy) {
  ServiceRoot svc;
  std::filesystem::create_directories(svc.socket() + ".lock");  // a folder where the lock file goes
  auto r = sys::RunTask("/bin/sh", {"-c", "exec \"$0\" 2>&1", svc.service()});
  EXPECT_EQ(1, r.exitStatus);
  EXPECT_EQ("R2740XPCService: cannot open the lock file " + svc.socket() + ".lock: " + std::strerror(EISDIR) + "\n",
            r.output);
}

}  // namespace

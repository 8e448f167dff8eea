// Local users attacking the printing path through cupsd: a private cupsd
// with the default policy CUPS installs (DefaultAuthType None, so nothing
// but our own policies asks for authentication), a real queue R2740 and its
// ask queue made by r2740-setup-queue. Two accounts without privileges act:
// the victim and the attacker, who claims the victim's name (CUPS_USER)
// where that helps. Runs as root; skips otherwise.
#include <cups/cups.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>

#include <cstdlib>
#include <regex>
#include <sstream>

#include "policies.h"
#include "private_cupsd.h"

using namespace hosttest;

namespace {

// The job id in lp's "request id is QUEUE-ID"; 0 when there is none.
int JobId(const std::string& out, const std::string& queue) {
  size_t at = out.find("request id is " + queue + "-");
  return at == std::string::npos ? 0 : std::atoi(out.c_str() + at + 15 + queue.size());
}

constexpr const char* kVictim = "daemon";
constexpr const char* kAttacker = "bin";
// What the security panel puts in a job: names in hex, passwords encrypted.
const std::vector<std::pair<std::string, std::string>> kTicket = {
    {"jp.orvessa.printers.R2740.userName", "416c696365"},  {"jp.orvessa.printers.R2740.userKey", "9f3a11c2"},
    {"jp.orvessa.printers.R2740.sectionName", "53616c6573"}, {"jp.orvessa.printers.R2740.sectionKey", "77e0aa01"},
    {"jp.orvessa.printers.R2740.secureKey", "c0ffee12"},   {"jp.orvessa.printers.R2740.loginName", "Alice"},
    // What another dialog typed into the PPD's fields, in clear.
    {"R2740UserPassword", "Custom.pw1234"}};

class CupsPolicyAttack : public PrivateCupsd {
 protected:
  std::vector<std::pair<std::string, std::string>> Queues() const override {
    return {{"R2740", "State Stopped\nAccepting Yes"}};
  }
  std::string ExtraConf() const override {
    return "Listen 127.0.0.1:" + std::to_string(port_) + "\n" + MoreConf();
  }
  std::string Policies() const override { return StockDefaultPolicy(); }
  virtual std::string MoreConf() const { return ""; }
  virtual bool SetUpFirst() const { return true; }

  void SetUp() override {
    if (StockDefaultPolicy().empty()) GTEST_SKIP() << "no cupsd.conf.default of CUPS";
    // A free port for the TCP listener (closed again for cupsd to take).
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
    port_ = ntohs(a.sin_port);
    close(fd);
    PrivateCupsd::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    env_ = "env CUPS_SERVER='" + socket_ + "' ";
    original_ = ReadAll(dir_.file("etc/cupsd.conf"));
    doc_ = dir_.write("doc.txt", "Quarterly report\n");
    std::string out;
    if (SetUpFirst()) {
      ASSERT_EQ(Run(Setup("R2740"), &out), 0) << out;
    }
  }
  std::string Setup(const std::string& args) {
    return env_ + std::string(R2740_BINARY_DIR) + "/bin/r2740-setup-queue " + args;
  }
  static int Run(const std::string& command, std::string* output) { return RunShell(command, output); }
  // A command as `user`, claiming to be `claimed` (empty: themselves).
  std::string As(const std::string& user, const std::string& command, const std::string& claimed = "") {
    return AsUser(user) + env_ + (claimed.empty() ? "" : "CUPS_USER=" + claimed + " ") + command;
  }
  // lp as the victim; the job id.
  int Print(const std::string& queue, const std::string& options = "") {
    std::string out;
    EXPECT_EQ(Run(As(kVictim, "/usr/bin/lp -d " + queue + " " + options + " " + doc_), &out), 0) << out;
    return JobId(out, queue);
  }
  static std::string PrinterPolicy(const std::string& queue) {
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 ("ipp://localhost/printers/" + queue).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-op-policy");
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    ipp_attribute_t* a = response ? ippFindAttribute(response, "printer-op-policy", IPP_TAG_ZERO) : nullptr;
    std::string policy = a && ippGetString(a, 0, nullptr) ? ippGetString(a, 0, nullptr) : "";
    ippDelete(response);
    return policy;
  }
  // The ticket keys `user`, claiming `claimed`, reads in Get-Job-Attributes,
  // and cupsd's answer.
  std::string TicketSeenBy(const std::string& user, const std::string& claimed, int job) {
    int fds[2];
    if (pipe(fds) != 0) return "no pipe";
    passwd* pw = getpwnam(user.c_str());
    if (!pw) return "no user";
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      if (setgroups(0, nullptr) != 0 || setgid(pw->pw_gid) != 0 || setuid(pw->pw_uid) != 0) _exit(1);
      cupsSetServer(socket_.c_str());  // a connection of its own
      cupsSetUser(claimed.c_str());
      // Nobody types a password: a request that needs one fails.
      cupsSetPasswordCB2([](const char*, http_t*, const char*, const char*, void*) -> const char* { return nullptr; },
                         nullptr);
      auto attrs = JobAttributes(job);
      std::string seen = ippErrorString(cupsLastError());
      for (const auto& [key, value] : kTicket)
        if (attrs.count(key)) seen += " " + key.substr(key.rfind('.') + 1);
      (void)!write(fds[1], seen.data(), seen.size());
      _exit(0);
    }
    close(fds[1]);
    std::string seen;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) seen.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return seen;
  }

  // lp over the TCP listener, as a client on another machine would: a user
  // name no account has, and nobody to type a password.
  int PrintOverTcp(const std::string& queue, std::string* out) {
    return Run(As(kAttacker, "/usr/bin/lp -h 127.0.0.1:" + std::to_string(port_) + " -U remote-client -d " + queue +
                                 " " + doc_),
               out);
  }
  // cupsd again on another cupsd.conf, as an administrator's edit and restart.
  void RestartWith(const std::string& conf) {
    Stop();
    dir_.write("etc/cupsd.conf", conf);
    Start();
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  int port_ = 0;
  std::string env_, original_, doc_;
};

TEST_F(CupsPolicyAttack, SetupTwiceChangesNothingAndRemoveRestoresTheBytes) {
  const std::string conf = dir_.file("etc/cupsd.conf");
  std::string once = ReadAll(conf), out;
  ASSERT_EQ(once.substr(0, original_.size()), original_);  // every line of the administrator's kept
  EXPECT_NE(once.find("<Policy r2740>"), std::string::npos);
  EXPECT_NE(once.find("<Policy r2740-ask>"), std::string::npos);
  EXPECT_EQ(PrinterPolicy("R2740"), "r2740");
  EXPECT_EQ(PrinterPolicy("R2740-Ask"), "r2740-ask");
  ASSERT_EQ(Run(Setup("R2740"), &out), 0) << out;
  EXPECT_EQ(ReadAll(conf), once);
  EXPECT_EQ(PrinterPolicy("R2740"), "r2740");

  ASSERT_EQ(Run(Setup("--remove R2740"), &out), 0) << out;
  EXPECT_EQ(ReadAll(conf), original_);
  EXPECT_EQ(PrinterPolicy("R2740"), "default");
  EXPECT_NE(Run(env_ + "/usr/bin/lpstat -p R2740-Ask", &out), 0) << out;
}

TEST_F(CupsPolicyAttack, SpoofedJobOnTheAskQueueIsRefusedAtSubmission) {
  std::string out;
  EXPECT_NE(Run(As(kAttacker, "/usr/bin/lp -d R2740-Ask -n 250 " + doc_, kVictim), &out), 0) << out;
  EXPECT_NE(Run(As(kAttacker, "/usr/bin/lp -U " + std::string(kVictim) + " -d R2740-Ask " + doc_), &out), 0) << out;
  ASSERT_EQ(Run(env_ + "/usr/bin/lpstat -o R2740-Ask", &out), 0) << out;
  EXPECT_EQ(out, "");
  // The victim's own lp still works, without a password.
  int job = Print("R2740-Ask");
  ASSERT_GT(job, 0);
  EXPECT_EQ(JobAttributes(job)["job-originating-user-name"], kVictim);
}

TEST_F(CupsPolicyAttack, AnotherUserNeitherMovesNorReleasesNorCancelsAJob) {
  int waiting = Print("R2740-Ask"), printing = Print("R2740");
  ASSERT_GT(waiting, 0);
  ASSERT_GT(printing, 0);
  const std::string w = std::to_string(waiting), p = std::to_string(printing);
  std::string out;
  for (const std::string& claimed : {std::string(kVictim), std::string()}) {
    EXPECT_NE(Run(As(kAttacker, "/usr/bin/lpmove " + w + " R2740", claimed), &out), 0) << out;
    EXPECT_NE(Run(As(kAttacker, "/usr/bin/lp -i " + w + " -H resume", claimed), &out), 0) << out;
    EXPECT_NE(Run(As(kAttacker, "/usr/bin/cancel " + w, claimed), &out), 0) << out;
    EXPECT_NE(Run(As(kAttacker, "/usr/bin/cancel " + p, claimed), &out), 0) << out;
  }
  auto job = JobAttributes(waiting);
  EXPECT_EQ(job["job-state"], "pending-held");
  EXPECT_NE(job["job-printer-uri"].find("/R2740-Ask"), std::string::npos);
  EXPECT_EQ(JobAttributes(printing)["job-state"], "pending");
  // The owner may.
  EXPECT_EQ(Run(As(kVictim, "/usr/bin/lp -i " + w + " -H resume"), &out), 0) << out;
  EXPECT_EQ(Run(As(kVictim, "/usr/bin/cancel " + p), &out), 0) << out;
}

TEST_F(CupsPolicyAttack, TicketKeysAreReadOnlyByTheOwner) {
  std::string options;
  for (const auto& [key, value] : kTicket) options += " -o " + key + "=" + value;
  for (const char* queue : {"R2740", "R2740-Ask"}) {
    int job = Print(queue, options);
    ASSERT_GT(job, 0);
    EXPECT_EQ(TicketSeenBy(kVictim, kVictim, job),
              "successful-ok userName userKey sectionName sectionKey secureKey loginName R2740UserPassword")
        << queue;
    EXPECT_EQ(TicketSeenBy(kAttacker, kAttacker, job), "successful-ok") << queue;
    // Claiming the owner's name, or root's, takes a password nobody has.
    EXPECT_EQ(TicketSeenBy(kAttacker, kVictim, job), "cups-authentication-canceled") << queue;
    EXPECT_EQ(TicketSeenBy(kAttacker, "root", job), "cups-authentication-canceled") << queue;
  }
}

TEST_F(CupsPolicyAttack, TcpClientWithoutCredentialsStillPrintsOnTheRealQueue) {
  std::string out;
  // A user name no account has: nothing could authenticate it.
  ASSERT_EQ(PrintOverTcp("R2740", &out), 0) << out;
  ASSERT_GT(JobId(out, "R2740"), 0) << out;
  auto job = JobAttributes(JobId(out, "R2740"));
  EXPECT_EQ(job["job-originating-user-name"], "remote-client");
  EXPECT_EQ(job["job-state"], "pending");
}

// What an administrator does between two runs: cupsctl rewrites
// cupsd.conf without comments; someone edits our block by hand.
TEST_F(CupsPolicyAttack, CupsctlRewritesAndHandEditsAreFoundByName) {
  const std::string conf = dir_.file("etc/cupsd.conf"), cupsctl = "CUPS_SERVERROOT='" + dir_.file("etc") + "' ";
  std::string out;
  ASSERT_EQ(Run(env_ + cupsctl + "/usr/sbin/cupsctl MaxJobs=77", &out), 0) << out;
  std::string rewritten = ReadAll(conf);
  ASSERT_NE(rewritten.find("MaxJobs 77"), std::string::npos) << rewritten;
  ASSERT_EQ(rewritten.find("# r2740-setup-queue"), std::string::npos) << "cupsctl keeps comments now";
  EXPECT_EQ(Run(Setup("--check R2740"), &out), 0) << out;
  EXPECT_NE(out.find("all in place"), std::string::npos) << out;

  ASSERT_EQ(Run(Setup("R2740"), &out), 0) << out;
  std::string again = ReadAll(conf);
  EXPECT_EQ(Count(again, "<Policy r2740>"), 1u) << again;
  EXPECT_EQ(Count(again, "<Policy r2740-ask>"), 1u) << again;
  EXPECT_NE(again.find("MaxJobs 77"), std::string::npos);

  // A hand edit: --check and a plain run say so; --force replaces it.
  std::string edited = again;
  size_t at = edited.find("Require valid-user", edited.find("<Policy r2740>"));
  ASSERT_NE(at, std::string::npos);
  edited.replace(at, 18, "Require user @SYSTEM");
  RestartWith(edited);
  EXPECT_EQ(Run(Setup("--check R2740"), &out), 1) << out;
  EXPECT_NE(out.find("policy r2740: in cupsd.conf, changed by hand"), std::string::npos) << out;
  EXPECT_NE(out.find("run: r2740-setup-queue --force R2740"), std::string::npos) << out;
  EXPECT_EQ(Run(Setup("R2740"), &out), 1) << out;
  EXPECT_NE(out.find("--force R2740"), std::string::npos) << out;
  EXPECT_EQ(ReadAll(conf), edited);
  ASSERT_EQ(Run(Setup("--force R2740"), &out), 0) << out;
  EXPECT_EQ(Run(Setup("--check R2740"), &out), 0) << out;

  ASSERT_EQ(Run(Setup("--remove R2740"), &out), 0) << out;
  std::string removed = ReadAll(conf);
  EXPECT_EQ(removed.find("<Policy r2740"), std::string::npos) << removed;
  EXPECT_EQ(removed.find("r2740-sha256-"), std::string::npos) << removed;
  EXPECT_NE(removed.find("MaxJobs 77"), std::string::npos);
  EXPECT_EQ(PrinterPolicy("R2740"), "default");
}

// An earlier version wrote its blocks without fingerprints between
// comment markers; cupsctl took the markers, and the next run added a
// second copy of both.
TEST_F(CupsPolicyAttack, AnEarlierVersionsBlocksAndTheirCopiesBecomeOneEach) {
  const std::string conf = dir_.file("etc/cupsd.conf");
  std::string now = ReadAll(conf), blocks = now.substr(now.find("<Policy r2740>")), out;
  blocks = std::regex_replace(blocks, std::regex(" r2740-sha256-[0-9a-f]+"), "");
  std::string earlier = original_ + blocks + "# r2740-setup-queue: policies of the R2740 queues, up to the line " +
                        "\"# r2740-setup-queue end\"; r2740-setup-queue --remove QUEUE takes them away\n" + blocks +
                        "# r2740-setup-queue end\n";
  RestartWith(earlier);
  EXPECT_EQ(Run(Setup("--check R2740"), &out), 1) << out;
  EXPECT_NE(out.find("2 times, written by an earlier version"), std::string::npos) << out;
  ASSERT_EQ(Run(Setup("R2740"), &out), 0) << out;
  std::string mended = ReadAll(conf);
  EXPECT_EQ(Count(mended, "<Policy r2740>"), 1u) << mended;
  EXPECT_EQ(Count(mended, "<Policy r2740-ask>"), 1u) << mended;
  EXPECT_EQ(mended.find("r2740-setup-queue end"), std::string::npos) << mended;
  EXPECT_EQ(Run(Setup("--check R2740"), &out), 0) << out;
}

TEST_F(CupsPolicyAttack, CheckNamesWhatAQueueNeverSetUpLacks) {
  std::string out;
  ASSERT_EQ(Run(Setup("--remove R2740"), &out), 0) << out;
  EXPECT_EQ(Run(Setup("--check R2740"), &out), 1) << out;
  EXPECT_NE(out.find("R2740: has the policy default, not r2740"), std::string::npos) << out;
  EXPECT_NE(out.find("R2740-Ask: no such queue"), std::string::npos) << out;
  EXPECT_NE(out.find("policy r2740: not in cupsd.conf"), std::string::npos) << out;
  EXPECT_NE(out.find("run: r2740-setup-queue R2740\n"), std::string::npos) << out;
  EXPECT_EQ(ReadAll(dir_.file("etc/cupsd.conf")), original_);
  EXPECT_EQ(Run(Setup("--check NoSuchQueue"), &out), 3) << out;
}

// A queue the administrator made stricter than the server's default.
class AuthenticatedQueue : public CupsPolicyAttack {
 protected:
  std::vector<std::pair<std::string, std::string>> Queues() const override {
    return {{"R2740", "State Stopped\nAccepting Yes\nOpPolicy authenticated"}};
  }
  std::string Policies() const override {
    std::string conf = ReadAll("/usr/share/cups/cupsd.conf.default");
    size_t at = conf.find("<Policy default>");
    return at == std::string::npos ? "" : conf.substr(at);
  }
  // As Debian's cupsd.conf says: a password, where one is asked for.
  std::string MoreConf() const override { return "DefaultAuthType Basic\n"; }
  bool SetUpFirst() const override { return false; }
};

TEST_F(AuthenticatedQueue, StaysAsStrictAndGetsItsPolicyBack) {
  std::string out;
  ASSERT_EQ(PrinterPolicy("R2740"), "authenticated");
  ASSERT_NE(PrintOverTcp("R2740", &out), 0) << out;
  ASSERT_EQ(Run(Setup("R2740"), &out), 0) << out;
  EXPECT_EQ(PrinterPolicy("R2740"), "r2740-authenticated");
  EXPECT_EQ(PrinterPolicy("R2740-Ask"), "r2740-authenticated-ask");
  EXPECT_NE(PrintOverTcp("R2740", &out), 0) << out;
  EXPECT_NE(PrintOverTcp("R2740-Ask", &out), 0) << out;
  EXPECT_GT(Print("R2740"), 0);  // a local user, through the socket's peer credentials
  EXPECT_GT(Print("R2740-Ask"), 0);
  EXPECT_EQ(Run(Setup("--check R2740"), &out), 0) << out;
  EXPECT_NE(out.find("built on authenticated"), std::string::npos) << out;

  ASSERT_EQ(Run(Setup("--remove R2740"), &out), 0) << out;
  EXPECT_EQ(PrinterPolicy("R2740"), "authenticated");
  EXPECT_EQ(ReadAll(dir_.file("etc/cupsd.conf")), original_);
}

// A cupsd.conf with no <Policy> at all: cupsd runs it with its own default.
class NoPolicyConf : public CupsPolicyAttack {
 protected:
  std::string Policies() const override { return ""; }
  std::string MoreConf() const override { return "LogLevel info\n"; }
  bool SetUpFirst() const override { return false; }
};

TEST_F(NoPolicyConf, BuildsOnCupsdsOwnDefault) {
  // The default ours is built on is the one cupsd made, as its log says.
  std::string log = ReadAll(dir_.file("log/error_log")), logged;
  size_t at = log.find("Creating CUPS default administrative policy:");
  ASSERT_NE(at, std::string::npos) << log;
  for (size_t line = log.find('\n', at) + 1; line < log.size();) {
    size_t end = log.find('\n', line), text = log.find("] ", line);
    logged += log.substr(text + 2, end - text - 2) + "\n";
    if (log.compare(text + 2, 9, "</Policy>") == 0) break;
    line = end + 1;
  }
  std::string expected;
  {
    std::istringstream in(agent::policy::kBuiltInDefault);
    for (std::string l; std::getline(in, l);) expected += l.substr(l.find_first_not_of(' ')) + "\n";
  }
  EXPECT_EQ(logged, expected);

  std::string out;
  ASSERT_EQ(Run(Setup("R2740"), &out), 0) << out;
  EXPECT_NE(Run(As(kAttacker, "/usr/bin/lp -U " + std::string(kVictim) + " -d R2740-Ask " + doc_), &out), 0) << out;
  EXPECT_GT(Print("R2740-Ask"), 0);
  ASSERT_EQ(Run(Setup("--remove R2740"), &out), 0) << out;
  EXPECT_EQ(ReadAll(dir_.file("etc/cupsd.conf")), original_);
}

}  // namespace

// The command line, run as a program: exit codes, one-line errors, outputs.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "cf/plist.h"
#include "host_test_util.h"

using namespace hosttest;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

struct Result {
  int code = -1;
  std::string out, err;
  // The last line of stderr, and how many lines it has.
  std::string lastErrLine() const {
    std::string e = err;
    if (!e.empty() && e.back() == '\n') e.pop_back();
    return e.substr(e.rfind('\n') == std::string::npos ? 0 : e.rfind('\n') + 1);
  }
  size_t errLines() const { return static_cast<size_t>(std::count(err.begin(), err.end(), '\n')); }
};

Result RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  TempDir tmp;
  std::string outPath = tmp.file("out"), errPath = tmp.file("err");
  pid_t pid = fork();
  if (pid == 0) {
    int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(o, 1);
    dup2(e, 2);
    for (const auto& kv : env) putenv(const_cast<char*>(kv.c_str()));
    std::vector<char*> argv{const_cast<char*>(R2740_CLI)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(R2740_CLI, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Result r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = ReadAll(outPath);
  r.err = ReadAll(errPath);
  return r;
}

// The peer tool's reading of a property list: plistutil's own XML after a
// round trip through its binary form; empty when it cannot read the text.
// Anything before the list, or after it, does not come back.
std::string PlistutilRoundTrip(const std::string& text, const TempDir& dir) {
  std::string in = dir.write("roundtrip.plist", text), bin = dir.file("roundtrip.bin"), back = dir.file("back.plist");
  std::filesystem::remove(bin);
  std::filesystem::remove(back);
  std::string command = "plistutil -i '" + in + "' -f bin -o '" + bin + "' >/dev/null 2>&1 && plistutil -i '" + bin +
                        "' -f xml -o '" + back + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return "<plistutil failed>";
  return ReadAll(back);
}

std::vector<std::string> Manual(std::vector<std::string> more) {
  std::vector<std::string> a{"--ppd", ColorPPD(), "--queue-id", "R2740_Queue_1", "--device-uri",
                             "lpd://127.0.0.1/queue", "--bundles", R2740_TEST_BUNDLE_DIR};
  a.insert(a.end(), more.begin(), more.end());
  return a;
}

}  // namespace

TEST(Cli, SavesAndWritesSummaryAndSettings) {
  TempDir dir;
  // Only build A: both builds store the same keys.
  std::filesystem::create_directory(dir.file("onlyA"));
  std::filesystem::create_directory_symlink(TestBundle("A"), dir.file("onlyA/TestPanelA.plugin"));
  auto onlyA = [&](std::vector<std::string> more) {
    auto a = Manual(more);
    a[7] = dir.file("onlyA");
    return a;
  };
  auto r = RunCli(onlyA({"--set", "QVEdgeType=Off", "--set", "QVGlossyMode=True", "--set",
                       "jp.orvessa.printers.R2740.testName=Alice", "--settings-out", dir.file("s.plist"),
                       "--summary-out", dir.file("summary.txt")}));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "");  // reports are no data
  EXPECT_EQ(r.err, "r2740-pde-cli: summaries written to " + dir.file("summary.txt") +
                       "\nr2740-pde-cli: settings written to " + dir.file("s.plist") + "\n");

  std::string error;
  auto settings = cf::As<cf::Dictionary>(cf::PropertyListCreateFromFile(dir.file("s.plist"), &error));
  ASSERT_TRUE(settings) << error;
  EXPECT_EQ(cf::As<cf::String>(settings->getValue("QVEdgeType"))->utf8(), "Off");
  EXPECT_EQ(cf::As<cf::String>(settings->getValue("QVGlossyMode"))->utf8(), "True");

  std::string summary = ReadAll(dir.file("summary.txt"));
  EXPECT_THAT(summary, HasSubstr("Test Panel A\n    Edge Type: Off\n    Glossy: On\n"));
  EXPECT_THAT(summary, HasSubstr("Job options\n"));
  EXPECT_THAT(summary, HasSubstr("    jp.orvessa.printers.R2740.testName=Alice\n"));

  // Saved settings are the next run's starting point; without out files
  // everything goes to standard output.
  auto again = RunCli(onlyA({"--settings-in", dir.file("s.plist")}));
  ASSERT_EQ(again.code, 0) << again.err;
  EXPECT_THAT(again.out, HasSubstr("    Edge Type: Off\n"));
  EXPECT_THAT(again.out, HasSubstr("<key>QVGlossyMode</key>\n\t<string>True</string>"));
}

TEST(Cli, FailuresExitWithOneLineReasons) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string reason;
  };
  std::string notDict = dir.write("array.plist", "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>");
  std::string garbagePPD = dir.write("bad.ppd", "garbage\n");
  std::vector<Case> cases = {
      {{}, 2, "give --queue NAME or --ppd FILE"},
      {{"--bogus"}, 2, "unknown argument"},
      {Manual({"--action", "fly"}), 2, "--action is save or print"},
      {Manual({"--set", "novalue"}), 2, "--set wants KEY=VALUE"},
      {Manual({"--job", "colour=red"}), 2, "--job knows id, name"},
      {Manual({"--job", "pages=3;x"}), 2, "--job pages= wants a number"},
      {{"--ppd", dir.file("none.ppd"), "--queue-id", "Q"}, 3, "PPD not found"},
      {{"--ppd", garbagePPD, "--queue-id", "Q"}, 3, "failed to open"},
      {Manual({"--bundles", dir.file("no-such-folder")}), 4, "bundle failed to load"},
      {Manual({"--settings-in", notDict}), 5, "not a dictionary"},
      {Manual({"--set", "NoSuchKey=1"}), 6, "unknown key: NoSuchKey"},
      {Manual({"--set", "QVEdgeType=Strong"}), 6, "is disabled"},
      {Manual({"--set", "QVGlossyMode=maybe"}), 6, "True or False"},
      {Manual({"--settings-out", dir.file("no/such/dir/s.plist")}), 8, "cannot write"},
  };
  for (const auto& c : cases) {
    auto r = RunCli(c.args);
    std::string what = ::testing::PrintToString(c.args);
    EXPECT_EQ(r.code, c.code) << what << "\n" << r.err;
    EXPECT_EQ(r.errLines(), 1u) << what << "\n" << r.err;
    EXPECT_THAT(r.err, StartsWith("r2740-pde-cli: ")) << what;
    EXPECT_THAT(r.err, HasSubstr(c.reason)) << what;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("no/such/dir")));
}

TEST(Cli, DefaultBundlesComeFromThePPDUnderTheInstallRoot) {
  TempDir root;
  auto r = RunCli({"--ppd", ColorPPD(), "--queue-id", "Q"}, {"R2740_ROOT=" + root.path()});
  EXPECT_EQ(r.code, 4);
  EXPECT_EQ(r.errLines(), 1u) << r.err;
  EXPECT_THAT(r.err, HasSubstr(root.path() + "/"));
  EXPECT_THAT(r.err, HasSubstr("/PDEs/ColorOptionsPDE_R2740.plugin"));
  EXPECT_THAT(r.err, HasSubstr("bundle not found"));
}

TEST(Cli, PanelRefusingToPrintAnswersItsAlert) {
  auto r = RunCli(Manual({"--set", "jp.orvessa.printers.R2740.testName=refuse", "--action", "print"}));
  EXPECT_EQ(r.code, 7);
  EXPECT_THAT(r.err, HasSubstr("alert: Test panel A cannot print | the name says refuse\n"));
  EXPECT_EQ(r.lastErrLine(), "r2740-pde-cli: panel \"Test Panel A\" refused to print");
  // Saving alone is fine.
  EXPECT_EQ(RunCli(Manual({"--set", "jp.orvessa.printers.R2740.testName=refuse"})).code, 0);
}

TEST(Cli, CupsQueueWithoutServer) {
  TempDir dir;
  auto r = RunCli({"--queue", "R2740"}, {"CUPS_SERVER=" + dir.file("cupsd.sock")});
  EXPECT_EQ(r.code, 3);
  EXPECT_EQ(r.errLines(), 1u) << r.err;
  EXPECT_THAT(r.err, HasSubstr("no CUPS server answers"));
}

// Outputs go where a shell's ">" would put them.
TEST(Cli, OutputsFollowLinksFeedDevicesAndFIFOsAndDashIsStandardOutput) {
  TempDir dir;
  namespace fs = std::filesystem;
  auto mode = [](const std::string& p) { return fs::status(p).permissions() & fs::perms::all; };
  const auto kOwnerRW = fs::perms::owner_read | fs::perms::owner_write;

  // New files: the settings hold ciphertexts and are the owner's alone.
  auto r = RunCli(Manual({"--settings-out", dir.file("new.plist"), "--summary-out", dir.file("new.txt")}));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(mode(dir.file("new.plist")), kOwnerRW);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(mode(dir.file("new.txt")), static_cast<fs::perms>(0666 & ~mask));  // as for any new file

  // A link is followed: the link stays, its target (a relative one, then a
  // missing one) takes the text, an existing target keeps its mode.
  std::string target = dir.write("target.plist", "old");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("target.plist", dir.file("link.plist"));
  fs::create_symlink(dir.file("later.txt"), dir.file("dangling.txt"));
  r = RunCli(Manual({"--settings-out", dir.file("link.plist"), "--summary-out", dir.file("dangling.txt")}));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(dir.file("link.plist")));
  EXPECT_THAT(ReadAll(target), StartsWith("<?xml"));
  EXPECT_EQ(mode(target), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_TRUE(fs::is_symlink(dir.file("dangling.txt")));
  EXPECT_THAT(ReadAll(dir.file("later.txt")), HasSubstr("Job options\n"));
  std::set<std::string> names;  // and no temporary file left behind
  for (const auto& e : fs::directory_iterator(dir.path())) names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"dangling.txt", "later.txt", "link.plist", "new.plist", "new.txt",
                                          "target.plist"}));

  // A device is written into, never replaced.
  r = RunCli(Manual({"--settings-out", "/dev/null", "--summary-out", "/dev/null"}));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  // A FIFO: its reader gets the whole text.
  std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int reader = open(fifo.c_str(), O_RDWR | O_NONBLOCK);  // keeps the FIFO open, so the writer never waits
  ASSERT_GE(reader, 0);
  r = RunCli(Manual({"--summary-out", fifo, "--settings-out", dir.file("s.plist")}));
  EXPECT_EQ(r.code, 0) << r.err;
  char buf[65536];
  ssize_t n = read(reader, buf, sizeof buf);
  close(reader);
  ASSERT_GT(n, 0);
  EXPECT_THAT(std::string(buf, static_cast<size_t>(n)), HasSubstr("Job options\n"));
  EXPECT_TRUE(fs::is_fifo(fifo));

  // "-" is standard output, not a file named "-"; a folder is refused.
  ASSERT_FALSE(fs::exists("-"));
  r = RunCli(Manual({"--summary-out", "-", "--settings-out", dir.file("s.plist")}));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_THAT(r.out, StartsWith("Test Panel A\n"));
  EXPECT_FALSE(fs::exists("-"));
  r = RunCli(Manual({"--settings-out", dir.path()}));
  EXPECT_EQ(r.code, 8);
  EXPECT_THAT(r.err, HasSubstr("is a directory"));
}

// "-" gives its data and nothing else, whatever goes to a file beside it.
TEST(Cli, DashCarriesOnlyItsData) {
  TempDir dir;
  auto r = RunCli(Manual({"--settings-out", "-", "--summary-out", dir.file("summary.txt")}));
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_THAT(r.out, StartsWith("<?xml"));
  EXPECT_EQ(PlistutilRoundTrip(r.out, dir), r.out);
  EXPECT_THAT(r.err, HasSubstr("summaries written to " + dir.file("summary.txt")));

  r = RunCli(Manual({"--summary-out", "-", "--settings-out", dir.file("s.plist")}));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, ReadAll(dir.file("summary.txt")));
  EXPECT_THAT(r.err, HasSubstr("settings written to " + dir.file("s.plist")));
}

// Secure print through the command line: a missing password sends nothing.
TEST(Cli, SecurePrintWithoutItsPasswordRefusesToPrint) {
  TempDir dir;
  std::vector<std::string> args{"--ppd", ColorPPD(), "--queue-id", "Q", "--bundles", dir.path(),
                                "--set", "PrintModeR2740=SecurePrint", "--set",
                                "jp.orvessa.printers.R2740.secureKey=abc", "--settings-out", dir.file("s.plist")};
  std::filesystem::create_directory_symlink(std::string(R2740_BUNDLE_DIR) + "/SecurityPanelPDE.plugin",
                                            dir.file("SecurityPanelPDE.plugin"));
  args.push_back("--action");
  args.push_back("print");
  auto r = RunCli(args, {"R2740_LANG=en"});
  EXPECT_EQ(r.code, 7);
  EXPECT_EQ(r.err,
            "alert: Document Password is empty or too short. To use Secure Print, enter Document Password. | \n"
            "r2740-pde-cli: panel \"Security\" refused to print\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("s.plist")));
  // Saving instead turns it off, as the panel always did.
  args.back() = "save";
  r = RunCli(args, {"R2740_LANG=en"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("alert: Secure Print has been turned off"));
}

// Secure print on a queue without a printer driver goes out as an ordinary
// job: one line says so before the job goes (here it is then refused, no
// cupsd answering), and nothing is said where the PPD names a driver.
TEST(Cli, SecureOptionsWithoutADriverAreSaidOnceBeforeTheJob) {
  TempDir dir;
  std::filesystem::create_directory_symlink(std::string(R2740_BUNDLE_DIR) + "/SecurityPanelPDE.plugin",
                                            dir.file("SecurityPanelPDE.plugin"));
  std::string ppd = ReadAll(ColorPPD());
  // The sample's driver is CUPS' own pdftops; a maker's driver carries them out.
  const std::string converter = "*R2740DriverFilter: \"pdftops\"";
  ppd.replace(ppd.find(converter), converter.size(), "*R2740DriverFilter: \"r2740-maker-driver\"");
  std::string filtered = dir.write("filtered.ppd", ppd);
  auto print = [&](const std::string& ppdPath, std::vector<std::string> sets) {
    std::vector<std::string> args{"--ppd", ppdPath, "--queue-id", "Q", "--bundles", dir.path(), "--action", "print",
                                  "--destination", "R2740", "--job", "id=7"};
    for (const auto& s : sets) args.insert(args.end(), {"--set", s});
    return RunCli(args, {"R2740_LANG=en", "CUPS_SERVER=" + dir.file("no-cupsd.sock")});
  };
  const std::vector<std::string> secure{"PrintModeR2740=SecurePrint", "jp.orvessa.printers.R2740.secureKey=24681357",
                                        "QVAuthenticationR2740=True", "jp.orvessa.printers.R2740.userType=1",
                                        "jp.orvessa.printers.R2740.userName=alice"};
  auto r = print(ColorPPD(), secure);
  EXPECT_EQ(r.code, 9) << r.err;
  ASSERT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 3) << r.err;
  EXPECT_THAT(r.err, StartsWith("r2740-pde-cli: note: for Job 7\n"
                                "alert: Secure Print and User Authentication are not carried out by this queue. | "
                                "The queue's PPD names no printer driver"));
  EXPECT_THAT(r.lastErrLine(), HasSubstr("the job was not accepted"));

  for (const auto& quiet : {print(filtered, secure), print(ColorPPD(), {})}) {
    EXPECT_EQ(quiet.code, 9) << quiet.err;
    EXPECT_THAT(quiet.err, ::testing::Not(HasSubstr("alert:")));
  }
}

namespace {

// The PPD's own Japanese text on the line "*ja.<key>/text: ...".
std::string PPDJapanese(const std::string& key) {
  std::string ppd = ReadAll(ColorPPD());
  size_t at = ppd.find("\n*ja." + key + "/");
  if (at == std::string::npos) return "(no *ja." + key + " in the PPD)";
  at = ppd.find('/', at) + 1;
  return ppd.substr(at, ppd.find(':', at) - at);
}

}  // namespace

TEST(Cli, GeneralSummarySpeaksTheUsersLanguage) {
  auto r = RunCli(Manual({"--orientation", "landscape", "--duplex", "DuplexNoTumble", "--option", "QVColorAsGray=True",
                          "--summary-out", "-"}),
                  {"R2740_LANG=", "LANGUAGE=ja"});
  ASSERT_EQ(r.code, 0) << r.err;
  // The host's words as its Japanese translators wrote them; the PPD's from
  // its translation lines.
  const std::string block = "一般\n"
                            "    部数: 1\n"
                            "    部単位: オン\n"
                            "    ページ: すべて\n"
                            "    用紙サイズ: " + PPDJapanese("PageSize Letter") + "\n"
                            "    方向: 横\n"
                            "    両面: " + PPDJapanese("Duplex DuplexNoTumble") + "\n";
  EXPECT_THAT(r.out, HasSubstr(block));
  EXPECT_THAT(r.out, HasSubstr("    " + PPDJapanese("Translation QVColorAsGray") + ": " + PPDJapanese("QVColorAsGray True") + "\n"));

  // A custom size in the paper list's words (5 x 8 in are 360 x 576 pt).
  for (auto [lang, line] : {std::pair{"ja", "    用紙サイズ: カスタムサイズ 360 x 576 pt\n"},
                            {"en", "    Paper Size: Custom Size 360 x 576 pt\n"}}) {
    r = RunCli(Manual({"--paper", "Custom.5x8in", "--summary-out", "-"}), {"R2740_LANG=", std::string("LANGUAGE=") + lang});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr(line));
  }
}

// The plug-in side of the device walk (colour build) with a fake helper
// that records its command lines.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PDECommon.h"
#include "QVPList.h"
#include "system/system.h"

namespace {

using R2740_COLOR_NS::PDECommon;

class WalkStart : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/r2740-walkstart-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    ::setenv("R2740_ROOT", root_.c_str(), 1);
    // A bus nobody listens on: Bonjour names fail at once, and no query
    // reaches a real network through the machine's avahi-daemon.
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + root_ + "/no-bus").c_str(), 1);
    std::filesystem::create_directories(sys::ResolvePath(kQVPListProfileFolder));
    std::string helper = QVPListHelperPath();
    std::filesystem::create_directories(std::filesystem::path(helper).parent_path());
    std::ofstream(helper) << "#!/bin/sh\necho \"$*\" >> \"$R2740_ROOT/helper.log\"\n"
                             "case \"$1\" in\n"
                             "  qvPListIsAdminProfile_XPC) echo qvPListIsAdminProfile_XPC=TRUE ;;\n"
                             "  mibwalk_XPC) echo mibwalk_XPC=iRet=0 ;;\n"
                             "esac\n";
    ::chmod(helper.c_str(), 0755);
  }
  void TearDown() override {
    ::unsetenv("R2740_ROOT");
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    std::filesystem::remove_all(root_);
  }
  // The commands the helper ran for one call.
  std::vector<std::string> Walk(const std::string& uri) {
    std::filesystem::remove(root_ + "/helper.log");
    pm::Printer printer("Queue", uri);
    pm::PrintSession session;
    session.setCurrentPrinter(&printer);
    EXPECT_EQ(0, PDECommon::commonGetProfilesFromMIB(&session));
    std::vector<std::string> lines;
    std::ifstream in(root_ + "/helper.log");
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  std::string root_;
};

TEST_F(WalkStart, ClassifiesUrisAndStartsTheWalkOnlyForNetworkQueues) {
  EXPECT_EQ(1, PDECommon::commoniGetProtocolByUrl(cf::str("mdns://x._printer._tcp.local.")));
  EXPECT_EQ(1, PDECommon::commoniGetProtocolByUrl(cf::str("dnssd://x._ipp._tcp.local./")));
  EXPECT_EQ(0, PDECommon::commoniGetProtocolByUrl(cf::str("lpd://10.0.0.5/queue")));
  EXPECT_EQ(2, PDECommon::commoniGetProtocolByUrl(cf::str("pap://zone/printer")));
  EXPECT_EQ(3, PDECommon::commoniGetProtocolByUrl(cf::str("usb://ORVESSA/R2740")));
  EXPECT_EQ(-1, PDECommon::commoniGetProtocolByUrl(cf::str("LPD://10.0.0.5/queue")));
  EXPECT_EQ(-1, PDECommon::commoniGetProtocolByUrl(cf::str("IPP://10.0.0.5/")));
  EXPECT_EQ(-1, PDECommon::commoniGetProtocolByUrl(cf::str("lpd:/10.0.0.5/queue")));
  EXPECT_EQ(-1, PDECommon::commoniGetProtocolByUrl(nullptr));
  EXPECT_EQ(-1, PDECommon::commoniGetProtocol(nullptr));
  pm::Printer printer("Queue", "usb://ORVESSA/R2740");
  pm::PrintSession session;
  EXPECT_EQ(-1, PDECommon::commoniGetProtocol(&session));
  session.setCurrentPrinter(&printer);
  EXPECT_EQ(3, PDECommon::commoniGetProtocol(&session));

  std::string current = QVPListCurrentPath(), prev = QVPListPrevPath();
  std::string backup = "qvPListSwapProfile_XPC 2 " + current + " " + prev;
  auto lines = Walk("lpd://127.0.0.1:515/queue");
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("qvPListIsAdminProfile_XPC " + current, lines[0]);
  EXPECT_EQ(backup, lines[1]);  // the backup comes first, on every call

  for (const char* noWalk :
       {"LPD://127.0.0.1/queue", "pap://zone/printer", "usb://ORVESSA/R2740", "ipp://[fe80::1%25eth0]:631/ipp/print",
        "lpd://[::1]/queue", "socket://:9100", "ipp:///printers/x", "socket://Bad Host:9100",
        "mdns://NoSuchPrinter._pdl-datastream._tcp.local.", "mdns://tooshort.local",
        "dnssd://NoType.local/", "dnssd://Bad%5Cq._ipp._tcp.local/", "lpd://-Lf%2Ftmp%2Fx/queue",
        "lpd://-d:515/queue"}) {
    lines = Walk(noWalk);
    ASSERT_EQ(2u, lines.size()) << noWalk;
    EXPECT_EQ(backup, lines[1]);
  }

  // Queues of a networked printer as Linux sets them up: the walk goes to
  // the URI's host, whatever port, user, path or query follows.
  for (auto [uri, address] : std::vector<std::pair<const char*, const char*>>{
           {"socket://10.0.0.5:9100", "10.0.0.5"},
           {"socket://10.0.0.5?waiteof=false", "10.0.0.5"},
           {"ipp://r2740-office.example.org:631/ipp/print", "r2740-office.example.org"},
           {"ipps://user@10.0.0.6/printers/R2740", "10.0.0.6"},
           {"http://10.0.0.7:631/ipp", "10.0.0.7"},
           {"https://R2740.local", "R2740.local"},
           {"lpd://127.0.0.1:515/queue", "127.0.0.1"}}) {
    lines = Walk(uri);
    ASSERT_EQ(3u, lines.size()) << uri;
    EXPECT_EQ("mibwalk_XPC R2740 " + sys::LoginName() + " snmpwalk -Os -c public -v 1 " + address +
                  " 1.3.6.1.4.1.47291.1.1.1.1.6.13.1.1",
              lines[2])
        << uri;
    EXPECT_EQ(0, PDECommon::commoniGetProtocolByUrl(cf::str(uri))) << uri;  // the profile window's kind
  }

  // No session: the backup still happens, nothing else.
  std::filesystem::remove(root_ + "/helper.log");
  EXPECT_EQ(0, PDECommon::commonGetProfilesFromMIB(nullptr));
  EXPECT_TRUE(sys::ReadFile(root_ + "/helper.log")->find("mibwalk") == std::string::npos);
}

}  // namespace

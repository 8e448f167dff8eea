// Network queues as Linux sets them up, through the command line: opening
// the colour panel on a socket://, ipp://, ipps://, http:// or https:// queue
// has the real helper and service walk snmpd at the URI's host, on port 161
// of a loopback address of this test's own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <filesystem>
#include <memory>

#include "cli_root.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kPrinter = "127.17.0.9";

// "" when a UDP socket can be bound there, else why not.
std::string CanListen(const char* address, int port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, address, &sa.sin_addr);
  std::string why = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? "" : std::strerror(errno);
  ::close(fd);
  return why;
}

TEST(NetworkQueueCli, EachNetworkUriFormWalksTheHostOfItsUri) {
  proftest::CliRoot root;

  // The plug-in walks port 161.
  if (std::string why = CanListen(kPrinter, 161); !why.empty())
    GTEST_SKIP() << "snmpd cannot listen on " << kPrinter << ":161: " << why;
  proftest::Agent agent(kPrinter, 161, {{1, 4, "Studio", "PHOTO.ICC", 1}, {2, 5, "Card", "CARD.ICC", 3}});
  ASSERT_TRUE(agent.ready());

  const std::string user = sys::LoginName(), profile = root.ProfilePath(user);
  for (const std::string uri :
       {"socket://127.17.0.9:9100", "ipp://127.17.0.9:631/ipp/print", "ipps://127.17.0.9/printers/R2740?waitjob=false",
        "http://127.17.0.9:631/ipp", "https://admin@127.17.0.9"}) {
    fs::remove(profile);
    auto r = root.Session({"--ppd", std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd", "--queue-id", "R2740_Socket",
                           "--device-uri", uri});
    ASSERT_EQ(r.exitStatus, 0) << uri << ": " << r.output;
    ASSERT_TRUE(sys::FileExists(profile)) << uri << ": the walk wrote no profile file";
    QV_PLIST_PROFILE_PATH = profile.c_str();
    auto rgb = std::make_unique<ProfileList>(), sim = std::make_unique<ProfileList>();
    EXPECT_EQ(0, QVPListReadProfile_Dict(rgb.get(), kProfileListRGB));
    EXPECT_EQ(0, QVPListReadProfile_Dict(sim.get(), kProfileListSIM));
    QV_PLIST_PROFILE_PATH = nullptr;
    ASSERT_EQ(1, rgb->iNum) << uri;
    EXPECT_STREQ("PHOTO.ICC", rgb->entry[0].FileName);
    ASSERT_EQ(1, sim->iNum) << uri;  // a class 3 profile
    EXPECT_STREQ("CARD.ICC", sim->entry[0].FileName);
  }
}

}  // namespace

// Our policies never loosen the one they are built on. (cupsd itself, the
// cupsctl rewrite and the base policies of a stock cupsd.conf are tried in
// tests/attack/cups_policy_test.cpp.)
#include "policies.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

using namespace agent::policy;

std::string Stock() {
  std::ifstream in("/usr/share/cups/cupsd.conf.default");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The lines of the <Limit> of `block` that names `op`.
std::string LimitOf(const std::string& block, const std::string& op) {
  std::istringstream in(block);
  std::string line, limit;
  bool inside = false;
  for (; std::getline(in, line);) {
    if (line.find("<Limit ") != std::string::npos) inside = (line + " ").find(" " + op + " ") != std::string::npos ||
                                                             line.find(" " + op + ">") != std::string::npos;
    if (inside) limit += line + "\n";
  }
  return limit;
}

TEST(Policies, StrongerBasesKeepTheirRequirementsAndNothingLetsAnAddressStandIn) {
  const std::string stock = Stock();
  if (stock.empty()) GTEST_SKIP() << "no cupsd.conf.default of CUPS";
  Conf conf;
  std::string error;
  ASSERT_TRUE(Parse(stock, &conf, &error)) << error;
  // Kerberos stays Kerberos for job changes and, on the ask queue, job creation.
  std::string kerberos = Build(conf, "r2740-kerberos-ask", &error);
  ASSERT_FALSE(kerberos.empty()) << error;
  EXPECT_NE(LimitOf(kerberos, "Cancel-Job").find("AuthType Negotiate"), std::string::npos) << kerberos;
  EXPECT_NE(LimitOf(kerberos, "Create-Job").find("AuthType Negotiate"), std::string::npos) << kerberos;
  EXPECT_NE(LimitOf(kerberos, "Get-Jobs").find("Require valid-user"), std::string::npos) << kerberos;

  // An administrator's limits: an address list, "Satisfy any", job
  // changes for the system group only, and one user for moving jobs.
  ASSERT_TRUE(Parse("<Policy strict>\n  <Limit Cancel-Job Hold-Job>\n    AuthType Default\n    Require user @SYSTEM\n"
                    "    Order deny,allow\n    Deny from all\n    Allow from 10.0.0.0/8\n    Satisfy any\n  </Limit>\n"
                    "  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n",
                    &conf, &error))
      << error;
  std::string strict = Build(conf, "r2740-strict", &error);
  ASSERT_FALSE(strict.empty()) << error;
  std::string cancel = LimitOf(strict, "Cancel-Job");
  EXPECT_NE(cancel.find("Require user @SYSTEM\n"), std::string::npos) << strict;
  EXPECT_NE(cancel.find("Allow from 10.0.0.0/8"), std::string::npos) << strict;
  EXPECT_NE(cancel.find("Deny from all"), std::string::npos) << strict;
  EXPECT_EQ(strict.find("Satisfy"), std::string::npos) << strict;

  ASSERT_TRUE(Parse("<Policy alice>\n  <Limit CUPS-Move-Job>\n    Require user alice\n  </Limit>\n</Policy>\n", &conf,
                    &error));
  EXPECT_EQ(Build(conf, "r2740-alice", &error), "");
  EXPECT_NE(error.find("lets only \"user alice\" do CUPS-Move-Job"), std::string::npos) << error;
}

}  // namespace

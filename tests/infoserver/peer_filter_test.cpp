// Which peers the info server answers: the local networks by default, or
// the networks that "allow-peers" lists; IPv4 and IPv6, the edges of each
// range, and IPv4 addresses mapped into IPv6.
#include "infoserver/peer_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using qn::TqnPeerFilter;

struct Case {
  const char* address;
  bool allowed;
};

void ExpectDecisions(const TqnPeerFilter& filter, const std::vector<Case>& cases) {
  for (const auto& c : cases) EXPECT_EQ(filter.Allows(c.address), c.allowed) << c.address;
}

TEST(PeerFilter, TheLocalNetworksByDefault) {
  ExpectDecisions(TqnPeerFilter(), {
                                       {"127.0.0.1", true},
                                       {"127.255.255.255", true},
                                       {"126.255.255.255", false},
                                       {"128.0.0.0", false},
                                       {"10.0.0.0", true},
                                       {"10.255.255.255", true},
                                       {"9.255.255.255", false},
                                       {"11.0.0.0", false},
                                       {"172.16.0.0", true},
                                       {"172.31.255.255", true},
                                       {"172.15.255.255", false},
                                       {"172.32.0.0", false},
                                       {"192.168.0.0", true},
                                       {"192.168.255.255", true},
                                       {"192.167.255.255", false},
                                       {"192.169.0.0", false},
                                       {"169.254.0.1", true},
                                       {"169.254.255.255", true},
                                       {"169.253.255.255", false},
                                       {"169.255.0.0", false},
                                       {"8.8.8.8", false},
                                       {"0.0.0.0", false},
                                       {"255.255.255.255", false},
                                       // IPv6: loopback, unique local fc00::/7, link-local fe80::/10.
                                       {"::1", true},
                                       {"::2", false},
                                       {"::", false},
                                       {"fc00::", true},
                                       {"fdff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", true},
                                       {"fbff::1", false},
                                       {"fe00::", false},
                                       {"fe80::1", true},
                                       {"febf:ffff::1", true},
                                       {"fec0::", false},
                                       {"2001:db8::1", false},
                                       {"FE80::ABCD", true},
                                       // IPv4 mapped into IPv6 is judged as the IPv4 address.
                                       {"::ffff:192.168.1.5", true},
                                       {"::ffff:8.8.8.8", false},
                                       {"::ffff:c0a8:105", true},
                                       {"::ffff:127.0.0.1", true},
                                       // Not addresses at all.
                                       {"", false},
                                       {"localhost", false},
                                       {"192.168.1", false},
                                       {"192.168.1.256", false},
                                       {"192.168.1.1.1", false},
                                       {"fe80::1%eth0", false},
                                       {"1:2:3:4:5:6:7:8:9", false},
                                       {"1::2::3", false},
                                   });
  EXPECT_TRUE(TqnPeerFilter().IsDefault());
}

TEST(PeerFilter, AConfiguredListReplacesTheLocalNetworks) {
  std::vector<std::string> rejected;
  const TqnPeerFilter filter =
      TqnPeerFilter::FromSetting(" 192.168.7.0/24,10.1.2.3 , 2001:db8::/32,bad, 300.1.1.1/8,10.0.0.0/40,", &rejected);
  EXPECT_FALSE(filter.IsDefault());
  EXPECT_EQ(rejected, (std::vector<std::string>{"bad", "300.1.1.1/8", "10.0.0.0/40"}));
  ExpectDecisions(filter, {
                              {"192.168.7.0", true},
                              {"192.168.7.255", true},
                              {"192.168.6.255", false},
                              {"192.168.8.0", false},
                              {"10.1.2.3", true},
                              {"10.1.2.4", false},
                              {"127.0.0.1", false},
                              {"::ffff:10.1.2.3", true},
                              {"2001:db8:ffff::1", true},
                              {"2001:db9::1", false},
                              {"::1", false},
                          });
  // Mapped IPv4 written as an IPv6 network, and a whole family.
  ExpectDecisions(TqnPeerFilter::FromSetting("::ffff:10.0.0.0/104"), {{"10.9.9.9", true}, {"11.0.0.1", false}});
  ExpectDecisions(TqnPeerFilter::FromSetting("0.0.0.0/0"), {{"8.8.8.8", true}, {"2001:db8::1", false}});
  ExpectDecisions(TqnPeerFilter::FromSetting("::/0"), {{"8.8.8.8", true}, {"2001:db8::1", true}});
}

TEST(PeerFilter, AnEmptyOrUnusableListMeansTheLocalNetworks) {
  for (const char* list : {"", " , ", "nonsense"}) {
    const TqnPeerFilter filter = TqnPeerFilter::FromSetting(list);
    EXPECT_TRUE(filter.IsDefault()) << list;
    ExpectDecisions(filter, {{"192.168.1.1", true}, {"8.8.8.8", false}});
  }
}

}  // namespace

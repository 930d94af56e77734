// The dynamic address against a bounce site on loopback: the address is
// written into the virtual servers that follow it and saved; with DynamicIP
// off nothing is saved; an unreachable or black-holed site gives the error
// line, changes nothing and holds the control thread only briefly; the
// refresh at idle time waits for its period.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/core/tests/test_server.h"
#include "engine/pages/dynamic_address.h"
#include "platform/scoped_handle.h"
#include "platform/socket.h"
#include "platform/system.h"

namespace brisvane::testing {
namespace {

using Sock = platform::ScopedHandle<platform::SocketTraits>;

// A listener on 127.0.0.1 that counts the connections made to it and
// remembers the address each came from.
class BounceSite {
 public:
  explicit BounceSite(int backlog = 8) : listener_(platform::socket_create(true)) {
    platform::SockAddrV4 at;
    platform::parse_ipv4("127.0.0.1", &at.addr);
    EXPECT_TRUE(platform::socket_bind(listener_.get(), at));
    EXPECT_TRUE(platform::socket_listen(listener_.get(), backlog));
    platform::socket_local_address(listener_.get(), &at);
    port_ = platform::host_to_net16(at.port);
  }
  uint16_t port() const { return port_; }
  platform::SocketHandle handle() const { return listener_.get(); }
  // Accepts what has arrived; the peers' addresses so far.
  const std::vector<std::string>& Peers() {
    while (platform::socket_wait(listener_.get(), false, 100) == 1) {
      Sock c(platform::socket_accept(listener_.get()));
      platform::SockAddrV4 peer;
      if (c && platform::socket_peer_address(c.get(), &peer)) peers_.push_back(platform::format_ipv4(peer.addr));
    }
    return peers_;
  }

 private:
  Sock listener_;
  uint16_t port_ = 0;
  std::vector<std::string> peers_;
};

class DynamicAddressTest : public TestServer {
 protected:
  void Configure(ServerSettings& s) override {
    s.dynamic_ip = dynamic_ip_;
    s.bounce_site = "127.0.0.1";
    s.bounce_port = site_.port();
    s.virtual_servers[0].use_dynamic_ip = true;
    s.virtual_servers[0].site_ip = "10.1.1.1";
    VirtualServerConfig fixed = s.virtual_servers[0];
    fixed.use_dynamic_ip = false;
    fixed.site_ip = "10.2.2.2";
    s.virtual_servers.push_back(fixed);
  }
  ServerSettings Saved() {
    ServerSettings s;
    EXPECT_TRUE(LoadSettings(&s, profile()));
    return s;
  }
  bool Logged(const std::string& text) {
    auto lines = HookLines();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
  }

  bool dynamic_ip_ = true;
  BounceSite site_;
};

TEST_F(DynamicAddressTest, StartAndCommandSaveTheAddressIntoFollowingServersOnly) {
  StartServer();
  ASSERT_EQ(site_.Peers().size(), 1u);  // resolved at start
  const std::string address = site_.Peers()[0];
  ServerSettings saved = Saved();
  EXPECT_EQ(saved.virtual_servers[0].site_ip, address);
  EXPECT_EQ(saved.virtual_servers[1].site_ip, "10.2.2.2");
  EXPECT_EQ(engine().snapshot()->settings.virtual_servers[0].site_ip, address);
  EXPECT_TRUE(Logged("Resolved dynamic IP address [" + address + "]"));

  // Another program changes the saved address; the command puts it back.
  saved.virtual_servers[0].site_ip = "10.3.3.3";
  ASSERT_TRUE(SaveSettings(saved, profile()));
  EXPECT_TRUE(engine().Command("RESOLVE_IP", 0, 0));
  EXPECT_EQ(site_.Peers().size(), 2u);
  EXPECT_EQ(Saved().virtual_servers[0].site_ip, address);
}

TEST_F(DynamicAddressTest, WithDynamicIpOffTheCommandOnlyTraces) {
  dynamic_ip_ = false;
  StartServer();
  EXPECT_TRUE(site_.Peers().empty());  // no resolution at start
  ServerSettings before = Saved();
  EXPECT_TRUE(engine().Command("RESOLVE_IP", 0, 0));
  EXPECT_EQ(site_.Peers().size(), 1u);
  EXPECT_TRUE(Logged("Resolved dynamic IP address [" + site_.Peers()[0] + "]"));
  EXPECT_EQ(Saved(), before);
  EXPECT_EQ(engine().snapshot()->settings.virtual_servers[0].site_ip, "10.1.1.1");
}

TEST_F(DynamicAddressTest, IdleRefreshesOnlyOnceThePeriodHasPassed) {
  StartServer();
  ASSERT_EQ(site_.Peers().size(), 1u);
  EXPECT_TRUE(engine().Command("IDLE", 0, 0));
  EXPECT_EQ(site_.Peers().size(), 1u);  // 20 minutes have not passed

  RestartWith([](ServerSettings& s) { s.dynamic_refresh = 50; });
  ASSERT_EQ(site_.Peers().size(), 2u);
  platform::sleep_ms(100);
  EXPECT_TRUE(engine().Command("IDLE", 0, 0));
  EXPECT_EQ(site_.Peers().size(), 3u);
}

TEST_F(DynamicAddressTest, AnUnreachableSiteGivesTheErrorLineAndChangesNothing) {
  dynamic_ip_ = false;
  StartServer();
  ServerSettings before = Saved();
  // A port nobody listens on: the connection is refused.
  before.dynamic_ip = true;
  before.bounce_port = FreePort();
  ASSERT_TRUE(SaveSettings(before, profile()));
  ASSERT_TRUE(engine().Flush());
  EXPECT_FALSE(engine().Command("RESOLVE_IP", 0, 0));
  EXPECT_TRUE(Logged("Could not resolve dynamic IP address using bounce site 127.0.0.1 port " +
                     std::to_string(before.bounce_port)));
  EXPECT_EQ(Saved(), before);
  EXPECT_EQ(engine().snapshot()->settings.virtual_servers[0].site_ip, "10.1.1.1");
}

TEST(DynamicAddress, ABlackHoledSiteHoldsTheCallerOnlyForTheConnectTimeOut) {
  // A listener that never accepts drops new connections once its queue is
  // full, as a site behind a black hole does.
  BounceSite hole(1);
  std::vector<Sock> queued;
  platform::SockAddrV4 at;
  platform::parse_ipv4("127.0.0.1", &at.addr);
  at.port = platform::host_to_net16(hole.port());
  bool full = false;
  for (int i = 0; i < 16 && !full; ++i) {
    Sock s(platform::socket_create(true));
    full = !platform::socket_connect_within(s.get(), at, 300);
    queued.push_back(std::move(s));
  }
  ASSERT_TRUE(full) << "the listen queue never filled";

  uint32_t begin = platform::tick_count();
  EXPECT_EQ(DiscoverLocalAddress("127.0.0.1", hole.port()), "");
  uint32_t spent = platform::tick_count() - begin;
  EXPECT_GE(spent, kBounceConnectTimeoutMs - 100);
  EXPECT_LT(spent, kBounceConnectTimeoutMs + 1500);
}

}  // namespace
}  // namespace brisvane::testing

#include "vynIdIOHandlerSocket.h"

#include <gtest/gtest.h>

#include "vynIdComponent.h"
#include "vynIdIOHandlerStack.h"
#include "vynIdSocks.h"

namespace vyn {
namespace {

TEST(IOHandlerSocket, DestinationSplitsAndJoins) {
  struct TCase {
    String Text, Host;
    int Port;
    String Joined;
  } cases[] = {
      {u"server:8080", u"server", 8080, u"server:8080"},
      {u"server:abc", u"server", 80, u"server"},  // DefaultPort, omitted when joined
      {u"server", u"old", 1, u"old:1"},            // no colon: unchanged
      {u"h: 443 ", u"h", 443, u"h:443"},
      {u"::1:99", u"::1", 99, u"::1:99"},  // the last colon splits
  };
  for (const auto& c : cases) {
    TIdIOHandlerStack h;
    h.SetDefaultPort(80);
    h.SetHost(u"old");
    h.SetPort(1);
    h.SetDestination(c.Text);
    EXPECT_EQ(h.Host(), c.Host) << ToUtf8(c.Text);
    EXPECT_EQ(h.Port(), c.Port) << ToUtf8(c.Text);
    EXPECT_EQ(h.Destination(), c.Joined) << ToUtf8(c.Text);
  }
}

TEST(IOHandlerSocket, DefaultsAndTheDefaultClass) {
  TIdIOHandlerStack h;
  EXPECT_EQ(h.MaxLineLength(), 16384);
  EXPECT_EQ(h.ReadTimeout(), -1);
  EXPECT_EQ(h.RecvBufferSize(), 32768);
  EXPECT_TRUE(h.UseNagle());
  EXPECT_EQ(h.LingerState(), -1);
  EXPECT_EQ(h.IPVersion(), Id_IPv4);
  EXPECT_FALSE(h.Connected());
  auto made = TIdIOHandler::MakeDefaultIOHandler();
  ASSERT_TRUE(made);
  EXPECT_EQ(made->ClassName(), u"TIdIOHandlerStack");
}

TEST(IOHandlerSocket, TransparentProxySlot) {
  TIdIOHandlerStack h;
  // Unset: a disabled SOCKS object owned by the handler.
  TIdCustomTransparentProxy* implicit = h.TransparentProxy();
  ASSERT_NE(implicit, nullptr);
  EXPECT_EQ(implicit->ClassName(), u"TIdSocksInfo");
  EXPECT_FALSE(implicit->Enabled());
  EXPECT_EQ(implicit->Owner(), &h);
  EXPECT_EQ(implicit->Port(), 1080);

  // Without an owner: copied into the handler's own object.
  TIdSocksInfo settings;
  settings.SetHost(u"proxy");
  settings.SetVersion(svSocks5);
  h.SetTransparentProxy(&settings);
  EXPECT_EQ(h.TransparentProxy(), implicit);
  EXPECT_EQ(implicit->Host(), u"proxy");
  EXPECT_TRUE(implicit->Enabled());

  // With an owner: used by reference and forgotten when destroyed.
  TIdComponent owner;
  auto* shared = CreateOwned<TIdSocksInfo>(&owner);
  h.SetTransparentProxy(shared);
  EXPECT_EQ(h.CurrentTransparentProxy(), shared);
  delete shared;  // destroyed elsewhere
  EXPECT_EQ(h.CurrentTransparentProxy(), nullptr);

  h.TransparentProxy();
  h.SetTransparentProxy(nullptr);
  EXPECT_EQ(h.CurrentTransparentProxy(), nullptr);
}

TEST(Component, WorkNestsAndForwards) {
  TIdComponent a, target;
  std::vector<std::string> events;
  target.OnWorkBegin = [&](TObject*, TWorkMode, int64_t max) { events.push_back("begin " + std::to_string(max)); };
  target.OnWork = [&](TObject*, TWorkMode, int64_t n) { events.push_back("work " + std::to_string(n)); };
  target.OnWorkEnd = [&](TObject*, TWorkMode) { events.push_back("end"); };
  a.SetWorkTarget(&target);
  a.DoWork(wmRead, 1);  // outside a pair: nothing
  a.BeginWork(wmRead, 10);
  a.BeginWork(wmRead, 99);  // nested: no second begin
  a.DoWork(wmRead, 4);
  a.EndWork(wmRead);
  a.DoWork(wmRead, 2);
  a.EndWork(wmRead);
  a.EndWork(wmRead);  // unbalanced: ignored
  EXPECT_EQ(events, (std::vector<std::string>{"begin 10", "work 4", "work 6", "end"}));
  EXPECT_EQ(target.WorkLevel(wmRead), 0);
}

TEST(Component, StatusTexts) {
  TIdComponent c;
  std::vector<String> texts;
  c.ReportStatus(hsConnected);  // no handler: nothing happens
  c.OnStatus = [&](TObject* ASender, TIdStatus, const String& AText) {
    EXPECT_EQ(ASender, &c);
    texts.push_back(AText);
  };
  c.ReportStatus(hsResolving, {String(u"host")});
  c.ReportStatus(hsConnecting, {String(u"1.2.3.4")});
  c.ReportStatus(hsConnected, {String(u"ignored")});
  c.ReportStatus(hsDisconnecting);
  c.ReportStatus(hsStatusText, {String(u"free text")});
  EXPECT_EQ(texts, (std::vector<String>{u"Resolving hostname host.", u"Connecting to 1.2.3.4.", u"Connected.",
                                        u"Disconnecting.", u"free text"}));
}

}  // namespace
}  // namespace vyn

// The socket handle and the platform stack against real sockets on loopback.
#include "vynIdSocketHandle.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <thread>

#include "vynIdStackLinux.h"
#include "vynLoopbackPeer.h"

namespace vyn {
namespace {

using namespace std::chrono_literals;
using test::TFd;

int64_t MsSince(std::chrono::steady_clock::time_point AStart) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - AStart).count();
}

std::string Text(const TIdBytes& ABytes, int32_t ACount) {
  return std::string(ABytes.begin(), ABytes.begin() + ACount);
}

// A handle connected to a fresh loopback listener, with the accepted peer socket.
struct TConnected {
  explicit TConnected(TIdIPVersion AVersion = Id_IPv4) : Listener(AVersion == Id_IPv6) {
    Handle.SetIPVersion(AVersion);
    Handle.AllocateSocket();
    Handle.SetPeer(AVersion == Id_IPv6 ? u"::1" : u"127.0.0.1", Listener.Port(), AVersion);
    Handle.Connect();
    Peer = Listener.Accept();
  }
  test::TLoopbackListener Listener;
  TIdSocketHandle Handle;
  TFd Peer;
};

TEST(SocketHandle, ConnectReadsBothAddressesBackAndCarriesBytesBothWays) {
  struct {
    TIdIPVersion Version;
    const char16_t* Loopback;
  } cases[] = {{Id_IPv4, u"127.0.0.1"}, {Id_IPv6, u"0:0:0:0:0:0:0:1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.Loopback));
    TConnected conn(c.Version);
    ASSERT_TRUE(conn.Peer);
    TIdSocketHandle& h = conn.Handle;
    EXPECT_EQ(h.PeerIP(), c.Loopback);
    EXPECT_EQ(h.PeerPort(), conn.Listener.Port());
    EXPECT_EQ(h.IP(), c.Loopback);
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    ASSERT_EQ(::getpeername(conn.Peer.Get(), reinterpret_cast<sockaddr*>(&ss), &len), 0);
    const uint16_t clientPort = ntohs(c.Version == Id_IPv6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                                                           : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    EXPECT_EQ(h.Port(), clientPort);

    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(h.Readable(100));
    EXPECT_GE(MsSince(start), 90);
    EXPECT_FALSE(h.Select(0));

    ASSERT_TRUE(test::SendAll(conn.Peer.Get(), "hello"));
    EXPECT_TRUE(h.Readable(2000));
    TIdBytes buf(64);
    int32_t n = h.Receive(buf);
    EXPECT_EQ(Text(buf, n), "hello");

    EXPECT_EQ(h.Send(TIdBytes{'x', 'p', 'i', 'n', 'g', 'x'}, 1, 4), 4);
    EXPECT_EQ(h.Send(u"!"), 1);
    h.CloseSocket();
    test::TPeerEnd end = test::ReadUntilEnd(conn.Peer.Get());
    EXPECT_EQ(end.Data, "ping!");
    EXPECT_TRUE(end.EndOfStream);
  }
}

TEST(SocketHandle, PeerCloseMakesTheSocketReadableAndReceiveGiveZero) {
  TConnected conn;
  conn.Peer.Reset();
  EXPECT_TRUE(conn.Handle.Readable(2000));
  TIdBytes buf(16);
  EXPECT_EQ(conn.Handle.Receive(buf), 0);
}

TEST(SocketHandle, RefusedConnectRaises10061) {
  test::TClosedPort closed;
  TIdSocketHandle h;
  h.AllocateSocket();
  h.SetPeer(u"127.0.0.1", closed.Port());
  try {
    h.Connect();
    FAIL() << "connected";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10061);
    EXPECT_EQ(e.Message(), u"Socket Error # 10061\r\nConnection refused.");
  }
}

TEST(SocketHandle, BindInARangeTakesTheHighestFreePort) {
  const uint16_t base = test::FindFreePortRange(3);
  TFd taken = test::BindLoopbackPort(base + 2);
  ASSERT_TRUE(taken);
  auto rangeHandle = [&](uint16_t AMin, uint16_t AMax) {
    auto h = std::make_unique<TIdSocketHandle>();
    h->AllocateSocket();
    h->SetIP(u"127.0.0.1");
    h->SetClientPortMin(AMin);
    h->SetClientPortMax(AMax);
    return h;
  };
  auto first = rangeHandle(base, base + 2);
  first->Bind();
  EXPECT_EQ(first->Port(), base + 1);
  EXPECT_EQ(first->IP(), u"127.0.0.1");
  auto second = rangeHandle(base, base + 2);
  second->Bind();
  EXPECT_EQ(second->Port(), base);

  auto third = rangeHandle(base, base + 2);
  try {
    third->Bind();
    FAIL() << "bound to " << third->Port();
  } catch (const EIdCanNotBindPortInRange& e) {
    EXPECT_EQ(e.Message(), u"Can not bind in port range (" + IntToStr(base) + u" - " + IntToStr(base + 2) + u")");
  }
  auto reversed = rangeHandle(base + 2, base);
  try {
    reversed->Bind();
    FAIL() << "bound";
  } catch (const EIdInvalidPortRange& e) {
    EXPECT_EQ(e.Message(), u"Invalid Port Range (" + IntToStr(base + 2) + u" - " + IntToStr(base) + u")");
  }
  // An explicit port wins over the range.
  auto fixed = rangeHandle(base, base + 2);
  fixed->SetPort(0);
  fixed->SetClientPortMin(0);
  fixed->Bind();
  EXPECT_NE(fixed->Port(), 0);
}

TEST(SocketHandle, BindFailureWrapsThePlatformError) {
  test::TClosedPort taken;
  TIdSocketHandle h;
  h.AllocateSocket();
  h.SetIP(u"127.0.0.1");
  h.SetPort(taken.Port());
  try {
    h.Bind();
    FAIL() << "bound";
  } catch (const EIdCouldNotBindSocket& e) {
    EXPECT_EQ(e.Message(), u"Could not bind socket.");
    auto* inner = dynamic_cast<const EIdSocketError*>(e.InnerException());
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->LastError(), 10048);
  }
}

TEST(SocketHandle, CloseEndsTheStreamOrResetsByLingerState) {
  struct {
    int32_t Linger;
    bool EndOfStream;
    int Error;
  } cases[] = {{-1, true, 0}, {0, false, ECONNRESET}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Linger);
    TConnected conn;
    ASSERT_TRUE(conn.Peer);
    if (c.Linger < 0) {
      ASSERT_EQ(conn.Handle.Send(u"last words"), 10);
    }
    conn.Handle.SetLingerState(c.Linger);
    conn.Handle.CloseSocket();
    EXPECT_FALSE(conn.Handle.HandleAllocated());
    test::TPeerEnd end = test::ReadUntilEnd(conn.Peer.Get(), 3000);
    EXPECT_FALSE(end.TimedOut);
    EXPECT_EQ(end.EndOfStream, c.EndOfStream);
    EXPECT_EQ(end.Error, c.Error);
    if (c.EndOfStream) {
      EXPECT_EQ(end.Data, "last words");
    }
  }
}

TEST(SocketHandle, LingerStateBelongsToItsHandle) {
  TConnected resetting, orderly;
  resetting.Handle.SetLingerState(0);
  orderly.Handle.CloseSocket();
  test::TPeerEnd end = test::ReadUntilEnd(orderly.Peer.Get(), 3000);
  EXPECT_TRUE(end.EndOfStream) << "errno " << end.Error;
  resetting.Handle.CloseSocket();
  EXPECT_EQ(test::ReadUntilEnd(resetting.Peer.Get(), 3000).Error, ECONNRESET);
}

// Runs the handle's Connect on another thread; the future gives what it raised.
std::future<std::exception_ptr> ConnectInBackground(TIdSocketHandle& AHandle) {
  return std::async(std::launch::async, [&AHandle]() -> std::exception_ptr {
    try {
      AHandle.Connect();
      return nullptr;
    } catch (...) {
      return std::current_exception();
    }
  });
}

TEST(SocketHandle, CloseFromAnotherThreadAbortsABlockingConnect) {
  test::TFullBacklogListener full;
  for (int32_t linger : {-1, 0, 5}) {  // whether or not the close would shut down on its own
    SCOPED_TRACE(linger);
    TIdSocketHandle h;
    h.AllocateSocket();
    h.SetLingerState(linger);
    h.SetPeer(u"127.0.0.1", full.Port());
    auto outcome = ConnectInBackground(h);
    ASSERT_EQ(outcome.wait_for(300ms), std::future_status::timeout) << "the connect did not block";

    auto start = std::chrono::steady_clock::now();
    h.CloseSocket();
    EXPECT_LT(MsSince(start), 1000) << "the close waited for the connect";
    ASSERT_EQ(outcome.wait_for(2s), std::future_status::ready) << "the connect was not aborted";
    std::exception_ptr raised = outcome.get();
    ASSERT_TRUE(raised) << "an aborted connect reported success";
    try {
      std::rethrow_exception(raised);
    } catch (const EIdSocketError& e) {
      EXPECT_NE(e.LastError(), 0);
    } catch (...) {
      ADD_FAILURE() << "not a socket error";
    }
    EXPECT_FALSE(h.HandleAllocated());
    EXPECT_EQ(h.Handle(), Id_INVALID_SOCKET);
  }
}

TEST(SocketHandle, CloseRacingTheStartOfAConnectNeverLeavesItHanging) {
  // The close lands before, just as, or after the connect begins; every time the
  // connecting thread must come back at once with an error.
  test::TFullBacklogListener full;
  for (int i = 0; i < 40; ++i) {
    SCOPED_TRACE(i);
    TIdSocketHandle h;
    h.AllocateSocket();
    h.SetPeer(u"127.0.0.1", full.Port());
    auto outcome = ConnectInBackground(h);
    std::this_thread::sleep_for(std::chrono::microseconds(250 * (i % 8)));
    h.CloseSocket();
    ASSERT_EQ(outcome.wait_for(2s), std::future_status::ready);
    EXPECT_TRUE(outcome.get()) << "an aborted connect reported success";
  }
}

// The platform stack with a connect that starts late, as when the connecting thread
// loses the processor just before the call: a close then comes first.
class TLateConnectStack : public TIdStackLinux {
public:
  void Connect(TIdStackSocketHandle ASocket, const String& AIP, uint16_t APort, TIdIPVersion AIPVersion) override {
    std::this_thread::sleep_for(150ms);
    TIdStackLinux::Connect(ASocket, AIP, APort, AIPVersion);
  }
};

struct TLateConnectStackInUse {
  TIdStackClass Saved = TIdStack::StackClass();
  TLateConnectStackInUse() {
    EXPECT_EQ(GStack(), nullptr) << "a stack is already in use; the late connect would not apply";
    TIdStack::SetStackClass([]() -> std::unique_ptr<TIdStack> { return std::make_unique<TLateConnectStack>(); });
  }
  ~TLateConnectStackInUse() { TIdStack::SetStackClass(Saved); }
};

TEST(SocketHandle, CloseBeforeTheConnectCallStillAbortsIt) {
  TLateConnectStackInUse late;
  test::TFullBacklogListener full;
  TIdSocketHandle h;
  h.AllocateSocket();
  h.SetPeer(u"127.0.0.1", full.Port());
  auto outcome = ConnectInBackground(h);
  std::this_thread::sleep_for(30ms);  // the connect has not called the system yet
  h.CloseSocket();
  ASSERT_EQ(outcome.wait_for(2s), std::future_status::ready) << "a connect that began after the close hangs";
  EXPECT_TRUE(outcome.get()) << "an aborted connect reported success";
}

TEST(SocketHandle, ClosedDescriptorIsNotReusedUnderALateConnect) {
  TLateConnectStackInUse late;
  test::TLoopbackListener listener;
  TIdSocketHandle h;
  h.AllocateSocket();
  const int number = static_cast<int>(h.Handle());
  h.SetPeer(u"127.0.0.1", listener.Port());
  auto outcome = ConnectInBackground(h);
  std::this_thread::sleep_for(30ms);
  h.CloseSocket();
  // A socket made now may get the closed descriptor's number; the late connect must
  // not land on it.
  TFd stranger(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  ASSERT_EQ(outcome.wait_for(2s), std::future_status::ready);
  EXPECT_TRUE(outcome.get()) << "a connect on a closed handle reported success";
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  EXPECT_NE(::getpeername(stranger.Get(), reinterpret_cast<sockaddr*>(&ss), &len), 0)
      << "the stranger socket (descriptor " << stranger.Get() << ", closed one " << number << ") was connected";
}

TEST(SocketHandle, SendToAResetPeerRaisesInsteadOfEndingTheProcess) {
  TConnected conn;
  linger l{1, 0};
  ASSERT_EQ(::setsockopt(conn.Peer.Get(), SOL_SOCKET, SO_LINGER, &l, sizeof l), 0);
  conn.Peer.Reset();
  std::this_thread::sleep_for(50ms);
  TIdBytes data(1024, 'x');
  int32_t code = 0;
  for (int i = 0; i < 100 && code == 0; ++i) {
    try {
      conn.Handle.Send(data);
    } catch (const EIdSocketError& e) {
      code = e.LastError();
    }
  }
  EXPECT_TRUE(code == 10054 || code == 10058) << code;
  // A later send after the reset was reported gets the shut-down code, still raised.
  try {
    conn.Handle.Send(data);
    ADD_FAILURE() << "sent";
  } catch (const EIdSocketError& e) {
    EXPECT_TRUE(e.LastError() == 10054 || e.LastError() == 10058) << e.LastError();
  }
}

// A reset between the connect and the read-back of the peer's address: the reset is
// the reason given, not the unconnected state it leaves behind.
TEST(SocketHandle, PeerAddressAfterAResetReportsTheReset) {
  TConnected conn;
  linger l{1, 0};
  ASSERT_EQ(::setsockopt(conn.Peer.Get(), SOL_SOCKET, SO_LINGER, &l, sizeof l), 0);
  conn.Peer.Reset();
  std::this_thread::sleep_for(50ms);
  try {
    conn.Handle.UpdateBindingPeer();
    ADD_FAILURE() << "no error";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10054);
  }
}

TEST(SocketHandle, IPVersionCannotChangeWhileASocketIsOpen) {
  TIdSocketHandle h;
  h.SetIPVersion(Id_IPv6);
  h.SetIPVersion(Id_IPv4);
  h.AllocateSocket();
  h.SetIPVersion(Id_IPv4);  // unchanged: allowed
  try {
    h.SetIPVersion(Id_IPv6);
    FAIL() << "changed";
  } catch (const EIdCannotSetIPVersionWhenConnected& e) {
    EXPECT_EQ(e.Message(), u"Cannot change IPVersion when connected");
  }
  EXPECT_EQ(h.IPVersion(), Id_IPv4);
  h.CloseSocket();
  h.SetIPVersion(Id_IPv6);
  h.AllocateSocket();
  h.Bind();
  EXPECT_EQ(h.IP(), u"0:0:0:0:0:0:0:0");  // an IPv6 socket, bound to any address
}

TEST(SocketHandle, OptionsFollowTheProperties) {
  TIdSocketHandle h;
  h.AllocateSocket();
  EXPECT_EQ(h.SocketType(), Id_SOCK_STREAM);
  EXPECT_TRUE(h.UseNagle());
  h.SetUseNagle(false);
  EXPECT_NE(h.GetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY), 0);
  h.SetUseNagle(true);
  EXPECT_EQ(h.GetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY), 0);

  h.SetKeepAliveValues(true, 1500, 2000);
  EXPECT_EQ(h.GetSockOpt(Id_SOL_SOCKET, Id_SO_KEEPALIVE), 1);
  EXPECT_EQ(h.GetSockOpt(Id_IPPROTO_TCP, TCP_KEEPIDLE), 2);   // seconds, rounded up
  EXPECT_EQ(h.GetSockOpt(Id_IPPROTO_TCP, TCP_KEEPINTVL), 2);
  h.SetKeepAliveValues(false, 0, 0);
  EXPECT_EQ(h.GetSockOpt(Id_SOL_SOCKET, Id_SO_KEEPALIVE), 0);

  h.SetIP(u"127.0.0.1");
  h.SetReuseSocket(rsTrue);
  h.Bind();
  EXPECT_EQ(h.GetSockOpt(Id_SOL_SOCKET, Id_SO_REUSEADDR), 1);

  // A socket that already has no-delay on is adopted with UseNagle false.
  TIdSocketHandle listener;
  listener.AllocateSocket();
  listener.SetIP(u"127.0.0.1");
  listener.Bind();
  int one = 1;
  ASSERT_EQ(::setsockopt(static_cast<int>(listener.Handle()), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one), 0);
  listener.Listen(1);
  TIdSocketHandle client;
  client.AllocateSocket();
  client.SetUseNagle(false);
  client.SetPeer(u"127.0.0.1", listener.Port());
  client.Connect();
  TIdSocketHandle accepted;
  accepted.Accept(listener.Handle());
  EXPECT_FALSE(accepted.UseNagle());  // inherited from the listening socket
  EXPECT_EQ(accepted.PeerPort(), client.Port());
  EXPECT_EQ(accepted.PeerIP(), u"127.0.0.1");
  EXPECT_EQ(accepted.Port(), listener.Port());
}

TEST(SocketHandle, NoSocketMeansGracefulCloseForReadableAndNotASocketForIO) {
  TIdSocketHandle h;
  try {
    h.Readable(0);
    FAIL() << "no error";
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_EQ(e.Message(), u"Connection Closed Gracefully.");
  }
  TIdBytes buf(4);
  EXPECT_THROW(h.Receive(buf), EIdNotASocket);
  EXPECT_THROW(h.Send(buf), EIdNotASocket);
  EXPECT_THROW(h.Connect(), EIdNotASocket);
  h.CloseSocket();  // nothing to close: no error
}

TEST(SocketHandle, ResetForgetsAddressesAndClosesAnOpenSocket) {
  TConnected conn;
  conn.Handle.Reset(false);
  EXPECT_FALSE(conn.Handle.HandleAllocated());
  EXPECT_EQ(conn.Handle.IP(), u"127.0.0.1");
  EXPECT_EQ(conn.Handle.PeerIP(), u"");
  EXPECT_EQ(conn.Handle.PeerPort(), 0);
  EXPECT_TRUE(test::ReadUntilEnd(conn.Peer.Get(), 3000).EndOfStream) << "the socket was left open";
  conn.Handle.Reset();
  EXPECT_EQ(conn.Handle.IP(), u"");
  EXPECT_EQ(conn.Handle.Port(), 0);
}

TEST(PlatformStack, ProcessWideLingerValueAppliesToTheStacksOwnDisconnect) {
  TIdSocketHandle usage;  // holds the stack
  auto& stack = dynamic_cast<TIdStackLinux&>(*GStack());
  for (int32_t linger : {-1, 0}) {
    SCOPED_TRACE(linger);
    test::TLoopbackListener listener;
    stack.SetLingerState(linger);
    TIdStackSocketHandle s = stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_IP);
    stack.Connect(s, u"127.0.0.1", listener.Port());
    TFd peer = listener.Accept();
    stack.Disconnect(s);
    test::TPeerEnd end = test::ReadUntilEnd(peer.Get(), 3000);
    EXPECT_EQ(end.EndOfStream, linger < 0);
    EXPECT_EQ(end.Error, linger < 0 ? 0 : ECONNRESET);
  }
  stack.SetLingerState(-1);
}

TEST(PlatformStack, NonBlockingConnectWouldBlockAndPendingBytesAreCounted) {
  TIdSocketHandle usage;
  auto& stack = dynamic_cast<TIdStackLinux&>(*GStack());
  EXPECT_TRUE(stack.SupportsIPv4());
  EXPECT_TRUE(stack.SupportsIPv6()) << "this machine's loopback has ::1";
  EXPECT_TRUE(stack.CheckIPVersionSupport(Id_IPv4));
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  EXPECT_EQ(stack.HostName(), FromUtf8(name));

  test::TFullBacklogListener full;
  TIdStackSocketHandle s = stack.NewSocketHandle(Id_SOCK_STREAM, Id_IPPROTO_IP);
  stack.SetBlocking(s, false);
  try {
    stack.Connect(s, u"127.0.0.1", full.Port());
    ADD_FAILURE() << "connected at once";
  } catch (const EIdSocketError& e) {
    EXPECT_TRUE(stack.WouldBlock(e.LastError())) << e.LastError();
    EXPECT_EQ(stack.WSGetLastError(), e.LastError());
  }
  stack.Disconnect(s, 0);

  TConnected conn;
  ASSERT_TRUE(test::SendAll(conn.Peer.Get(), "12345"));
  ASSERT_TRUE(conn.Handle.Readable(2000));
  uint32_t pending = 0;
  EXPECT_EQ(stack.IOControl(conn.Handle.Handle(), Id_FIONREAD, pending), 0);
  EXPECT_EQ(pending, 5u);
}

TEST(SocketHandle, DatagramsRoundTripOnLoopback) {
  TIdSocketHandle a, b;
  for (TIdSocketHandle* h : {&a, &b}) {
    h->AllocateSocket(Id_SOCK_DGRAM, Id_IPPROTO_UDP);
    h->SetIP(u"127.0.0.1");
    h->Bind();
  }
  EXPECT_EQ(a.SocketType(), Id_SOCK_DGRAM);
  EXPECT_EQ(b.SendTo(a.IP(), a.Port(), TIdBytes{1, 2, 3}), 3);
  ASSERT_TRUE(a.Readable(2000));
  TIdBytes buf(16);
  String ip;
  uint16_t port = 0;
  TIdIPVersion version = Id_IPv6;
  EXPECT_EQ(a.RecvFrom(buf, ip, port, version), 3);
  EXPECT_EQ(ip, u"127.0.0.1");
  EXPECT_EQ(port, b.Port());
  EXPECT_EQ(version, Id_IPv4);
}

}  // namespace
}  // namespace vyn

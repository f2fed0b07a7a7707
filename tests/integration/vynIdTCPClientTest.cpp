// The TCP client and the stack handler against real loopback peers.
#include "vynIdTCPClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <gtest/gtest.h>

#include "vynIdIOHandlerStack.h"
#include "vynIdResourceStrings.h"
#include "vynLoopbackPeer.h"
#include "vynScriptedPeer.h"
#include "vynRecordingStream.h"

namespace vyn {
namespace {

using test::TScriptedPeer;
using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point AStart) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - AStart).count();
}

// A loopback port with nothing listening on it.
uint16_t ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

using TMemoryWrites = test::TRecordingStream;

struct TClientFixture : ::testing::Test {
  TIdTCPClient client;
  std::vector<String> statuses;
  void SetUp() override {
    client.OnStatus = [this](TObject*, TIdStatus, const String& AText) { statuses.push_back(AText); };
  }
  void ConnectTo(TScriptedPeer& APeer, const String& AHost = u"127.0.0.1") {
    APeer.Start();
    client.SetHost(AHost);
    client.SetPort(APeer.Port());
    client.Connect();
  }
  void ExpectPeerDone(TScriptedPeer& APeer) {
    EXPECT_TRUE(APeer.Join());
    for (const auto& e : APeer.Errors()) ADD_FAILURE() << "peer: " << e;
  }
};

TEST_F(TClientFixture, ConnectAndDisconnectReportTheirStatusesOnce) {
  TScriptedPeer peer;
  peer.Expect("GET\r\n").Write("OK\r\n").ReadUntilClose();
  ConnectTo(peer, u"localhost");
  EXPECT_TRUE(client.Connected());
  ASSERT_NE(client.IOHandler(), nullptr);
  EXPECT_TRUE(client.ManagedIOHandler());
  EXPECT_EQ(client.Socket(), client.IOHandler());
  client.IOHandler()->WriteLn(u"GET");
  EXPECT_EQ(client.IOHandler()->ReadLn(), u"OK");
  client.Disconnect();
  client.Disconnect();
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(statuses, (std::vector<String>{u"Resolving hostname localhost.", u"Connecting to 127.0.0.1.",
                                           u"Connected.", u"Disconnecting.", u"Disconnected."}));
  ExpectPeerDone(peer);
  // Reading after a disconnect finds the connection gone.
  EXPECT_THROW(client.IOHandler()->ReadLn(), EIdConnClosedGracefully);
}

TEST_F(TClientFixture, NumericHostIsNotResolvedAndSecondConnectIsRefused) {
  TScriptedPeer peer;
  peer.Expect("ping\r\n").Write("pong\r\n").ReadUntilClose();
  ConnectTo(peer);
  EXPECT_EQ(statuses, (std::vector<String>{u"Connecting to 127.0.0.1.", u"Connected."}));
  TIdIOHandler* handler = client.IOHandler();
  try {
    client.Connect();
    FAIL() << "no error";
  } catch (const EIdAlreadyConnected& e) {
    EXPECT_EQ(e.Message(), RSAlreadyConnected);
  }
  // The connection is as it was.
  EXPECT_EQ(client.IOHandler(), handler);
  client.IOHandler()->WriteLn(u"ping");
  EXPECT_EQ(client.IOHandler()->ReadLn(), u"pong");
  client.Disconnect();
  ExpectPeerDone(peer);
}

TEST_F(TClientFixture, MissingHostOrPort) {
  EXPECT_THROW(client.Connect(), EIdHostRequired);
  client.SetHost(u"127.0.0.1");
  EXPECT_THROW(client.Connect(), EIdPortRequired);
  EXPECT_EQ(client.IOHandler(), nullptr);
}

TEST_F(TClientFixture, RefusedConnectLeavesNoHandlerAndCanBeRetried) {
  client.SetHost(u"127.0.0.1");
  client.SetPort(ClosedPort());
  try {
    client.Connect();
    FAIL() << "no error";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10061);
    EXPECT_EQ(e.Message(), u"Socket Error # 10061\r\nConnection refused.");
  }
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_FALSE(client.Connected());
  TScriptedPeer peer;
  peer.ReadUntilClose();
  ConnectTo(peer);
  EXPECT_TRUE(client.Connected());
  client.Disconnect();
  ExpectPeerDone(peer);
}

TEST_F(TClientFixture, ConnectTimeoutEndsOnTimeAndLeavesNothingBehind) {
  test::TFullBacklogListener listener;
  const int fdsBefore = test::OpenFileDescriptorCount();
  const int threadsBefore = test::ThreadCount();
  client.SetHost(u"127.0.0.1");
  client.SetPort(listener.Port());
  client.SetConnectTimeout(500);
  const auto start = Clock::now();
  try {
    client.Connect();
    FAIL() << "connected through a full listen queue";
  } catch (const EIdConnectTimeout& e) {
    EXPECT_EQ(e.Message(), RSConnectTimeout);
  }
  const int64_t elapsed = MsSince(start);
  EXPECT_GE(elapsed, 450);
  EXPECT_LT(elapsed, 1500);
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(test::OpenFileDescriptorCount(), fdsBefore);
  EXPECT_EQ(test::ThreadCount(), threadsBefore);
}

TEST_F(TClientFixture, PositiveConnectTimeoutConnectsThroughTheConnectThread) {
  TScriptedPeer peer;
  peer.Write("hi\n").ReadUntilClose();
  client.SetConnectTimeout(2000);
  ConnectTo(peer);
  EXPECT_EQ(client.IOHandler()->ReadLn(), u"hi");
  client.Disconnect();
  ExpectPeerDone(peer);
}

TEST_F(TClientFixture, ReadTimeoutsAreKept) {
  TScriptedPeer peer;
  peer.Write("par").ReadUntilClose();
  client.SetReadTimeout(200);
  ConnectTo(peer);
  TIdIOHandler* io = client.IOHandler();
  EXPECT_EQ(io->ReadTimeout(), 200);
  auto start = Clock::now();
  try {
    TIdBytes b;
    io->ReadBytes(b, 10);
    FAIL() << "no time-out";
  } catch (const EIdReadTimeout& e) {
    EXPECT_EQ(e.Message(), RSReadTimeout);
  }
  EXPECT_GE(MsSince(start), 150);
  EXPECT_LT(MsSince(start), 1000);
  // An explicit ReadLn time-out is a deadline for the whole line.
  start = Clock::now();
  EXPECT_EQ(io->ReadLn(u"\n", 100), u"");
  EXPECT_TRUE(io->ReadLnTimedout());
  EXPECT_GE(MsSince(start), 90);
  EXPECT_LT(MsSince(start), 600);
  EXPECT_EQ(io->InputBufferAsString(), u"par");  // nothing lost
  client.Disconnect();
  ExpectPeerDone(peer);
}

TEST_F(TClientFixture, ReadStreamUntilCloseGetsOneWritePerReceive) {
  TScriptedPeer peer;
  peer.Write("one").Pause(80).Write("two").Pause(80).Write("three").Close();
  ConnectTo(peer);
  TMemoryWrites stream;
  client.IOHandler()->ReadStream(&stream, -1, true);
  EXPECT_EQ(stream.Text(), "onetwothree");
  EXPECT_EQ(stream.Writes, (std::vector<int64_t>{3, 3, 5}));
  EXPECT_FALSE(client.Connected());
  ExpectPeerDone(peer);
}

TEST_F(TClientFixture, PeerCloseWhileCountedDataIsAwaited) {
  TScriptedPeer peer;
  peer.Write("abcd").Close();
  ConnectTo(peer);
  TMemoryWrites stream;
  EXPECT_THROW(client.IOHandler()->ReadStream(&stream, 10), EIdConnClosedGracefully);
  EXPECT_EQ(stream.Text(), "abcd");
  ExpectPeerDone(peer);
}

TEST_F(TClientFixture, ConnectedStaysTrueUntilBufferedInputIsRead) {
  TScriptedPeer peer;
  peer.Write("last words\n").Close();
  ConnectTo(peer);
  TIdIOHandler* io = client.IOHandler();
  io->CheckForDataOnSource(1000);
  // Let the close arrive; Connected picks it up but the line is still there.
  for (int i = 0; i < 50 && !io->ClosedGracefully(); ++i) {
    io->FillInputBuffer(false, 20, false);
  }
  EXPECT_TRUE(io->ClosedGracefully());
  EXPECT_TRUE(client.Connected());
  EXPECT_EQ(io->ReadLn(), u"last words");
  EXPECT_FALSE(client.Connected());
  EXPECT_THROW(io->ReadLn(), EIdConnClosedGracefully);
  ExpectPeerDone(peer);
}

TEST_F(TClientFixture, ResetPeerEndsTheConnection) {
  TScriptedPeer peer;
  peer.Expect("x").Reset();
  ConnectTo(peer);
  client.IOHandler()->Write(u"x");
  ExpectPeerDone(peer);
  try {
    client.IOHandler()->ReadLn();
    FAIL() << "no error";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10054);
  } catch (const EIdConnClosedGracefully&) {
  }
  EXPECT_FALSE(client.Connected());
}

TEST_F(TClientFixture, CommandLayerReadsMultiLineReplies) {
  TScriptedPeer peer;
  peer.Expect("HELO me\r\n").Write("250-hello\r\n250 ok\r\n").Expect("BAD\r\n").Write("550 no way\r\n").ReadUntilClose();
  ConnectTo(peer);
  EXPECT_EQ(client.SendCmd(u"HELO me", 250), 250);
  EXPECT_EQ(client.LastCmdResult().Text().Text(), u"hello\r\nok\r\n");
  try {
    client.SendCmd(u"BAD", 250);
    FAIL() << "no error";
  } catch (const EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 550);
    EXPECT_EQ(e.Message(), u"no way");
  }
  client.Disconnect();
  ExpectPeerDone(peer);
}

TEST(TCPConnection, WithoutHandler) {
  TIdTCPConnection connection;
  EXPECT_FALSE(connection.Connected());
  try {
    connection.CheckForGracefulDisconnect();
    FAIL() << "no error";
  } catch (const EIdNotConnected&) {
    FAIL() << "the graceful-disconnect check raises plain EIdException";
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), RSNotConnected);
  }
  EXPECT_NO_THROW(connection.CheckForGracefulDisconnect(false));
  EXPECT_THROW(connection.SendCmd(u"NOOP"), EIdNotConnected);
  connection.Disconnect();  // nothing to do, nothing reported
}

TEST(TCPConnection, HandlerAndInterceptAssignment) {
  TIdTCPClient client;
  client.SetReadTimeout(2000);
  client.SetHost(u"example.invalid");
  client.SetPort(8080);
  TIdIOHandlerStack handler;
  client.SetIOHandler(&handler);
  EXPECT_EQ(handler.ReadTimeout(), 2000);
  EXPECT_EQ(handler.Host(), u"example.invalid");
  EXPECT_EQ(handler.Port(), 8080);
  EXPECT_FALSE(client.ManagedIOHandler());
  EXPECT_EQ(handler.WorkTarget(), &client);

  TIdConnectionIntercept mine, other;
  client.SetIntercept(&mine);
  EXPECT_EQ(handler.Intercept(), &mine);
  client.SetIntercept(nullptr);  // detaching is always allowed
  EXPECT_EQ(handler.Intercept(), nullptr);
  handler.SetIntercept(&other);
  try {
    client.SetIntercept(&mine);
    FAIL() << "no error";
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), RSInterceptIsDifferent);
  }
  client.SetIOHandler(nullptr);
  EXPECT_EQ(handler.WorkTarget(), nullptr);
  {
    // A handler destroyed elsewhere is forgotten.
    auto temp = std::make_unique<TIdIOHandlerStack>();
    client.SetIOHandler(temp.get());
    temp.reset();
    EXPECT_EQ(client.IOHandler(), nullptr);
  }
  client.CreateIOHandler();
  ASSERT_NE(client.IOHandler(), nullptr);
  EXPECT_EQ(client.IOHandler()->ClassName(), u"TIdIOHandlerStack");
  EXPECT_TRUE(client.ManagedIOHandler());
}

}  // namespace
}  // namespace vyn

// ssecat as a user runs it: the body's bytes on standard output exactly, failures with
// the library's message, and Ctrl-C ending a stream that sends nothing.
#include <gtest/gtest.h>

#include <signal.h>

#include "vynChildProcess.h"
#include "vynScriptedPeer.h"

namespace vyn::test {
namespace {

std::string URLOf(const TScriptedPeer& APeer) { return "http://127.0.0.1:" + std::to_string(APeer.Port()) + "/sse"; }

TEST(ssecat, WritesEveryByteOfTheBodyAndExitsWithZero) {
  TScriptedPeer peer;
  peer.ReadUntil("\r\n\r\n")
      .Write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n")
      .Write("5\r\nid: 1\r\n")
      .Pause(20)
      .Write("4\r\n\n\xC3\xA9\n\r\n0\r\n\r\n")
      .Close();
  peer.Start();
  TChildProcess cat(VYN_SSECAT, {"--header", "X-Test: yes", URLOf(peer)});
  EXPECT_EQ(cat.WaitForExit(5000), 0) << cat.Stderr();
  EXPECT_EQ(cat.Stdout(), "id: 1\n\xC3\xA9\n");
  EXPECT_TRUE(peer.Join());
  EXPECT_NE(peer.Received().find("\r\nX-Test: yes\r\n"), std::string::npos);
  EXPECT_NE(peer.Received().find("\r\nAccept: text/event-stream;charset=UTF-8\r\n"), std::string::npos);
}

TEST(ssecat, FailuresAndBadUsageHaveTheirOwnStatus) {
  TScriptedPeer peer;
  peer.ReadUntil("\r\n\r\n").Write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n").Close();
  peer.Start();
  TChildProcess missing(VYN_SSECAT, {URLOf(peer)});
  EXPECT_EQ(missing.WaitForExit(5000), 1);
  EXPECT_EQ(missing.Stderr(), "ssecat: HTTP/1.1 404 Not Found\n");
  TChildProcess usage(VYN_SSECAT, {"--read-timeout", "soon", "http://127.0.0.1:1/"});
  EXPECT_EQ(usage.WaitForExit(5000), 2);
  EXPECT_NE(usage.Stderr().find("usage: ssecat"), std::string::npos);
}

TEST(ssecat, CtrlCEndsAQuietStreamAtOnce) {
  TScriptedPeer peer;
  peer.ReadUntil("\r\n\r\n")
      .Write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n6\r\nfirst\n\r\n")
      .Pause(5000)
      .StepTimeout(1000);
  peer.Start();
  TChildProcess cat(VYN_SSECAT, {URLOf(peer)});
  ASSERT_TRUE(cat.WaitForOutput("first\n", 5000)) << cat.Stderr();
  const auto start = std::chrono::steady_clock::now();
  cat.Signal(SIGINT);
  EXPECT_EQ(cat.WaitForExit(2000), 0) << cat.Stderr();
  EXPECT_LT(MsSince(start), 1000);
  peer.Stop();
}

}  // namespace
}  // namespace vyn::test

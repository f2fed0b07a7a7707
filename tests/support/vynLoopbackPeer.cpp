#include "vynLoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace vyn::test {

TFd::~TFd() { Reset(); }

TFd& TFd::operator=(TFd&& AOther) noexcept {
  if (this != &AOther) Reset(AOther.Release());
  return *this;
}

int TFd::Release() {
  int fd = FFd;
  FFd = -1;
  return fd;
}

void TFd::Reset(int AFd) {
  if (FFd >= 0) ::close(FFd);
  FFd = AFd;
}

namespace {

[[noreturn]] void Fail(const char* AWhat) {
  throw std::runtime_error(std::string(AWhat) + ": " + std::strerror(errno));
}

uint16_t LocalPort(int AFd) {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (::getsockname(AFd, reinterpret_cast<sockaddr*>(&ss), &len) < 0) Fail("getsockname");
  if (ss.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
}

sockaddr_in Loopback4(uint16_t APort) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(APort);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

}  // namespace

TLoopbackListener::TLoopbackListener(bool AIPv6, int ABacklog) {
  FSocket.Reset(::socket(AIPv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!FSocket) Fail("socket");
  int rc;
  if (AIPv6) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    rc = ::bind(FSocket.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
  } else {
    sockaddr_in a = Loopback4(0);
    rc = ::bind(FSocket.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  if (rc < 0) Fail("bind");
  if (::listen(FSocket.Get(), ABacklog) < 0) Fail("listen");
  FPort = LocalPort(FSocket.Get());
}

TFd TLoopbackListener::Accept(int ATimeoutMs) {
  pollfd p{FSocket.Get(), POLLIN, 0};
  if (::poll(&p, 1, ATimeoutMs) != 1) {
    ADD_FAILURE() << "no connection arrived within " << ATimeoutMs << " ms";
    return TFd();
  }
  return TFd(::accept4(FSocket.Get(), nullptr, nullptr, SOCK_CLOEXEC));
}

TPeerEnd ReadUntilEnd(int AFd, int ATimeoutMs) {
  TPeerEnd end;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()).count();
    pollfd p{AFd, POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) == 0) {
      end.TimedOut = true;
      return end;
    }
    char buf[4096];
    ssize_t n = ::recv(AFd, buf, sizeof buf, 0);
    if (n > 0) {
      end.Data.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      end.EndOfStream = true;
      return end;
    } else if (errno != EINTR) {
      end.Error = errno;
      return end;
    }
  }
}

bool SendAll(int AFd, const std::string& AData) {
  size_t done = 0;
  while (done < AData.size()) {
    ssize_t n = ::send(AFd, AData.data() + done, AData.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

TFullBacklogListener::TFullBacklogListener() : FListener(false, 0) {
  // With a backlog of 0 the queue holds one connection; the next SYNs are dropped.
  for (int i = 0; i < 3; ++i) {
    TFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) Fail("socket");
    sockaddr_in a = Loopback4(FListener.Port());
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 && errno != EINPROGRESS) {
      Fail("connect");
    }
    FQueued.push_back(std::move(fd));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the first handshake complete
}

TClosedPort::TClosedPort() {
  FSocket.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!FSocket) Fail("socket");
  sockaddr_in a = Loopback4(0);
  if (::bind(FSocket.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) Fail("bind");
  FPort = LocalPort(FSocket.Get());
}

TFd BindLoopbackPort(uint16_t APort) {
  TFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) Fail("socket");
  sockaddr_in a = Loopback4(APort);
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) return TFd();
  return fd;
}

uint16_t FindFreePortRange(int ACount) {
  // Start below the ephemeral range (32768 and up) so that the system's own port
  // choices rarely collide, and at a point that differs between test processes.
  const int low = 20000, high = 32000;
  int start = low + static_cast<int>(::getpid() * 37 % (high - low));
  for (int tries = 0; tries < 200; ++tries) {
    int base = low + (start - low + tries * 7) % (high - low - ACount);
    bool free = true;
    for (int p = base; p < base + ACount && free; ++p) free = static_cast<bool>(BindLoopbackPort(static_cast<uint16_t>(p)));
    if (free) return static_cast<uint16_t>(base);
  }
  throw std::runtime_error("no free port range found on 127.0.0.1");
}

TFd ConnectLoopback(uint16_t APort) {
  TFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return fd;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(APort);
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) return TFd();
  return fd;
}

}  // namespace vyn::test

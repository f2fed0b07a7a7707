#include "vynLoopbackResolver.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace vyn::test {

namespace {

[[noreturn]] void Fail(const std::string& AWhat) {
  throw std::runtime_error("cannot make name resolution loopback-only (" + AWhat + ": " +
                           std::strerror(errno) + "); this test needs root");
}

void BringLoopbackUp() {
  TFd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!s) Fail("socket");
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  if (::ioctl(s.Get(), SIOCGIFFLAGS, &ifr) < 0) Fail("reading the flags of lo");
  ifr.ifr_flags |= IFF_UP;
  if (::ioctl(s.Get(), SIOCSIFFLAGS, &ifr) < 0) Fail("bringing lo up");
}

void MountResolvConf() {
  char path[] = "/tmp/vyn-resolv-XXXXXX";
  int fd = ::mkstemp(path);
  if (fd < 0) Fail("mkstemp");
  const char text[] = "nameserver 127.0.0.1\n";
  bool written = ::write(fd, text, sizeof text - 1) == static_cast<ssize_t>(sizeof text - 1);
  ::close(fd);
  if (!written) {
    ::unlink(path);
    Fail("writing the resolver configuration");
  }
  ::chmod(path, 0644);
  int rc = ::mount(path, "/etc/resolv.conf", nullptr, MS_BIND, nullptr);
  ::unlink(path);  // the mount keeps the file alive
  if (rc < 0) Fail("bind-mounting over /etc/resolv.conf");
}

void PutU16(std::string& AOut, uint16_t AValue) {
  AOut.push_back(static_cast<char>(AValue >> 8));
  AOut.push_back(static_cast<char>(AValue & 0xFF));
}

}  // namespace

TLoopbackResolver::TLoopbackResolver() {
  // Once per process: later resolvers (when all tests share one process) reuse the
  // namespaces and only start their own responder.
  static std::mutex isolating;
  static bool isolated = false;
  {
    std::lock_guard<std::mutex> lock(isolating);
    if (!isolated) {
      if (::unshare(CLONE_NEWNS | CLONE_NEWNET) < 0) Fail("unshare");
      if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) < 0) Fail("making / private");
      MountResolvConf();
      BringLoopbackUp();
      isolated = true;
    }
  }

  FSocket.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!FSocket) Fail("socket");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(53);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(FSocket.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) Fail("binding 127.0.0.1:53");
  FThread = std::thread([this] { Serve(); });
}

TLoopbackResolver::~TLoopbackResolver() {
  FStop = true;
  if (FThread.joinable()) FThread.join();
}

void TLoopbackResolver::AddHost(const std::string& AName, const std::string& AIPv4, const std::string& AIPv6) {
  std::string name = AName;
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  std::lock_guard<std::mutex> lock(FLock);
  FHosts[name] = THost{AIPv4, AIPv6};
}

std::vector<std::string> TLoopbackResolver::Queries() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FQueries;
}

void TLoopbackResolver::Serve() {
  while (!FStop) {
    pollfd p{FSocket.Get(), POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    unsigned char q[512];
    sockaddr_storage from{};
    socklen_t fromLen = sizeof from;
    ssize_t n = ::recvfrom(FSocket.Get(), q, sizeof q, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 12) continue;

    // Question: labels, then type and class.
    size_t pos = 12;
    std::string name;
    bool ok = true;
    while (ok) {
      if (pos >= static_cast<size_t>(n)) {
        ok = false;
        break;
      }
      const unsigned len = q[pos++];
      if (len == 0) break;
      if (len > 63 || pos + len > static_cast<size_t>(n)) {
        ok = false;
        break;
      }
      if (!name.empty()) name += '.';
      for (unsigned i = 0; i < len; ++i) name += static_cast<char>(std::tolower(q[pos + i]));
      pos += len;
    }
    if (!ok || pos + 4 > static_cast<size_t>(n)) continue;
    const uint16_t qtype = static_cast<uint16_t>(q[pos] << 8 | q[pos + 1]);
    const size_t questionEnd = pos + 4;

    std::string address;
    bool known;
    {
      std::lock_guard<std::mutex> lock(FLock);
      FQueries.push_back(name + (qtype == 1 ? " A" : qtype == 28 ? " AAAA" : " " + std::to_string(qtype)));
      auto it = FHosts.find(name);
      known = it != FHosts.end();
      if (known) address = qtype == 1 ? it->second.IPv4 : qtype == 28 ? it->second.IPv6 : std::string();
    }

    unsigned char raw[16];
    bool answer = false;
    if (!address.empty()) {
      answer = ::inet_pton(qtype == 1 ? AF_INET : AF_INET6, address.c_str(), raw) == 1;
    }

    std::string r(reinterpret_cast<const char*>(q), 2);  // the query's id
    const bool rd = q[2] & 0x01;
    r.push_back(static_cast<char>(0x84 | (rd ? 0x01 : 0x00)));  // response, authoritative
    r.push_back(static_cast<char>(0x80 | (known ? 0 : 3)));     // recursion available; NXDOMAIN
    PutU16(r, 1);                                               // one question
    PutU16(r, answer ? 1 : 0);
    PutU16(r, 0);
    PutU16(r, 0);
    r.append(reinterpret_cast<const char*>(q) + 12, questionEnd - 12);
    if (answer) {
      PutU16(r, 0xC00C);  // the name of the question
      PutU16(r, qtype);
      PutU16(r, 1);  // class IN
      PutU16(r, 0);
      PutU16(r, 60);  // TTL
      const uint16_t len = qtype == 1 ? 4 : 16;
      PutU16(r, len);
      r.append(reinterpret_cast<const char*>(raw), len);
    }
    ::sendto(FSocket.Get(), r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
  }
}

}  // namespace vyn::test

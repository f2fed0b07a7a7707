// Name resolution that cannot leave the machine, for tests that look names up.
//
// TLoopbackResolver moves the calling process into a private mount namespace and a
// private network namespace (with only its own loopback interface up), bind-mounts a
// resolv.conf naming 127.0.0.1 over /etc/resolv.conf, and answers the queries itself
// with a small DNS responder on 127.0.0.1:53: the names added with AddHost get their
// addresses, every other name is answered "no such name" (NXDOMAIN).
//
// It needs root (as tests run in CI) and changes the process for good: the isolation
// happens once, at the first resolver, and must come before the process's first lookup
// (each discovered test runs in its own process; when all share one, the later tests
// go on in the isolated namespaces, where loopback still works). When the isolation fails, the constructor
// throws std::runtime_error saying why; the test then fails instead of sending queries
// to the machine's real name server.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vynLoopbackPeer.h"

namespace vyn::test {

class TLoopbackResolver {
public:
  TLoopbackResolver();
  ~TLoopbackResolver();
  TLoopbackResolver(const TLoopbackResolver&) = delete;
  TLoopbackResolver& operator=(const TLoopbackResolver&) = delete;

  // AName (ASCII, any case) answers A with AIPv4 and AAAA with AIPv6 (either may be
  // empty: no record of that type).
  void AddHost(const std::string& AName, const std::string& AIPv4, const std::string& AIPv6);
  // The names asked for, lower-case, in order of arrival, with their query type
  // ("A", "AAAA" or the number).
  std::vector<std::string> Queries() const;

private:
  void Serve();

  struct THost {
    std::string IPv4, IPv6;
  };
  mutable std::mutex FLock;
  std::map<std::string, THost> FHosts;
  std::vector<std::string> FQueries;
  TFd FSocket;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

}  // namespace vyn::test

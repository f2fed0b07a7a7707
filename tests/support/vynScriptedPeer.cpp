#include "vynScriptedPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace vyn::test {

namespace {

int ListenOnLoopback(int ABacklog, uint16_t& VPort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, ABacklog) != 0) {
    const std::string err = std::strerror(errno);
    ::close(fd);
    throw std::runtime_error("bind/listen: " + err);
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  VPort = ntohs(addr.sin_port);
  return fd;
}

}  // namespace

TScriptedPeer::TScriptedPeer(int ABacklog) { FListener = ListenOnLoopback(ABacklog, FPort); }

TScriptedPeer::~TScriptedPeer() {
  Stop();
  if (FConnection >= 0) ::close(FConnection);
  if (FListener >= 0) ::close(FListener);
}

TScriptedPeer& TScriptedPeer::Expect(std::string_view ABytes) {
  FSteps.push_back(TStep{TStep::skExpect, std::string(ABytes), 0});
  return *this;
}
TScriptedPeer& TScriptedPeer::Read(int ACount) {
  FSteps.push_back(TStep{TStep::skRead, {}, ACount});
  return *this;
}
TScriptedPeer& TScriptedPeer::ReadUntilClose() {
  FSteps.push_back(TStep{TStep::skReadUntilClose, {}, 0});
  return *this;
}
TScriptedPeer& TScriptedPeer::ReadUntil(std::string_view AEnd) {
  FSteps.push_back(TStep{TStep::skReadUntil, std::string(AEnd), 0});
  return *this;
}
TScriptedPeer& TScriptedPeer::Write(std::string_view ABytes) {
  FSteps.push_back(TStep{TStep::skWrite, std::string(ABytes), 0});
  return *this;
}
TScriptedPeer& TScriptedPeer::WriteRepeated(std::string_view ABytes, int ACount) {
  FSteps.push_back(TStep{TStep::skWriteRepeated, std::string(ABytes), ACount});
  return *this;
}
TScriptedPeer& TScriptedPeer::Pause(int AMSec) {
  FSteps.push_back(TStep{TStep::skPause, {}, AMSec});
  return *this;
}
TScriptedPeer& TScriptedPeer::Close() {
  FSteps.push_back(TStep{TStep::skClose, {}, 0});
  return *this;
}
TScriptedPeer& TScriptedPeer::Reset() {
  FSteps.push_back(TStep{TStep::skReset, {}, 0});
  return *this;
}

TScriptedPeer& TScriptedPeer::Do(std::function<void()> AAction) {
  FSteps.push_back(TStep{TStep::skDo, {}, 0, std::move(AAction)});
  return *this;
}
TScriptedPeer& TScriptedPeer::StepTimeout(int AMSec) {
  FStepTimeout = AMSec;
  return *this;
}

void TScriptedPeer::Start() {
  if (FThread.joinable()) return;
  FThread = std::thread([this] {
    Run();
    FDone = true;
  });
}

bool TScriptedPeer::Join(int AMSec) {
  if (!FThread.joinable()) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMSec);
  while (!FDone && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (!FDone) return false;
  FThread.join();
  return true;
}

void TScriptedPeer::Stop() {
  FStop = true;
  if (FThread.joinable()) FThread.join();
}

std::string TScriptedPeer::Received() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FReceived;
}

std::vector<std::string> TScriptedPeer::Errors() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FErrors;
}

void TScriptedPeer::Error(const std::string& AText) {
  std::lock_guard<std::mutex> guard(FLock);
  FErrors.push_back(AText);
}

// Waits in short slices so that Stop is noticed quickly.
bool TScriptedPeer::WaitReadable(int AFd, int AMSec) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMSec);
  while (!FStop) {
    pollfd p{AFd, POLLIN, 0};
    const int r = ::poll(&p, 1, 20);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
  return false;
}

bool TScriptedPeer::WaitWritable(int AFd, int AMSec) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMSec);
  while (!FStop) {
    pollfd p{AFd, POLLOUT, 0};
    const int r = ::poll(&p, 1, 20);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
  return false;
}

void TScriptedPeer::Run() {
  if (!WaitReadable(FListener, FStepTimeout)) {
    if (!FStop) Error("no connection within the step time-out");
    return;
  }
  FConnection = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
  if (FConnection < 0) {
    Error("accept: " + std::string(std::strerror(errno)));
    return;
  }
  FAccepted = true;
  const int one = 1;
  ::setsockopt(FConnection, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  for (const TStep& step : FSteps) {
    if (FStop) return;
    switch (step.Kind) {
      case TStep::skExpect:
      case TStep::skRead: {
        const size_t want = step.Kind == TStep::skExpect ? step.Bytes.size() : static_cast<size_t>(step.Count);
        std::string got;
        while (got.size() < want) {
          if (!WaitReadable(FConnection, FStepTimeout)) {
            if (!FStop) Error("timed out reading " + std::to_string(want) + " bytes, got '" + got + "'");
            return;
          }
          char buf[4096];
          const ssize_t n = ::recv(FConnection, buf, std::min(sizeof buf, want - got.size()), 0);
          if (n <= 0) {
            Error("client closed while " + std::to_string(want) + " bytes were expected, got '" + got + "'");
            return;
          }
          got.append(buf, static_cast<size_t>(n));
        }
        {
          std::lock_guard<std::mutex> guard(FLock);
          FReceived += got;
        }
        if (step.Kind == TStep::skExpect && got != step.Bytes) Error("expected '" + step.Bytes + "', got '" + got + "'");
        break;
      }
      case TStep::skReadUntilClose:
        for (;;) {
          if (!WaitReadable(FConnection, FStepTimeout)) {
            if (!FStop) Error("client did not close");
            return;
          }
          char buf[4096];
          const ssize_t n = ::recv(FConnection, buf, sizeof buf, 0);
          if (n <= 0) break;
          std::lock_guard<std::mutex> guard(FLock);
          FReceived.append(buf, static_cast<size_t>(n));
        }
        break;
      case TStep::skReadUntil: {
        // One byte at a time, so that nothing after the terminator is taken from the
        // next step.
        std::string got;
        while (got.size() < step.Bytes.size() || got.compare(got.size() - step.Bytes.size(), step.Bytes.size(), step.Bytes) != 0) {
          if (!WaitReadable(FConnection, FStepTimeout)) {
            if (!FStop) Error("timed out waiting for '" + step.Bytes + "', got '" + got + "'");
            return;
          }
          char c;
          if (::recv(FConnection, &c, 1, 0) != 1) {
            Error("client closed while waiting for '" + step.Bytes + "', got '" + got + "'");
            return;
          }
          got += c;
        }
        std::lock_guard<std::mutex> guard(FLock);
        FReceived += got;
        break;
      }
      case TStep::skWrite: {
        size_t done = 0;
        while (done < step.Bytes.size()) {
          const ssize_t n = ::send(FConnection, step.Bytes.data() + done, step.Bytes.size() - done, MSG_NOSIGNAL);
          if (n <= 0) {
            Error("send failed: " + std::string(std::strerror(errno)));
            return;
          }
          done += static_cast<size_t>(n);
        }
        break;
      }
      case TStep::skWriteRepeated: {
        // Whole pieces of about 64 KiB, so that the sends stay few.
        const int perPiece = std::max<int>(1, static_cast<int>(65536 / std::max<size_t>(step.Bytes.size(), 1)));
        std::string piece;
        for (int i = 0; i < perPiece; ++i) piece += step.Bytes;
        for (int left = step.Count; left > 0 && !FStop;) {
          const int n = std::min(left, perPiece);
          const std::string_view block(piece.data(), step.Bytes.size() * static_cast<size_t>(n));
          for (size_t done = 0; done < block.size();) {
            if (!WaitWritable(FConnection, FStepTimeout)) {
              if (!FStop) Error("timed out sending a repeated write");
              return;
            }
            const ssize_t sent = ::send(FConnection, block.data() + done, block.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (sent <= 0) return;  // the client has had enough and closed
            done += static_cast<size_t>(sent);
          }
          left -= n;
        }
        break;
      }
      case TStep::skPause: {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(step.Count);
        while (!FStop && std::chrono::steady_clock::now() < until)
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        break;
      }
      case TStep::skClose:
        ::shutdown(FConnection, SHUT_WR);
        // Hold the socket until the client closes too, so that nothing the client still
        // sends turns into a reset.
        WaitReadable(FConnection, FStepTimeout);
        ::close(FConnection);
        FConnection = -1;
        return;
      case TStep::skDo:
        step.Action();
        break;
      case TStep::skReset: {
        linger l{1, 0};
        ::setsockopt(FConnection, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        ::close(FConnection);
        FConnection = -1;
        return;
      }
    }
  }
}

int OpenFileDescriptorCount() {
  int n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec); !ec && it != std::filesystem::directory_iterator();
       it.increment(ec))
    ++n;
  return n;
}

int ThreadCount() {
  int n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/task", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
    ++n;
  return n;
}

}  // namespace vyn::test

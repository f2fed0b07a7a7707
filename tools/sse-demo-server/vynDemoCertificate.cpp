#include "vynDemoCertificate.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace vyn::demo {

namespace {

// Runs AArgs[0] (searched on PATH) with its output to a pipe; the exit status, and
// the output in VOutput. Raises when the program cannot be started.
int RunProgram(const std::vector<std::string>& AArgs, std::string& VOutput) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  // The child starts with no signal blocked, whatever the caller's threads block.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  std::vector<char*> argv;
  for (const auto& a : AArgs) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    throw std::runtime_error("cannot start " + AArgs[0] + ": " + std::strerror(rc) +
                             (rc == ENOENT ? " (install the Debian package openssl)" : ""));
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n > 0) VOutput.append(buffer, static_cast<size_t>(n));
    else if (n == 0 || errno != EINTR) break;
  }
  ::close(out[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

std::string DefaultCertificateFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && *cache) return std::string(cache) + "/vyn";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.cache/vyn";
  return std::string();
}

TDemoCertificate EnsureDemoCertificate(const std::string& AFolder, bool& VMade) {
  namespace fs = std::filesystem;
  VMade = false;
  if (AFolder.empty()) throw std::runtime_error("no folder for the certificate: set XDG_CACHE_HOME or HOME");
  TDemoCertificate cert{AFolder + "/sse-demo-server-cert.pem", AFolder + "/sse-demo-server-key.pem"};
  std::error_code ec;
  if (fs::exists(cert.CertFile, ec) && fs::exists(cert.KeyFile, ec)) return cert;
  fs::create_directories(AFolder, ec);
  if (ec) throw std::runtime_error("cannot create " + AFolder + ": " + ec.message());
  // Made under temporary names and renamed, so that an interrupted start never leaves
  // a half-written pair that later starts would take as made.
  const std::string suffix = ".tmp" + std::to_string(::getpid());
  const std::string certTmp = cert.CertFile + suffix, keyTmp = cert.KeyFile + suffix;
  std::string output;
  const int status = RunProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                 "ec_paramgen_curve:prime256v1", "-nodes", "-sha256", "-days", "3650", "-subj",
                                 "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout",
                                 keyTmp, "-out", certTmp},
                                output);
  if (status != 0) {
    fs::remove(certTmp, ec);
    fs::remove(keyTmp, ec);
    throw std::runtime_error("openssl could not make the certificate (exit " + std::to_string(status) + "): " + output);
  }
  ::chmod(keyTmp.c_str(), 0600);
  fs::rename(keyTmp, cert.KeyFile, ec);
  if (!ec) fs::rename(certTmp, cert.CertFile, ec);
  if (ec) {
    fs::remove(certTmp, ec);
    fs::remove(keyTmp, ec);
    throw std::runtime_error("cannot store the certificate in " + AFolder);
  }
  VMade = true;
  return cert;
}

}  // namespace vyn::demo

#include "vynNginx.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "vynLoopbackPeer.h"

namespace vyn::test {

namespace fs = std::filesystem;

constexpr const char* kNginx = "/usr/sbin/nginx";

TNginx::TNginx() {
  char templ[] = "/tmp/vyn-nginx-XXXXXX";
  if (!::mkdtemp(templ)) throw std::runtime_error("cannot make a temporary folder for nginx");
  FPrefix = templ;
  FRoot = FPrefix + "/html";
  fs::create_directories(FRoot);
  fs::create_directories(FPrefix + "/tmp");
}

TNginx::~TNginx() {
  Stop();
  std::error_code ignored;
  fs::remove_all(FPrefix, ignored);
}

void TNginx::WriteFile(const std::string& ARelativePath, const std::string& AContent) {
  const fs::path path = fs::path(FRoot) / ARelativePath;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << AContent;
}

std::string TNginx::ErrorLog() const {
  std::ifstream in(FPrefix + "/error.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool TNginx::Start() {
  if (::access(kNginx, X_OK) != 0) {
    ADD_FAILURE() << "nginx is not installed (" << kNginx << "); install the Debian package nginx-light";
    return false;
  }
  FPort = FindFreePortRange(1);
  const std::string conf = FPrefix + "/nginx.conf";
  std::ofstream(conf) << "daemon off;\n"
                         "master_process off;\n"
                         "worker_processes 1;\n"
                         "pid " << FPrefix << "/nginx.pid;\n"
                         "error_log " << FPrefix << "/error.log warn;\n"
                         "events { worker_connections 64; }\n"
                         "http {\n"
                         "  access_log off;\n"
                         "  default_type application/octet-stream;\n"
                         "  types { text/html html; text/plain txt; }\n"
                         "  client_body_temp_path " << FPrefix << "/tmp/body;\n"
                         "  proxy_temp_path " << FPrefix << "/tmp/proxy;\n"
                         "  fastcgi_temp_path " << FPrefix << "/tmp/fastcgi;\n"
                         "  uwsgi_temp_path " << FPrefix << "/tmp/uwsgi;\n"
                         "  scgi_temp_path " << FPrefix << "/tmp/scgi;\n"
                         "  keepalive_timeout 30s;\n"
                         "  keepalive_requests 100;\n"
                         "  server {\n"
                         "    listen 127.0.0.1:" << FPort << ";\n"
                         "    server_name localhost;\n"
                         "    root " << FRoot << ";\n"
                         "    add_header X-Connection $connection always;\n"
                         "    location /chunked/ {\n"
                         "      alias " << FRoot << "/;\n"
                         "      ssi on;\n"
                         "      ssi_types *;\n"
                         "    }\n"
                         "    location = /missing { return 404 \"gone\\n\"; }\n"
                         "  }\n"
                         "}\n";
  const std::string errorLog = FPrefix + "/error.log";
  FPid = ::fork();
  if (FPid == 0) {
    ::execl(kNginx, kNginx, "-p", FPrefix.c_str(), "-c", conf.c_str(), "-e", errorLog.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (FPid < 0) {
    ADD_FAILURE() << "cannot start nginx";
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(FPid, &status, WNOHANG) == FPid) {
      FPid = -1;
      ADD_FAILURE() << "nginx ended at start:\n" << ErrorLog();
      return false;
    }
    if (!BindLoopbackPort(FPort)) return true;  // the port is taken: nginx listens
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ADD_FAILURE() << "nginx did not listen within 10 s:\n" << ErrorLog();
  Stop();
  return false;
}

void TNginx::Stop() {
  if (FPid <= 0) return;
  ::kill(FPid, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int status = 0;
  while (::waitpid(FPid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  FPid = -1;
}

}  // namespace vyn::test

// A real nginx for integration tests: started on 127.0.0.1 with a free port, a
// temporary prefix folder (configuration, document root, logs, temporary files) and
// stopped (and the folder removed) by the destructor.
//
//   TNginx nginx;
//   nginx.WriteFile("a.txt", "hello");
//   nginx.Start();                       // fails the test when nginx is missing
//   ... http://127.0.0.1:nginx.Port()/a.txt ...
//
// What the server offers besides the static files under Root():
//   /chunked/<file>    the file as a chunked answer (no length known in advance)
//   /missing           404 with the body "gone\n"
//   every answer       "X-Connection: <n>", nginx's serial number of the connection
// Keep-alive is on (100 requests, 30 s).
#pragma once

#include <string>
#include <sys/types.h>

namespace vyn::test {

class TNginx {
public:
  TNginx();
  ~TNginx();
  TNginx(const TNginx&) = delete;
  TNginx& operator=(const TNginx&) = delete;

  // A file under the document root (folders are made as needed).
  void WriteFile(const std::string& ARelativePath, const std::string& AContent);
  // Starts nginx and waits until it accepts connections. A missing nginx or a start
  // that fails is reported as a test failure (gtest ADD_FAILURE) naming the Debian
  // package; the result says whether the server runs.
  bool Start();
  void Stop();

  uint16_t Port() const { return FPort; }
  const std::string& Root() const { return FRoot; }
  // The error log, for failure messages.
  std::string ErrorLog() const;

private:
  std::string FPrefix;
  std::string FRoot;
  uint16_t FPort = 0;
  pid_t FPid = -1;
};

}  // namespace vyn::test

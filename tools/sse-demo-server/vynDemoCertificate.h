// The demo server's self-signed certificate for localhost and 127.0.0.1: made once
// with the openssl program (started without a shell) and kept in a folder.
#pragma once

#include <string>

namespace vyn::demo {

struct TDemoCertificate {
  std::string CertFile;
  std::string KeyFile;
};

// The folder certificates are kept in: $XDG_CACHE_HOME/vyn, else $HOME/.cache/vyn.
// Empty when neither variable is set.
std::string DefaultCertificateFolder();

// The certificate and key in AFolder, made when either is missing (the folder too).
// VMade tells whether they were made now. A failure raises std::runtime_error with a
// message that says what failed, including openssl's own report.
TDemoCertificate EnsureDemoCertificate(const std::string& AFolder, bool& VMade);

}  // namespace vyn::demo

// The enumerations of the client option records: TLS version and implementation,
// OpenSSL library selection, Schannel certificate stores and proxy kinds.
// Values keep their declaration order; code that maps them to numbers relies on it.
#pragma once

namespace vyn {

// tlsUndefined lets the handler negotiate any of TLS 1.0 to 1.3.
enum TwsTLSVersions { tlsUndefined, tls1_0, tls1_1, tls1_2, tls1_3 };

enum TwsTLSIOHandler { iohOpenSSL, iohSChannel };

// The OpenSSL API generation to load: 1.0, 1.1 or 3.x (numbered 0, 1, 2).
enum TwsOpenSSLAPI { oslAPI_1_0, oslAPI_1_1, oslAPI_3_0 };

// Where the OpenSSL files are looked for: the platform's search order, the program's
// folder, or a folder given by the application.
enum TwsOpenSSLLibPath { oslpNone, oslpDefaultFolder, oslpCustomPath };

enum TwsOpenSSLSymLinks {
  oslsSymLinksDefault,
  oslsSymLinksLoadFirst,
  oslsSymLinksLoad,
  oslsSymLinksDontLoad
};

enum TvynSChannelCertStoreName { scsnMY, scsnRoot, scsnTrust, scsnCA };

enum TvynSChannelCertStorePath { scspStoreCurrentUser, scspStoreLocalMachine };

// pxyHTTP is HTTP CONNECT; the others are the SOCKS versions.
enum TwsProxy { pxyHTTP, pxySocks4, pxySocks4A, pxySocks5 };

}  // namespace vyn

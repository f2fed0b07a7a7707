#include "vynSocket_Classes.h"

#include <gtest/gtest.h>

namespace vyn {
namespace {

TEST(SocketTLSOptions, NestedSettersCopyIntoTheOwnedRecords) {
  TvynSocketTLS_Options tls;
  TStrings* alpn = tls.ALPNProtocols();
  TvynOpenSSLClient_Options* ossl = tls.OpenSSL_Options();
  TvynSChannelClient_Options* sch = tls.SChannel_Options();
  alpn->Add(u"old");

  TvynOpenSSLClient_Options newOssl;
  newOssl.SetAPIVersion(oslAPI_1_0);
  newOssl.SetLibPath(oslpDefaultFolder);
  newOssl.SetLibPathCustom(u"/opt/ssl");
  newOssl.SetUnixSymLinks(oslsSymLinksLoad);
  tls.SetOpenSSL_Options(&newOssl);
  EXPECT_EQ(tls.OpenSSL_Options(), ossl);
  EXPECT_EQ(ossl->APIVersion(), oslAPI_1_0);
  EXPECT_EQ(ossl->LibPath(), oslpDefaultFolder);
  EXPECT_EQ(ossl->LibPathCustom(), u"/opt/ssl");
  EXPECT_EQ(ossl->UnixSymLinks(), oslsSymLinksDefault);  // not part of the copy

  TvynSChannelClient_Options newSch;
  newSch.SetCertHash(u"0A1B");
  newSch.SetCertStoreName(scsnCA);
  newSch.SetCertStorePath(scspStoreLocalMachine);
  newSch.SetCipherList(u"AES128");
  tls.SetSChannel_Options(&newSch);
  EXPECT_EQ(tls.SChannel_Options(), sch);
  EXPECT_EQ(sch->CertHash(), u"0A1B");
  EXPECT_EQ(sch->CertStoreName(), scsnCA);
  EXPECT_EQ(sch->CertStorePath(), scspStoreLocalMachine);
  EXPECT_EQ(sch->CipherList(), u"AES128");

  TStringList names;
  names.Add(u"h2");
  names.Add(u"http/1.1");
  tls.SetALPNProtocols(&names);
  EXPECT_EQ(tls.ALPNProtocols(), alpn);
  EXPECT_EQ(alpn->Text(), u"h2\r\nhttp/1.1\r\n");
  names.Clear();
  EXPECT_EQ(alpn->Count(), 2) << "the list holds its own copy";
}

TEST(SocketTLSOptions, OpenSSLRecordsOfEitherClassCopyEachOther) {
  // Other components hold the socket-level record; it and the client class
  // accept each other.
  TvynSocketOpenSSL_Options plain;
  TvynOpenSSLClient_Options client;
  plain.SetAPIVersion(oslAPI_1_1);
  plain.SetLibPath(oslpCustomPath);
  plain.SetLibPathCustom(u"/usr/local/lib");
  client.Assign(&plain);
  EXPECT_EQ(client.APIVersion(), oslAPI_1_1);
  EXPECT_EQ(client.LibPath(), oslpCustomPath);
  EXPECT_EQ(client.LibPathCustom(), u"/usr/local/lib");

  client.SetAPIVersion(oslAPI_1_0);
  plain.Assign(&client);
  EXPECT_EQ(plain.APIVersion(), oslAPI_1_0);
}

}  // namespace
}  // namespace vyn

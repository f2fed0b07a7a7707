#include "vynIdStack.h"

#include <gtest/gtest.h>

#include <netdb.h>

#include <cerrno>
#include <cstring>

#include "vynIdStackLinux.h"

namespace vyn {
namespace {

// Holds a usage on the stack for one test.
struct TStackUsage {
  TStackUsage() { TIdStack::IncUsage(); }
  ~TStackUsage() { TIdStack::DecUsage(); }
  TIdStackLinux& Stack() const { return dynamic_cast<TIdStackLinux&>(*GStack()); }
};

// Restores the registered class after a test that changes it.
struct TStackClassGuard {
  TIdStackClass Saved = TIdStack::StackClass();
  ~TStackClassGuard() { TIdStack::SetStackClass(Saved); }
};

TEST(StackLifecycle, FirstUsageCreatesThePlatformStackAndLastDestroysIt) {
  ASSERT_EQ(GStack(), nullptr);
  TIdStack::IncUsage();
  TIdStack* first = GStack();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->ClassName(), u"TIdStackLinux");
  TIdStack::IncUsage();
  EXPECT_EQ(GStack(), first);
  TIdStack::DecUsage();
  EXPECT_EQ(GStack(), first);
  TIdStack::DecUsage();
  EXPECT_EQ(GStack(), nullptr);
  TIdStack::DecUsage();  // unbalanced: ignored
  EXPECT_EQ(GStack(), nullptr);
}

TEST(StackLifecycle, UndefinedClassRaises) {
  TStackClassGuard guard;
  TIdStack::SetStackClass(nullptr);
  try {
    TIdStack::IncUsage();
    FAIL() << "no error";
  } catch (const EIdStackError& e) {
    EXPECT_EQ(e.Message(), u"Stack Class is undefined.");
  }
  EXPECT_EQ(GStack(), nullptr);
}

int GFailingCreations = 0;
std::unique_ptr<TIdStack> FailingStack() {
  ++GFailingCreations;
  EIdWinsockStubError::Toss(u"Error on loading Winsock2 library (none)");
}

TEST(StackLifecycle, StartUpFailureIsWrappedAndLeavesNoInstance) {
  TStackClassGuard guard;
  TIdStack::SetStackClass(&FailingStack);
  for (int attempt = 1; attempt <= 2; ++attempt) {  // each usage tries again
    try {
      TIdStack::IncUsage();
      FAIL() << "no error";
    } catch (const EIdStackInitializationFailed& e) {
      EXPECT_EQ(e.Message(), u"Error on loading Winsock2 library (none)");
      ASSERT_NE(e.InnerException(), nullptr);
      EXPECT_NE(dynamic_cast<const EIdWinsockStubError*>(e.InnerException()), nullptr);
    }
    EXPECT_EQ(GStack(), nullptr);
    EXPECT_EQ(GFailingCreations, attempt);
  }
  TIdStack::SetStackClass(guard.Saved);
  TStackUsage usage;
  EXPECT_NE(GStack(), nullptr);
}

TEST(Stack, IsIPWantsFourNumbersUpTo255) {
  struct {
    const char16_t* Text;
    bool IsIP;
  } cases[] = {
      {u"192.168.0.1", true}, {u"0.0.0.0", true},      {u"255.255.255.255", true}, {u" 10. 0 .0.1 ", true},
      {u"192.168.0", false},  {u"192.168.0.256", false}, {u"1.2.3.4.5", false},    {u"", false},
      {u"a.b.c.d", false},    {u"1.2.3.-1", false},      {u"1..2.3", false},       {u"::1", false},
  };
  for (const auto& c : cases) EXPECT_EQ(TIdStack::IsIP(c.Text), c.IsIP) << ToUtf8(c.Text);
}

// The platform stack with the lookup by name replaced by a recorder.
class TRecordingStack : public TIdStackLinux {
public:
  static inline std::vector<String> Lookups;

protected:
  String HostByName(const String& AHostName, TIdIPVersion AIPVersion) override {
    Lookups.push_back(AHostName + (AIPVersion == Id_IPv4 ? u"/4" : u"/6"));
    return u"looked-up";
  }
};

TEST(Stack, ResolveHostAnswersLocalhostAndNumericTextsWithoutALookup) {
  TStackClassGuard guard;
  TIdStack::SetStackClass([]() -> std::unique_ptr<TIdStack> { return std::make_unique<TRecordingStack>(); });
  TStackUsage usage;
  struct {
    const char16_t* Host;
    TIdIPVersion Version;
    const char16_t* Result;
  } cases[] = {
      {u"localhost", Id_IPv4, u"127.0.0.1"},
      {u"LocalHost", Id_IPv4, u"127.0.0.1"},
      {u"192.168.0.1", Id_IPv4, u"192.168.0.1"},
      {u"localhost", Id_IPv6, u"::1"},
      {u"::1", Id_IPv6, u"0:0:0:0:0:0:0:1"},
      {u"2001:db8::ff00:42:8329", Id_IPv6, u"2001:DB8:0:0:0:FF00:42:8329"},
      // Only the requested family counts as numeric; the other goes to the resolver.
      {u"127.0.0.1", Id_IPv6, u"looked-up"},
      {u"::1", Id_IPv4, u"looked-up"},
      {u"host.example", Id_IPv4, u"looked-up"},
  };
  for (const auto& c : cases) EXPECT_EQ(GStack()->ResolveHost(c.Host, c.Version), c.Result) << ToUtf8(c.Host);
  EXPECT_EQ(TRecordingStack::Lookups, (std::vector<String>{u"127.0.0.1/6", u"::1/4", u"host.example/4"}));
  EXPECT_THROW(GStack()->ResolveHost(u"localhost", static_cast<TIdIPVersion>(7)), EIdIPVersionUnsupported);
}

TEST(StackErrors, EveryCodeHasItsMessage) {
  TStackUsage usage;
  struct {
    int32_t Code;
    const char16_t* Text;
  } table[] = {
      {10004, u"Interrupted system call."},
      {10009, u"Bad file number."},
      {10013, u"Access denied."},
      {10014, u"Buffer fault."},
      {10022, u"Invalid argument."},
      {10024, u"Too many open files."},
      {10035, u"Operation would block."},
      {10036, u"Operation now in progress."},
      {10037, u"Operation already in progress."},
      {10038, u"Socket operation on non-socket."},
      {10039, u"Destination address required."},
      {10040, u"Message too long."},
      {10041, u"Protocol wrong type for socket."},
      {10042, u"Bad protocol option."},
      {10043, u"Protocol not supported."},
      {10044, u"Socket type not supported."},
      {10045, u"Operation not supported on socket."},
      {10046, u"Protocol family not supported."},
      {10047, u"Address family not supported by protocol family."},
      {10048, u"Address already in use."},
      {10049, u"Cannot assign requested address."},
      {10050, u"Network is down."},
      {10051, u"Network is unreachable."},
      {10052, u"Net dropped connection or reset."},
      {10053, u"Software caused connection abort."},
      {10054, u"Connection reset by peer."},
      {10055, u"No buffer space available."},
      {10056, u"Socket is already connected."},
      {10057, u"Socket is not connected."},
      {10058, u"Cannot send or receive after socket is closed."},
      {10059, u"Too many references, cannot splice."},
      {10060, u"Connection timed out."},
      {10061, u"Connection refused."},
      {10062, u"Too many levels of symbolic links."},
      {10063, u"File name too long."},
      {10064, u"Host is down."},
      {10065, u"No route to host."},
      {10066, u"Directory not empty"},
      {11001, u"Host not found."},
      {11002, u""},
      {10067, u""},
      {0, u""},
  };
  for (const auto& row : table) {
    EXPECT_EQ(GStack()->WSTranslateSocketErrorMsg(row.Code), u"Socket Error # " + IntToStr(row.Code) + u"\r\n" + row.Text);
  }
}

TEST(StackErrors, RaiseSocketErrorPicksTheClassAndKeepsTheCode) {
  TStackUsage usage;
  try {
    GStack()->RaiseSocketError(10038);
  } catch (const EIdNotASocket& e) {
    EXPECT_EQ(e.LastError(), 10038);
    EXPECT_EQ(e.Message(), u"Socket Error # 10038\r\nSocket operation on non-socket.");
  }
  try {
    GStack()->RaiseSocketError(10061);
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(dynamic_cast<const EIdNotASocket*>(&e), nullptr);
    EXPECT_EQ(e.LastError(), 10061);
    EXPECT_EQ(e.Message(), u"Socket Error # 10061\r\nConnection refused.");
  }
}

TEST(StackErrors, CheckForSocketErrorRaisesOrLetsListedCodesThrough) {
  TStackUsage usage;
  TIdStack& stack = *GStack();
  EXPECT_EQ(stack.CheckForSocketError(17), 17);
  stack.WSSetLastError(10054);
  EXPECT_EQ(stack.WSGetLastError(), 10054);
  EXPECT_EQ(stack.CheckForSocketError(Id_SOCKET_ERROR, {10058, 10053, 10054, 10060}), 10054);
  EXPECT_EQ(stack.CheckForSocketError(0, {10054}), 0);
  try {
    stack.CheckForSocketError(Id_SOCKET_ERROR, {10053});
    FAIL() << "no error";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10054);
  }
  try {
    stack.CheckForSocketError(Id_SOCKET_ERROR);
    FAIL() << "no error";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10054);
  }
}

TEST(StackErrors, PlatformCodesMapIntoTheWindowsSocketsNumbering) {
  struct {
    int Errno;
    int32_t Code;
  } errnos[] = {
      {ECONNRESET, 10054}, {ETIMEDOUT, 10060}, {ECONNREFUSED, 10061}, {ECONNABORTED, 10053},
      {EPIPE, 10058},      {EAGAIN, 10035},    {EINPROGRESS, 10036},  {EADDRINUSE, 10048},
      {EADDRNOTAVAIL, 10049}, {ENETUNREACH, 10051}, {EHOSTUNREACH, 10065}, {ENOTSOCK, 10038},
      {EBADF, 10038},      {EINTR, 10004},     {EINVAL, 10022},       {EMFILE, 10024},
      {ENOTCONN, 10057},   {EISCONN, 10056},   {EAFNOSUPPORT, 10047}, {ENOMEM, 8},
  };
  for (const auto& e : errnos) EXPECT_EQ(TIdStackLinux::TranslateErrno(e.Errno), e.Code) << std::strerror(e.Errno);
  struct {
    int Gai;
    int32_t Code;
  } resolver[] = {
      {EAI_NONAME, 11001},   {EAI_AGAIN, 11002},  {EAI_FAIL, 11003},   {EAI_NODATA, 11004},
      {EAI_BADFLAGS, 10022}, {EAI_FAMILY, 10047}, {EAI_MEMORY, 8},     {EAI_SERVICE, 10109},
      {EAI_SOCKTYPE, 10044},
  };
  for (const auto& r : resolver) EXPECT_EQ(TIdStackLinux::TranslateResolverError(r.Gai, 0), r.Code) << r.Gai;
  EXPECT_EQ(TIdStackLinux::TranslateResolverError(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(Stack, ByteOrderIsBigEndianOnTheWire) {
  TStackUsage usage;
  TIdStack& s = *GStack();
  EXPECT_EQ(BytesFromNumber(s.HostToNetwork(uint16_t(0x1234))), (TIdBytes{0x12, 0x34}));
  EXPECT_EQ(BytesFromNumber(s.HostToNetwork(uint32_t(0x12345678))), (TIdBytes{0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(BytesFromNumber(s.HostToNetwork(uint64_t(0x0102030405060708))), (TIdBytes{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(s.NetworkToHost(s.HostToNetwork(uint64_t(0x0102030405060708))), uint64_t(0x0102030405060708));
  TIdIPv6Address a{0x2001, 0x0DB8, 0, 0, 0, 0, 0, 1};
  TIdIPv6Address n = s.HostToNetwork(a);
  EXPECT_EQ(BytesFromNumber(n[0]), (TIdBytes{0x20, 0x01}));
  EXPECT_EQ(BytesFromNumber(n[7]), (TIdBytes{0x00, 0x01}));
  EXPECT_EQ(s.NetworkToHost(n), a);
}

TEST(Stack, AddressTextsConvertToPackedFormAndBack) {
  TStackUsage usage;
  TIdStackLinux& s = usage.Stack();
  uint8_t v4[4];
  s.TranslateStringToTInAddr(u"192.0.2.1", v4, Id_IPv4);
  EXPECT_EQ(TIdBytes(v4, v4 + 4), (TIdBytes{192, 0, 2, 1}));
  EXPECT_EQ(s.TranslateTInAddrToString(v4, Id_IPv4), u"192.0.2.1");
  uint8_t v6[16];
  s.TranslateStringToTInAddr(u"::1", v6, Id_IPv6);
  EXPECT_EQ(TIdBytes(v6, v6 + 16), (TIdBytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(s.TranslateTInAddrToString(v6, Id_IPv6), u"0:0:0:0:0:0:0:1");
  s.TranslateStringToTInAddr(u"2001:db8::abcd:12", v6, Id_IPv6);
  EXPECT_EQ(s.TranslateTInAddrToString(v6, Id_IPv6), u"2001:DB8:0:0:0:0:ABCD:12");

  EXPECT_THROW(s.TranslateStringToTInAddr(u"1.2.x.4", v4, Id_IPv4), EConvertError);
  for (const char16_t* bad : {u"1.2.3", u"1.2.3.4.5", u"1.2.3.256"}) {
    try {
      s.TranslateStringToTInAddr(bad, v4, Id_IPv4);
      ADD_FAILURE() << "no error for " << ToUtf8(bad);
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), 10022);
    }
  }
  try {
    s.TranslateStringToTInAddr(u"1::2::3", v6, Id_IPv6);
    FAIL() << "no error";
  } catch (const EIdInvalidIPv6Address& e) {
    EXPECT_EQ(e.Message(), u"1::2::3 is not a valid IPv6 address");
  }
}

TEST(Stack, ServiceNamesAndNumbers) {
  TStackUsage usage;
  TIdStackLinux& s = usage.Stack();
  EXPECT_EQ(s.WSGetServByName(u"http"), 80) << "needs /etc/services (Debian package netbase)";
  EXPECT_EQ(s.WSGetServByName(u"8080"), 8080);
  try {
    s.WSGetServByName(u"no-such-service");
    FAIL() << "no error";
  } catch (const EIdInvalidServiceName& e) {
    EXPECT_EQ(e.Message(), u"no-such-service is not a valid service.");
  }
  EXPECT_TRUE(s.WouldBlock(10035));
  EXPECT_FALSE(s.WouldBlock(10054));
}

TEST(Stack, CheckSumIsTheInternetChecksum) {
  // The example of RFC 1071: the one's complement sum is DDF2.
  EXPECT_EQ(TIdStack::CalcCheckSum({0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7}), 0x220D);
  EXPECT_EQ(TIdStack::CalcCheckSum({0x00, 0x01, 0xF2}), static_cast<uint16_t>(~(0x0001 + 0xF200)));
}

TEST(SocketList, HoldsAtMost64DistinctHandles) {
  auto list = TIdSocketList::CreateSocketList();
  for (TIdStackSocketHandle h = 100; h < 164; ++h) list->Add(h);
  list->Add(100);  // already there
  EXPECT_EQ(list->Count(), 64);
  try {
    list->Add(500);
    FAIL() << "no error";
  } catch (const EIdStackSetSizeExceeded& e) {
    EXPECT_EQ(e.Message(), u"Set Size Exceeded.");
  }
  list->Remove(100);
  EXPECT_FALSE(list->ContainsSocket(100));
  list->Add(500);
  EXPECT_TRUE(list->ContainsSocket(500));
  auto copy = list->Clone();
  list->Clear();
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(copy->Count(), 64);
  EXPECT_EQ(copy->Item(0), 101u);
  EXPECT_THROW(copy->Item(64), EListError);
}

}  // namespace
}  // namespace vyn

#include "vynIdBuffer.h"

#include <gtest/gtest.h>

#include "vynIdTextEncoding.h"
#include "vynRecordingStream.h"

namespace vyn {
namespace {

TIdBytes Filled(int n, uint8_t base = 0) {
  TIdBytes b(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(base + i);
  return b;
}

template <class F>
void ExpectMessage(F AAction, const String& AMessage) {
  try {
    AAction();
    ADD_FAILURE() << "no exception";
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), AMessage);
  }
}

TEST(Buffer, GrowthAndCompactionFollowTheGrowthFactor) {
  TIdBuffer b;
  b.Write(Filled(10));
  EXPECT_EQ(b.Capacity(), 10);  // no slack on an empty buffer
  b.Write(Filled(5));
  EXPECT_EQ(b.Capacity(), 10 + 5 + 2048);

  TIdBuffer c;
  c.Write(Filled(3000));
  c.Remove(2048);  // not past the growth factor: no move
  EXPECT_EQ(c.Capacity(), 3000);
  EXPECT_EQ(c.PeekByte(0), static_cast<uint8_t>(2048));
  c.Remove(1);  // head now past it: compacted and shrunk
  EXPECT_EQ(c.Size(), 951);
  EXPECT_EQ(c.Capacity(), 951 + 2048);
  EXPECT_EQ(c.PeekByte(0), static_cast<uint8_t>(2049));
}

TEST(Buffer, NegativeGrowthFactorAddsNoSlack) {
  TIdBuffer b(-100);
  b.Write(Filled(10));
  b.Write(Filled(5, 10));
  EXPECT_EQ(b.Capacity(), 15);
  b.Remove(3);  // compacts at once, without shrinking below what is unread
  b.CompactHead(true);
  b.Write(Filled(2, 15));
  ASSERT_EQ(b.Size(), 14);
  EXPECT_GE(b.Capacity(), b.Size());
  TIdBytes out;
  b.ExtractToBytes(out);
  TIdBytes expected = Filled(17);
  expected.erase(expected.begin(), expected.begin() + 3);
  EXPECT_EQ(out, expected);
}

TEST(Buffer, RemoveBeyondSizeClearsAndReportsTheRequestedCount) {
  std::vector<int> reported;
  TIdBuffer b([&](TIdBuffer*, int n) { reported.push_back(n); });
  b.Write(Filled(10));
  b.Remove(100);
  EXPECT_EQ(b.Size(), 0);
  EXPECT_EQ(b.Capacity(), 0);
  b.Write(Filled(4));
  TIdBytes out;
  b.ExtractToBytes(out, 3);
  EXPECT_EQ(reported, (std::vector<int>{100, 3}));
  b.Clear();  // no event
  EXPECT_EQ(reported.size(), 2u);
}

TEST(Buffer, ExtractToStringDecodesExactlyTheRemovedBytes) {
  TIdBuffer b;
  b.Write(TIdBytes{0xE2, 0x82, 0xAC, 0x41});
  EXPECT_EQ(b.ExtractToString(3, EncodingUTF8()), u"\u20AC");
  EXPECT_EQ(b.Size(), 1);
  TIdBuffer c;
  c.Write(TIdBytes{0xE2, 0x82, 0xAC, 0x41});
  EXPECT_EQ(c.ExtractToString(2, EncodingUTF8()), u"\uFFFD");
  EXPECT_EQ(c.ExtractToString(), u"\uFFFDA");  // AC alone is invalid; the default encoding is ASCII
  EXPECT_EQ(c.ExtractToString(0), u"");
}

TEST(Buffer, SearchAndPeekErrors) {
  TIdBuffer b;
  EXPECT_EQ(b.IndexOf(TIdBytes{0x0D, 0x0A}, 0), -1);  // empty: -1 before any check
  EXPECT_EQ(b.IndexOf(TIdBytes{}, 7), -1);
  ExpectMessage([&] { b.PeekByte(0); }, u"No bytes in buffer.");
  b.Write(TIdBytes{0x41, 0x0D, 0x0A});
  EXPECT_EQ(b.IndexOf(TIdBytes{0x0D, 0x0A}, 0), 1);
  EXPECT_EQ(b.IndexOf(TIdBytes{0x0D, 0x0A}, 2), -1);  // would run past the end
  EXPECT_EQ(b.IndexOf(uint8_t(0x0A), 0), 2);
  EXPECT_EQ(b.IndexOf(String(u"\n")), 2);
  ExpectMessage([&] { b.IndexOf(TIdBytes{0x0D, 0x0A}, 3); }, u"Buffer start position is invalid.");
  ExpectMessage([&] { b.IndexOf(TIdBytes{0x0D, 0x0A}, -1); }, u"Buffer start position is invalid.");
  ExpectMessage([&] { b.IndexOf(TIdBytes{}, 0); }, u"Buffer terminator must be specified.");
  ExpectMessage([&] { b.PeekByte(3); }, u"Index out of bounds.");
  ExpectMessage([&] { b.SetCapacity(2); }, u"Capacity cannot be smaller than Size");
}

TEST(Buffer, SearchSeesOnlyUnreadBytes) {
  TIdBuffer b;
  b.Write(TIdBytes{0x0A, 0x41, 0x0A});
  b.Remove(1);
  EXPECT_EQ(b.IndexOf(uint8_t(0x0A), 0), 1);
  EXPECT_EQ(b.IndexOf(TIdBytes{0x41, 0x0A}, 0), 0);
}

TEST(Buffer, ExtractOfMoreThanBufferedChangesNothing) {
  TIdBuffer b;
  b.Write(Filled(3));
  TIdBytes out;
  try {
    b.ExtractToBytes(out, 5);
    FAIL();
  } catch (const EIdNotEnoughDataInBuffer& e) {
    EXPECT_EQ(e.Message(), u"Not enough data in buffer. (5/3)");
  }
  EXPECT_EQ(b.Size(), 3);
  EXPECT_TRUE(out.empty());
  EXPECT_THROW(b.ExtractToUInt32(), EIdNotEnoughDataInBuffer);
  EXPECT_EQ(b.Size(), 3);
}

TEST(Buffer, ExtractToBytesAppendOrOverwrite) {
  TIdBuffer b;
  b.Write(Filled(6, 1));
  TIdBytes out{9, 9, 9, 9};
  b.ExtractToBytes(out, 2, false);  // over the start, length kept
  EXPECT_EQ(out, (TIdBytes{1, 2, 9, 9}));
  b.ExtractToBytes(out, 2, true);
  EXPECT_EQ(out, (TIdBytes{1, 2, 9, 9, 3, 4}));
  TIdBytes peek;
  b.ExtractToBytes(peek, 1, true, 1);  // at an index: nothing removed
  EXPECT_EQ(peek, (TIdBytes{6}));
  EXPECT_EQ(b.Size(), 2);
}

TEST(Buffer, NumbersComeOutInHostOrder) {
  TIdBuffer b;
  b.Write(TIdBytes{0x12, 0x34, 0x00, 0x00, 0x01, 0x02, 0xAB, 0x01, 0x02});
  EXPECT_EQ(b.ExtractToUInt16(), 0x1234);
  EXPECT_EQ(b.ExtractToLongWord(), 0x00000102u);
  EXPECT_EQ(b.ExtractToUInt8(), 0xAB);
  EXPECT_EQ(b.ExtractToUInt16(-1, false), 0x0201);  // no conversion: machine order (little endian)
  TIdBuffer v6;
  v6.Write(TIdBytes{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
  TIdIPv6Address a;
  v6.ExtractToIPv6(-1, a);
  EXPECT_EQ(a, (TIdIPv6Address{0x2001, 0x0db8, 0, 0, 0, 0, 0, 1}));
}

using test::TRecordingStream;

TEST(Buffer, ExtractToStreamIsOneWriteOfTheBlock) {
  TIdBuffer b;
  b.Write(Filled(40000));
  b.Remove(3000);  // head past the growth factor: compacted first
  TRecordingStream s;
  b.ExtractToStream(s);
  EXPECT_EQ(s.Writes.size(), 1u);
  ASSERT_EQ(s.Size(), 37000);
  EXPECT_EQ(s.Bytes()[0], static_cast<uint8_t>(3000 % 256));
  EXPECT_EQ(b.Size(), 0);
  b.ExtractToStream(s);  // nothing buffered: no empty write
  EXPECT_EQ(s.Writes.size(), 1u);
}

TEST(Buffer, WriteFromStreamCountRules) {
  TMemoryStream s;
  s.WriteBuffer("abcdef", 6);
  s.SetPosition(2);
  TIdBuffer b;
  b.Write(s, 2);  // at most 2 of the remaining
  b.Write(s, -1);  // the rest
  EXPECT_EQ(b.ExtractToString(), u"cdef");
  s.SetPosition(5);
  b.Write(s, 0);  // 0: all of it, from its start
  EXPECT_EQ(b.ExtractToString(), u"abcdef");
  b.Write(s, -1);  // nothing left: nothing happens
  EXPECT_EQ(b.Size(), 0);
}

TEST(Buffer, DirectReceiveIntoTheTail) {
  TIdBuffer b;
  b.Write(TIdBytes{1, 2});
  uint8_t* tail = b.PrepareAppend(32768);
  tail[0] = 3;
  tail[1] = 4;
  b.CommitAppend(2);
  TIdBytes out;
  b.ExtractToBytes(out);
  EXPECT_EQ(out, (TIdBytes{1, 2, 3, 4}));
}

TEST(Buffer, InsertAtIndexAndSelfTransfer) {
  TIdBuffer b;
  b.Write(TIdBytes{1, 4});
  b.Write(TIdBytes{2, 3}, -1, 0, 1);
  TIdBytes out;
  b.ExtractToBytes(out, -1, true, 0);
  EXPECT_EQ(out, (TIdBytes{1, 2, 3, 4}));
  b.ExtractToIdBuffer(b, 2);  // head to tail of the same buffer
  out.clear();
  b.ExtractToBytes(out);
  EXPECT_EQ(out, (TIdBytes{3, 4, 1, 2}));
}

TEST(Buffer, MemoryStaysBoundedOverALongStream) {
  // A streaming connection: receive 32 KiB, drain it, again and again.
  TIdBuffer b;
  TMemoryStream sink;
  for (int i = 0; i < 200; ++i) {
    uint8_t* tail = b.PrepareAppend(32768);
    std::fill_n(tail, 1000 + i, uint8_t(i));
    b.CommitAppend(1000 + i);
    TIdBytes block;
    b.ExtractToBytes(block);
    EXPECT_EQ(block.size(), static_cast<size_t>(1000 + i));
  }
  EXPECT_LE(b.Capacity(), 32768 + 2048);
}

TEST(Buffer, TooMuchDataGuard) {
  TIdBuffer b;
  b.Write(TIdBytes{1});
  EXPECT_THROW(b.PrepareAppend(INT32_MAX), EIdTooMuchDataInBuffer);
  EXPECT_EQ(b.Size(), 1);
}

}  // namespace
}  // namespace vyn

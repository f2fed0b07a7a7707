// TIdBuffer driven by a byte script: each step's first byte picks an operation (write,
// insert, the extracts with and without an index, string and number extracts, index-of,
// peek, remove, compact, capacity, direct receive, streams, a second buffer, clear,
// growth factor) and the next bytes its arguments. A std::deque is the model.
//
// Properties, after every step: the buffer holds exactly the model's bytes; its
// capacity is at least its size; an operation the rules say fails raises the error
// they name and changes nothing; every removal reports the count asked for; what is
// read, searched and peeked agrees with the model.
#include <deque>

#include "vynFuzz.h"
#include "vynIdBuffer.h"

using namespace vyn;
using namespace vyn::fuzz;

namespace {

using TModel = std::deque<uint8_t>;

struct TChecked {
  TIdBuffer Buffer;
  TModel Model;
  std::vector<int> Removed;  // counts reported by OnBytesRemoved
  TChecked() {
    Buffer.OnBytesRemoved = [this](TIdBuffer*, int ABytes) { Removed.push_back(ABytes); };
  }
};

std::string Context(int AStep, const char* AOp) { return "step " + std::to_string(AStep) + " (" + AOp + ")"; }

void CheckSame(TChecked& A, const std::string& AContext) {
  FUZZ_CHECK(A.Buffer.Size() == static_cast<int>(A.Model.size()),
             AContext + ": size " + std::to_string(A.Buffer.Size()) + ", model " + std::to_string(A.Model.size()));
  FUZZ_CHECK(A.Buffer.Capacity() >= A.Buffer.Size(), AContext + ": capacity below size");
  TIdBytes all;
  A.Buffer.ExtractToBytes(all, -1, true, 0);  // a copy: with an index nothing is removed
  FUZZ_CHECK(std::equal(all.begin(), all.end(), A.Model.begin(), A.Model.end()),
             AContext + ": holds " + Show(all) + ", model " + Show(TIdBytes(A.Model.begin(), A.Model.end())));
}

// Runs AOp, which the rules say must raise E and change nothing.
template <class E, class F>
void ExpectFailure(TChecked& A, F AOp, const std::string& AContext) {
  const TModel before = A.Model;
  const size_t reports = A.Removed.size();
  bool raised = false;
  try {
    AOp();
  } catch (const E&) {
    raised = true;
  }
  FUZZ_CHECK(raised, AContext + ": did not raise");
  FUZZ_CHECK(A.Removed.size() == reports, AContext + ": reported a removal");
  CheckSame(A, AContext + " after the error");
}

void Take(TModel& AModel, int ACount) { AModel.erase(AModel.begin(), AModel.begin() + ACount); }

TIdBytes Slice(const TModel& AModel, int AFrom, int ACount) {
  return TIdBytes(AModel.begin() + AFrom, AModel.begin() + AFrom + ACount);
}

void ExpectRemoved(TChecked& A, size_t ABefore, int ACount, const std::string& AContext) {
  FUZZ_CHECK(A.Removed.size() == ABefore + 1 && A.Removed.back() == ACount,
             AContext + ": removal not reported as asked");
}

// The first position at or after AStart where APattern starts, or -1.
int ModelIndexOf(const TModel& AModel, const TIdBytes& APattern, int AStart) {
  const auto it = std::search(AModel.begin() + AStart, AModel.end(), APattern.begin(), APattern.end());
  return it == AModel.end() ? -1 : static_cast<int>(it - AModel.begin());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TFuzzInput in(AData, ASize);
  TChecked a, b;
  a.Buffer.SetGrowthFactor(in.Range(0, 64));
  int step = 0;
  while (!in.Empty() && step < 400) {
    ++step;
    TChecked& t = a;
    const int size = t.Buffer.Size();
    const size_t reports = t.Removed.size();
    const int op = in.Range(0, 19);
    switch (op) {
      case 0: {  // Write(bytes, length, offset)
        const TIdBytes bytes = in.Bytes(in.Range(0, 40));
        const int length = in.Range(-1, 42), offset = in.Range(-1, 42);
        t.Buffer.Write(bytes, length, offset);
        const int have = static_cast<int>(bytes.size());
        if (offset >= 0 && offset < have) {
          const int n = length < 0 ? have - offset : std::min(length, have - offset);
          t.Model.insert(t.Model.end(), bytes.begin() + offset, bytes.begin() + offset + n);
        }
        break;
      }
      case 1: {  // Write at a position
        const TIdBytes bytes = in.Bytes(in.Range(1, 20));
        const int at = in.Range(0, size + 2);
        t.Buffer.Write(bytes, -1, 0, at);
        t.Model.insert(t.Model.begin() + std::min(at, size), bytes.begin(), bytes.end());
        break;
      }
      case 2: {  // ExtractToBytes from the head
        const int count = in.Range(-1, size + 2);
        const bool append = in.Bool();
        TIdBytes dest = in.Bytes(in.Range(0, 4));
        if (count > size) {
          ExpectFailure<EIdNotEnoughDataInBuffer>(
              t, [&] { t.Buffer.ExtractToBytes(dest, count, append); }, Context(step, "extract too much"));
          break;
        }
        const int n = count < 0 ? size : count;
        TIdBytes expected = dest;
        const TIdBytes got = Slice(t.Model, 0, n);
        if (append)
          expected.insert(expected.end(), got.begin(), got.end());
        else if (n > 0) {
          if (static_cast<int>(expected.size()) < n) expected.resize(static_cast<size_t>(n));
          std::copy(got.begin(), got.end(), expected.begin());
        }
        t.Buffer.ExtractToBytes(dest, count, append);
        FUZZ_CHECK(dest == expected,
                   Context(step, "extract") + " gives " + Show(dest) + ", expected " + Show(expected));
        if (n > 0) {
          Take(t.Model, n);
          ExpectRemoved(t, reports, n, Context(step, "extract"));
        }
        break;
      }
      case 3: {  // ExtractToBytes at an index: a copy
        const int index = in.Range(0, size + 1), count = in.Range(-1, size + 1);
        const int readable = std::max(size - index, 0);
        TIdBytes dest;
        if (count > readable) {
          ExpectFailure<EIdNotEnoughDataInBuffer>(
              t, [&] { t.Buffer.ExtractToBytes(dest, count, true, index); }, Context(step, "copy too much"));
          break;
        }
        t.Buffer.ExtractToBytes(dest, count, true, index);
        FUZZ_CHECK(dest == Slice(t.Model, std::min(index, size), count < 0 ? readable : count), Context(step, "copy"));
        FUZZ_CHECK(t.Removed.size() == reports, Context(step, "copy") + " reported a removal");
        break;
      }
      case 4: {  // ExtractToString, one character per byte
        const int count = in.Range(-1, size + 1);
        if (count > size) {
          ExpectFailure<EIdNotEnoughDataInBuffer>(
              t, [&] { (void)t.Buffer.ExtractToString(count, Encoding8Bit()); }, Context(step, "string too long"));
          break;
        }
        const int n = count < 0 ? size : count;
        const String text = t.Buffer.ExtractToString(count, Encoding8Bit());
        FUZZ_CHECK(text == TextFromBytes8Bit(Slice(t.Model, 0, n)), Context(step, "string"));
        if (n > 0) {
          Take(t.Model, n);
          ExpectRemoved(t, reports, n, Context(step, "string"));
        }
        break;
      }
      case 5: {  // IndexOf a byte sequence, often one that is there
        TIdBytes pattern;
        if (in.Bool() && size > 0) {
          const int from = in.Range(0, size - 1);
          pattern = Slice(t.Model, from, std::min(in.Range(1, 4), size - from));
        } else {
          pattern = in.Bytes(in.Range(0, 3));
        }
        const int start = in.Range(-1, size);
        if (size == 0) {
          FUZZ_CHECK(t.Buffer.IndexOf(pattern, start) == -1, Context(step, "index-of on empty"));
        } else if (pattern.empty() || start < 0 || start >= size) {
          ExpectFailure<EIdException>(
              t, [&] { (void)t.Buffer.IndexOf(pattern, start); }, Context(step, "bad index-of"));
        } else {
          const int got = t.Buffer.IndexOf(pattern, start);
          FUZZ_CHECK(got == ModelIndexOf(t.Model, pattern, start), Context(step, "index-of") + " of " + Show(pattern) +
                                                                       " from " + std::to_string(start) + " gives " +
                                                                       std::to_string(got));
        }
        break;
      }
      case 6: {  // IndexOf one byte
        const uint8_t byte = in.Byte();
        const int start = in.Range(-1, size);
        if (size == 0) {
          FUZZ_CHECK(t.Buffer.IndexOf(byte, start) == -1, Context(step, "byte index-of on empty"));
        } else if (start < 0 || start >= size) {
          ExpectFailure<EIdException>(
              t, [&] { (void)t.Buffer.IndexOf(byte, start); }, Context(step, "bad byte index-of"));
        } else {
          FUZZ_CHECK(t.Buffer.IndexOf(byte, start) == ModelIndexOf(t.Model, TIdBytes{byte}, start),
                     Context(step, "byte index-of"));
        }
        break;
      }
      case 7: {  // PeekByte
        const int index = in.Range(-1, size);
        if (index < 0 || index >= size) {
          ExpectFailure<EIdException>(
              t, [&] { (void)t.Buffer.PeekByte(index); }, Context(step, "bad peek"));
        } else {
          FUZZ_CHECK(t.Buffer.PeekByte(index) == t.Model[static_cast<size_t>(index)], Context(step, "peek"));
        }
        break;
      }
      case 8: {  // Remove, also more than there is
        const int count = in.Range(-1, size + 3);
        t.Buffer.Remove(count);
        if (count >= 0) {
          Take(t.Model, std::min(count, size));
          ExpectRemoved(t, reports, count, Context(step, "remove"));
        }
        break;
      }
      case 9:
        t.Buffer.CompactHead(in.Bool());
        break;
      case 10: {  // Capacity
        const int capacity = in.Range(0, size + 100);
        if (capacity < size) {
          ExpectFailure<EIdException>(
              t, [&] { t.Buffer.SetCapacity(capacity); }, Context(step, "capacity too small"));
        } else {
          t.Buffer.SetCapacity(capacity);
          FUZZ_CHECK(t.Buffer.Capacity() == capacity, Context(step, "capacity"));
        }
        break;
      }
      case 11: {  // a direct receive: room for n, k of them written
        const int n = in.Range(1, 64), k = in.Range(0, n);
        const TIdBytes bytes = in.Bytes(static_cast<size_t>(k));
        uint8_t* room = t.Buffer.PrepareAppend(n);
        std::copy(bytes.begin(), bytes.end(), room);
        t.Buffer.CommitAppend(static_cast<int>(bytes.size()));
        t.Model.insert(t.Model.end(), bytes.begin(), bytes.end());
        break;
      }
      case 12: {  // into the second buffer, or into itself
        const bool self = in.Bool();
        const int index = in.Bool() ? -1 : in.Range(0, size);
        const int count = in.Range(-1, size + 1);
        const int readable = std::max(size - std::max(index, 0), 0);
        TIdBuffer& dest = self ? t.Buffer : b.Buffer;
        if (count > readable) {
          ExpectFailure<EIdNotEnoughDataInBuffer>(
              t, [&] { t.Buffer.ExtractToIdBuffer(dest, count, index); }, Context(step, "to buffer, too much"));
          break;
        }
        const int n = count < 0 ? readable : count;
        const TIdBytes moved = Slice(t.Model, std::max(index, 0), n);
        t.Buffer.ExtractToIdBuffer(dest, count, index);
        if (n > 0 && index < 0) {
          Take(t.Model, n);
          ExpectRemoved(t, reports, n, Context(step, "to buffer"));
        }
        TModel& destModel = self ? t.Model : b.Model;
        if (n > 0) destModel.insert(destModel.end(), moved.begin(), moved.end());
        CheckSame(b, Context(step, "second buffer"));
        break;
      }
      case 13: {  // numbers, in the machine's order
        const int width = 1 << in.Range(0, 3);
        const int index = in.Bool() ? -1 : in.Range(0, size);
        const int from = std::max(index, 0);
        auto read = [&]() -> uint64_t {
          switch (width) {
            case 1:
              return t.Buffer.ExtractToUInt8(index);
            case 2:
              return t.Buffer.ExtractToUInt16(index, false);
            case 4:
              return t.Buffer.ExtractToUInt32(index, false);
            default:
              return t.Buffer.ExtractToUInt64(index, false);
          }
        };
        if (size - from < width) {
          ExpectFailure<EIdNotEnoughDataInBuffer>(
              t, [&] { (void)read(); }, Context(step, "number too wide"));
          break;
        }
        uint64_t expected = 0;
        const TIdBytes raw = Slice(t.Model, from, width);
        std::memcpy(&expected, raw.data(), static_cast<size_t>(width));
        FUZZ_CHECK(read() == expected, Context(step, "number"));
        if (index < 0) {
          Take(t.Model, width);
          ExpectRemoved(t, reports, width, Context(step, "number"));
        }
        break;
      }
      case 14: {  // Write(stream, count): 0 all from the start, negative the rest, positive at most that
        const TIdBytes bytes = in.Bytes(in.Range(0, 40));
        TMemoryStream stream;
        if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        const int position = in.Range(0, static_cast<int>(bytes.size()));
        stream.SetPosition(position);
        const int count = in.Range(-1, 45);
        t.Buffer.Write(stream, count);
        const int from = count == 0 ? 0 : position;
        const int remaining = static_cast<int>(bytes.size()) - from;
        const int n = count <= 0 ? remaining : std::min(count, remaining);
        t.Model.insert(t.Model.end(), bytes.begin() + from, bytes.begin() + from + n);
        break;
      }
      case 15: {  // ExtractToStream
        const int index = in.Bool() ? -1 : in.Range(0, size);
        const int count = in.Range(-1, size + 1);
        const int readable = std::max(size - std::max(index, 0), 0);
        TMemoryStream stream;
        if (count > readable) {
          ExpectFailure<EIdNotEnoughDataInBuffer>(
              t, [&] { t.Buffer.ExtractToStream(stream, count, index); }, Context(step, "to stream, too much"));
          break;
        }
        const int n = count < 0 ? readable : count;
        t.Buffer.ExtractToStream(stream, count, index);
        FUZZ_CHECK(stream.Bytes() == Slice(t.Model, std::max(index, 0), n), Context(step, "to stream"));
        if (n > 0 && index < 0) {
          Take(t.Model, n);
          ExpectRemoved(t, reports, n, Context(step, "to stream"));
        }
        break;
      }
      case 16:
        t.Buffer.Clear();
        t.Model.clear();
        FUZZ_CHECK(t.Removed.size() == reports, Context(step, "clear") + " reported a removal");
        break;
      case 17:
        t.Buffer.SetGrowthFactor(in.Range(-300, 300));
        break;
      case 18: {  // a string, one byte per character
        const TIdBytes bytes = in.Bytes(in.Range(0, 20));
        t.Buffer.Write(TextFromBytes8Bit(bytes), Encoding8Bit());
        t.Model.insert(t.Model.end(), bytes.begin(), bytes.end());
        break;
      }
      case 19: {  // an IPv6 address: eight groups from network order
        const int index = in.Bool() ? -1 : in.Range(0, size);
        const int from = std::max(index, 0);
        TIdIPv6Address address{};
        if (size - from < 16) {
          ExpectFailure<EIdNotEnoughDataInBuffer>(
              t, [&] { t.Buffer.ExtractToIPv6(index, address); }, Context(step, "address too short"));
          break;
        }
        t.Buffer.ExtractToIPv6(index, address);
        for (int g = 0; g < 8; ++g) {
          const uint16_t expected = static_cast<uint16_t>(t.Model[static_cast<size_t>(from + 2 * g)] << 8 |
                                                          t.Model[static_cast<size_t>(from + 2 * g + 1)]);
          FUZZ_CHECK(address[static_cast<size_t>(g)] == expected, Context(step, "address"));
        }
        if (index < 0) {
          Take(t.Model, 16);
          ExpectRemoved(t, reports, 16, Context(step, "address"));
        }
        break;
      }
    }
    CheckSame(t, Context(step, "after"));
  }
  return 0;
}

// A memory stream that records the size of every write it receives: the tool for
// checking that a block reaches a stream in exactly one write.
#pragma once

#include <string>
#include <vector>

#include "vynStreams.h"

namespace vyn::test {

class TRecordingStream : public TMemoryStream {
public:
  int64_t Write(const void* ABuffer, int64_t ACount) override {
    Writes.push_back(ACount);
    return TMemoryStream::Write(ABuffer, ACount);
  }
  std::string Text() const { return std::string(FData.begin(), FData.end()); }
  std::vector<int64_t> Writes;
};

}  // namespace vyn::test

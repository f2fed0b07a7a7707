// The peer side of a fuzz target that reads through an I/O handler: the bytes a target
// feeds in are queued on the in-memory test transport in segments whose sizes, receive
// size and transport split the fuzz input chooses, so that every way of cutting the
// same bytes is tried. The body framings of the HTTP engine use it the same way.
#pragma once

#include "vynFuzz.h"
#include "vynTestIOHandler.h"

namespace vyn::fuzz {

struct TPeerCuts {
  std::vector<int> Segments;  // sizes of the first segments; the rest is one more
  int ReceiveSize = 32768;
  int TransportSplit = 0;
  bool Closes = true;
};

// Reads the cuts from the input (a few bytes).
inline TPeerCuts ReadPeerCuts(TFuzzInput& AIn) {
  TPeerCuts cuts;
  cuts.ReceiveSize = AIn.Range(1, 64);
  cuts.TransportSplit = AIn.Range(0, 8);
  cuts.Closes = AIn.Bool();
  for (int n = AIn.Range(0, 8); n > 0; --n) cuts.Segments.push_back(AIn.Range(0, 40));
  return cuts;
}

// Queues AData on AHandler as ACuts say and opens it.
inline void StartPeer(test::TTestIOHandler& AHandler, const TPeerCuts& ACuts, const TIdBytes& AData) {
  AHandler.SetRecvBufferSize(ACuts.ReceiveSize);
  AHandler.SetSplit(ACuts.TransportSplit);
  size_t start = 0;
  for (int cut : ACuts.Segments) {
    const size_t n = std::min(static_cast<size_t>(cut), AData.size() - start);
    AHandler.AddSegment(TIdBytes(AData.begin() + static_cast<std::ptrdiff_t>(start),
                                 AData.begin() + static_cast<std::ptrdiff_t>(start + n)));
    start += n;
  }
  AHandler.AddSegment(TIdBytes(AData.begin() + static_cast<std::ptrdiff_t>(start), AData.end()));
  if (ACuts.Closes) AHandler.ClosePeer();
  AHandler.Open();
}

inline std::string Show(const TPeerCuts& ACuts) {
  std::string out = "receive " + std::to_string(ACuts.ReceiveSize) + ", transport split " +
                    std::to_string(ACuts.TransportSplit) + (ACuts.Closes ? ", peer closes" : ", peer silent") +
                    ", segments";
  for (int s : ACuts.Segments) out += " " + std::to_string(s);
  return out;
}

}  // namespace vyn::fuzz

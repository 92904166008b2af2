// Scripted card feed of the virtual reader: a run of new cards with distinct UIDs, each held in
// the field for a while, with a gap between them, for batch runs without a hand at the reader.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/bytes.h"
#include "sim/firmware.h"

namespace kiren::sim {

struct TFeedPlan {
  int Cards = 1;
  int DwellMs = 2000;  // each card stays this long in the field
  int GapMs = 500;     // empty field between two cards
  std::string Preset = "new1k";
  Bytes FirstUid;  // 4 or 7 bytes; the next cards count up from it (empty: go on from the last run)
  int PullCard = 0;  // card of the run (1-based) taken away in the middle of a write; 0: none
  int PullAfterWrites = 1;  // ... right after this many of its block write commands
};

// "N [dwell MS] [gap MS] [preset NAME] [uid HEX] [pull CARD WRITES]"; empty with AError set when
// the text is not a plan.
std::optional<TFeedPlan> ParseFeedPlan(const std::string& AText, std::string& AError);

class TCardFeed {
 public:
  explicit TCardFeed(TFirmware& AFirmware) : FFirmware(AFirmware) {}
  ~TCardFeed();
  TCardFeed(const TCardFeed&) = delete;
  TCardFeed& operator=(const TCardFeed&) = delete;

  // Starts a run (a running one is stopped first, its card taken away).
  void Start(const TFeedPlan& APlan);
  // Stops the run and takes its card away; nothing when no run is going.
  void Stop();
  bool Running() const;
  // "idle", "card K of N, UID ..." or "gap after card K of N".
  std::string State() const;

 private:
  TFirmware& FFirmware;
  mutable std::mutex FLock;
  std::condition_variable FWake;
  std::thread FThread;
  bool FStop = false;
  bool FRunning = false;
  std::string FState = "idle";
  Bytes FNextUid = {0x10, 0x00, 0x00, 0x01};

  void Run(TFeedPlan APlan);
  // Waits AMs or until stopped; false when stopped.
  bool Sleep(int AMs);
  void SetState(const std::string& AText);
};

}  // namespace kiren::sim

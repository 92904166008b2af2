#include "sim/card_feed.h"

#include <chrono>
#include <sstream>

#include "base/text_utils.h"
#include "protocol/records.h"

namespace kiren::sim {

namespace {

constexpr int kMaxCards = 100000;
constexpr int kMaxMs = 3600 * 1000;

bool ParseCount(const std::string& AText, int AMin, int AMax, int& AValue) {
  if (AText.empty() || AText.find_first_not_of("0123456789") != std::string::npos ||
      AText.size() > 9) {
    return false;
  }
  AValue = std::stoi(AText);
  return AValue >= AMin && AValue <= AMax;
}

// UID + 1, big-endian, wrapping within its size.
Bytes NextUid(Bytes AUid) {
  for (auto it = AUid.rbegin(); it != AUid.rend(); ++it) {
    if (++*it != 0)
      break;
  }
  return AUid;
}

}  // namespace

std::optional<TFeedPlan> ParseFeedPlan(const std::string& AText, std::string& AError) {
  std::istringstream in(AText);
  std::string word;
  TFeedPlan plan;
  if (!(in >> word) || !ParseCount(word, 1, kMaxCards, plan.Cards)) {
    AError = "feed needs a number of cards (1.." + std::to_string(kMaxCards) + ")";
    return std::nullopt;
  }
  while (in >> word) {
    std::string value, second;
    in >> value;
    bool ok = false;
    if (word == "dwell") {
      ok = ParseCount(value, 1, kMaxMs, plan.DwellMs);
    } else if (word == "gap") {
      ok = ParseCount(value, 0, kMaxMs, plan.GapMs);
    } else if (word == "preset") {
      plan.Preset = value;
      ok = MakePreset(value).has_value();
    } else if (word == "uid") {
      ok = HexStrToBytes(value, plan.FirstUid) &&
           (plan.FirstUid.size() == 4 || plan.FirstUid.size() == 7);
    } else if (word == "pull") {
      in >> second;
      ok = ParseCount(value, 1, plan.Cards, plan.PullCard) &&
           ParseCount(second, 1, 1000, plan.PullAfterWrites);
    }
    if (!ok) {
      AError = "feed N [dwell MS] [gap MS] [preset NAME] [uid HEX] [pull CARD WRITES]: bad '" +
               word + (value.empty() ? "" : " " + value) + "'";
      return std::nullopt;
    }
  }
  return plan;
}

TCardFeed::~TCardFeed() {
  Stop();
}

void TCardFeed::Start(const TFeedPlan& APlan) {
  Stop();
  std::lock_guard<std::mutex> lock(FLock);
  FStop = false;
  FRunning = true;
  if (!APlan.FirstUid.empty())
    FNextUid = APlan.FirstUid;
  FThread = std::thread(&TCardFeed::Run, this, APlan);
}

void TCardFeed::Stop() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (!FThread.joinable())
      return;
    FStop = true;
  }
  FWake.notify_all();
  FThread.join();
}

bool TCardFeed::Running() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FRunning;
}

std::string TCardFeed::State() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FState;
}

void TCardFeed::SetState(const std::string& AText) {
  std::lock_guard<std::mutex> lock(FLock);
  FState = AText;
}

bool TCardFeed::Sleep(int AMs) {
  std::unique_lock<std::mutex> lock(FLock);
  return !FWake.wait_for(lock, std::chrono::milliseconds(AMs), [this] { return FStop; });
}

void TCardFeed::Run(TFeedPlan APlan) {
  const std::string of = " of " + std::to_string(APlan.Cards);
  bool stopped = false;
  for (int k = 1; k <= APlan.Cards && !stopped; ++k) {
    Bytes uid;
    {
      std::lock_guard<std::mutex> lock(FLock);
      uid = FNextUid;
      FNextUid = NextUid(FNextUid);
    }
    const auto card = MakePreset(APlan.Preset, uid);
    if (!card)
      break;
    FFirmware.PullCardAfterWrites(k == APlan.PullCard ? APlan.PullAfterWrites : 0);
    FFirmware.PutCard(*card);
    SetState("card " + std::to_string(k) + of + ", UID " + BytesToHex(uid));
    stopped = !Sleep(APlan.DwellMs);
    FFirmware.RemoveCard();
    FFirmware.PullCardAfterWrites(0);
    if (!stopped && k < APlan.Cards) {
      SetState("gap after card " + std::to_string(k) + of);
      stopped = !Sleep(APlan.GapMs);
    }
  }
  std::lock_guard<std::mutex> lock(FLock);
  FRunning = false;
  FState = "idle";
}

}  // namespace kiren::sim

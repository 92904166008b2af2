// The scripted card feed: plans as the console and the option take them, a run of distinct
// cards, a card taken away in the middle of a write, and a run stopped early.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "protocol/records.h"
#include "sim/card_feed.h"
#include "sim/console.h"
#include "sim_fixture.h"

namespace kiren::sim {
namespace {

using namespace std::chrono_literals;

const TKey kFF = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// Polls APredicate until it holds or 20 s pass.
template <class F>
bool Eventually(F APredicate) {
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (!APredicate()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

TEST(CardFeedPlan, WordsAndLimits) {
  std::string error;
  const auto plan = ParseFeedPlan("5 dwell 300 gap 0 preset 4k uid 0A0B0C0D pull 2 1", error);
  ASSERT_TRUE(plan) << error;
  EXPECT_EQ(plan->Cards, 5);
  EXPECT_EQ(plan->DwellMs, 300);
  EXPECT_EQ(plan->GapMs, 0);
  EXPECT_EQ(plan->Preset, "4k");
  EXPECT_EQ(plan->FirstUid, (Bytes{0x0A, 0x0B, 0x0C, 0x0D}));
  EXPECT_EQ(plan->PullCard, 2);
  EXPECT_EQ(plan->PullAfterWrites, 1);
  EXPECT_TRUE(ParseFeedPlan("1", error));
  for (const char* bad : {"", "0", "x", "-3", "3 dwell", "3 dwell 0", "3 gap -1", "3 preset nosuch",
                          "3 uid 0102", "3 pull 4 1", "3 pull 1", "3 pull 1 0", "3 speed 5"}) {
    EXPECT_FALSE(ParseFeedPlan(bad, error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

TEST(CardFeed, PresentsDistinctCardsOneAfterAnother) {
  TFirmware fw;
  TCardFeed feed(fw);
  std::string error;
  feed.Start(*ParseFeedPlan("3 dwell 150 gap 50 uid 0AFFFFFF", error));
  std::vector<std::string> seen;
  ASSERT_TRUE(Eventually([&] {
    if (const auto card = fw.Card()) {
      const std::string uid = BytesToHex(card->UID());
      if (seen.empty() || seen.back() != uid)
        seen.push_back(uid);
    }
    return !feed.Running();
  }));
  EXPECT_EQ(seen, (std::vector<std::string>{"0AFFFFFF", "0B000000", "0B000001"}));
  EXPECT_FALSE(fw.HasCard());
  EXPECT_EQ(feed.State(), "idle");

  // The next run goes on counting where the last one ended.
  feed.Start(*ParseFeedPlan("1 dwell 10000", error));
  ASSERT_TRUE(Eventually([&] { return fw.HasCard(); }));
  EXPECT_EQ(BytesToHex(fw.Card()->UID()), "0B000002");
  EXPECT_EQ(feed.State(), "card 1 of 1, UID 0B000002");
  feed.Stop();  // does not wait for the dwell to end
  EXPECT_FALSE(fw.HasCard());
  EXPECT_FALSE(feed.Running());
}

// The card-code write is two block writes; the card leaves right after the first one.
TEST(CardFeed, CardTakenAwayInTheMiddleOfAWrite) {
  test::TSimProtocol s;
  TCardFeed feed(s.Firmware);
  std::string error;
  feed.Start(*ParseFeedPlan("2 dwell 10000 pull 1 1", error));
  ASSERT_TRUE(Eventually([&] { return s.Firmware.HasCard(); }));
  TStatus st;
  ASSERT_EQ(s.Proto.LoadKey(kKeyTypeA, kFF, st), kResOk);
  ASSERT_EQ(s.Proto.WriteBlock(4, TBlock{0x01}, kKeyTypeA, st), kResOk);
  EXPECT_FALSE(st.HasError());         // the write itself went through ...
  EXPECT_FALSE(s.Firmware.HasCard());  // ... and the card is gone
  ASSERT_EQ(s.Proto.WriteBlock(7, TBlock{}, kKeyTypeA, st), kResOk);
  EXPECT_TRUE(st.HasError());
  feed.Stop();

  // The console's pull does the same for the card in the field.
  TConsole console(s.Firmware, nullptr);
  bool quit = false;
  EXPECT_EQ(console.Execute("pull 2", quit), "ok: pull 2\n");
  EXPECT_EQ(console.Execute("pull 0", quit).rfind("error: ", 0), 0u);
  s.Firmware.PutCard(NewClassic1K());
  ASSERT_EQ(s.Proto.WriteBlock(4, TBlock{0x02}, kKeyTypeA, st), kResOk);
  EXPECT_TRUE(s.Firmware.HasCard());
  ASSERT_EQ(s.Proto.WriteBlock(5, TBlock{0x02}, kKeyTypeA, st), kResOk);
  EXPECT_FALSE(s.Firmware.HasCard());
  // Once pulled, the switch is spent: the next card stays.
  s.Firmware.PutCard(NewClassic1K());
  ASSERT_EQ(s.Proto.WriteBlock(4, TBlock{0x03}, kKeyTypeA, st), kResOk);
  ASSERT_EQ(s.Proto.WriteBlock(5, TBlock{0x03}, kKeyTypeA, st), kResOk);
  EXPECT_TRUE(s.Firmware.HasCard());
}

TEST(CardFeed, ConsoleStartsShowsAndStopsARun) {
  TFirmware fw;
  TConsole console(fw, nullptr);
  bool quit = false;
  EXPECT_EQ(console.Execute("feed", quit), "feed: idle\n");
  EXPECT_EQ(console.Execute("feed 4 dwell 10000 gap 10 uid 04112233445566", quit),
            "ok: feed 4 cards, dwell 10000 ms, gap 10 ms\n");
  ASSERT_TRUE(Eventually([&] { return fw.HasCard(); }));
  EXPECT_EQ(console.Execute("feed", quit), "feed: card 1 of 4, UID 04112233445566\n");
  EXPECT_NE(console.Execute("show", quit).find("feed: card 1 of 4"), std::string::npos);
  EXPECT_EQ(console.Execute("feed 0", quit).rfind("error: ", 0), 0u);
  EXPECT_EQ(console.Execute("feed stop", quit), "ok: feed stopped\n");
  EXPECT_FALSE(fw.HasCard());
  EXPECT_EQ(console.Execute("feed", quit), "feed: idle\n");
}

}  // namespace
}  // namespace kiren::sim

#include <gtest/gtest.h>

#include "sim/console.h"

namespace kiren::sim {
namespace {

struct TRun {
  TFirmware Firmware;
  TConsole Console{Firmware, nullptr};
  bool Quit = false;
  std::string operator()(const std::string& ALine) { return Console.Execute(ALine, Quit); }
};

TEST(Console, CardsVersionDumpAndQuit) {
  TRun run;
  EXPECT_EQ(run(""), "");
  EXPECT_NE(run("help").find("fault NAME on|off"), std::string::npos);
  EXPECT_EQ(run("4k 01020304"), "ok: 4k card: Mifare Classic 4K, UID 01020304\n");
  EXPECT_EQ(run("card ultralight").rfind("ok: ultralight card: Mifare Ultralight", 0), 0u);
  EXPECT_EQ(run("remove"), "ok: card removed\n");
  EXPECT_FALSE(run.Firmware.HasCard());
  EXPECT_EQ(run("put 0A0B0C0D0E0F01"), "ok: new1k card: Mifare Classic 1K, UID 0A0B0C0D0E0F01\n");
  for (const char* bad :
       {"put 0102", "put XYZ", "card nosuch", "dump 16", "dump x", "frobnicate"}) {
    EXPECT_EQ(run(bad).rfind("error: ", 0), 0u) << bad;
  }
  const std::string dump = run("dump 1");
  EXPECT_NE(dump.find("blk   7: FF FF FF FF FF FF FF 07 80 69 FF FF FF FF FF FF"),
            std::string::npos);
  EXPECT_NE(dump.find("trailer 001"), std::string::npos);
  EXPECT_EQ(run("version Кирен-М1 v4.1 test"), "ok: version Кирен-М1 v4.1 test\n");
  EXPECT_EQ(run.Firmware.Version(), "Кирен-М1 v4.1 test");
  EXPECT_NE(run("show").find("card: Mifare Classic 1K, UID 0A0B0C0D0E0F01"), std::string::npos);
  EXPECT_FALSE(run.Quit);
  run("quit");
  EXPECT_TRUE(run.Quit);
}

TEST(Console, FaultSwitches) {
  TRun run;
  run("fault half on");
  run("fault delay 150");
  run("fault count 3");
  run("fault cmd A0");
  TFaults f = run.Firmware.Faults();
  EXPECT_TRUE(f.HalfAnswer);
  EXPECT_EQ(f.DelayMs, 150);
  EXPECT_EQ(f.Count, 3);
  EXPECT_EQ(f.OnlyCmd, 0xA0);
  EXPECT_EQ(run("fault half maybe").rfind("error: ", 0), 0u);
  EXPECT_EQ(run("fault cmd 1FF").rfind("error: ", 0), 0u);
  run("fault count all");
  run("fault cmd any");
  run("fault half off");
  f = run.Firmware.Faults();
  EXPECT_FALSE(f.HalfAnswer);
  EXPECT_EQ(f.Count, -1);
  EXPECT_EQ(f.OnlyCmd, -1);
  for (const char* name : {"noanswer", "badcrc", "trailing", "wrongcmd", "long"}) {
    run(std::string("fault ") + name + " on");
  }
  f = run.Firmware.Faults();
  EXPECT_TRUE(f.NoAnswer && f.BadCrc && f.TrailingBytes && f.WrongCommand && f.LongAnswer);
  run("fault off");
  EXPECT_FALSE(run.Firmware.Faults().Any());
}

}  // namespace
}  // namespace kiren::sim

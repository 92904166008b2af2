#include <gtest/gtest.h>

#include <vector>

#include "base/text_utils.h"
#include "protocol/answer_reader.h"
#include "protocol/frame.h"

namespace kiren {
namespace {

Bytes Hex(const std::string& AText) {
  Bytes b;
  EXPECT_TRUE(HexStrToBytes(AText, b)) << AText;
  return b;
}

struct TReaderCase {
  const char* Name;
  std::vector<Bytes> Pieces;
  TAnswerState State;
  std::size_t Count;  // bytes taken
};

TEST(TAnswerReader, StatesAfterEachFeed) {
  const Bytes frame = Hex("FE 03 A0 54 1A");
  const Bytes longBody(80, 0x11);
  const TReaderCase cases[] = {
      {.Name = "nothing yet", .Pieces = {}, .State = TAnswerState::Collecting, .Count = 0},
      {.Name = "frame without its last byte",
       .Pieces = {Hex("FE 03 A0 54")},
       .State = TAnswerState::Collecting,
       .Count = 4},
      {.Name = "frame after leading bytes",
       .Pieces = {Hex("00 12"), frame},
       .State = TAnswerState::Answer,
       .Count = 7},
      {.Name = "bad CRC",
       .Pieces = {Hex("FE 03 A0 54 1B")},
       .State = TAnswerState::Damaged,
       .Count = 5},
      {.Name = "bytes after the frame in the same piece",
       .Pieces = {Hex("FE 03 A0 54 1A 12")},
       .State = TAnswerState::Damaged,
       .Count = 6},
      {.Name = "pieces after the answer are not taken",
       .Pieces = {frame, Hex("00 00")},
       .State = TAnswerState::Answer,
       .Count = 5},
      {.Name = "length byte 1 never completes",
       .Pieces = {Hex("FE 01 A0 54 1A")},
       .State = TAnswerState::Collecting,
       .Count = 5},
      {.Name = "66 bytes without a frame: full, the rest left",
       .Pieces = {longBody},
       .State = TAnswerState::Full,
       .Count = TAnswerReader::kBufferSize},
  };
  for (const TReaderCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TAnswerReader reader;
    for (const Bytes& piece : c.Pieces)
      reader.Feed(piece);
    EXPECT_EQ(reader.State(), c.State);
    EXPECT_EQ(reader.Count(), c.Count);
    EXPECT_EQ(reader.Done(), c.State != TAnswerState::Collecting);
    if (c.State == TAnswerState::Answer) {
      EXPECT_EQ(reader.Command(), 0xA0);
      EXPECT_TRUE(reader.Payload().empty());
    }
  }
}

TEST(TAnswerReader, ResetStartsANewAttempt) {
  TAnswerReader reader;
  reader.Feed(Bytes(70, 0x11));
  ASSERT_EQ(reader.State(), TAnswerState::Full);
  reader.Reset();
  EXPECT_EQ(reader.Room(), TAnswerReader::kBufferSize);
  const Bytes payload = Hex("00 01 FE FF");
  EXPECT_EQ(reader.Feed(TBuilder::Finalize(Hex("FF 00 01 FE FF"))), TAnswerState::Answer);
  EXPECT_EQ(reader.Command(), 0xFF);
  EXPECT_EQ(reader.Payload(), payload);
}

}  // namespace
}  // namespace kiren

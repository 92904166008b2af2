// Every TProtocol operation answered by fuzzed bytes. The bytes take the worker's receive
// path: fed in chunks to TAnswerReader (66-byte buffer, frame recognition, CRC check, split
// into command byte and payload), decoded by TProtocol; the decoded records are then
// rendered as the worker and the window render them.
#include <algorithm>
#include <stdexcept>

#include "fuzz/fuzz_common.h"
#include "protocol/answer_reader.h"
#include "protocol/card_content.h"
#include "protocol/frame.h"
#include "protocol/protocol.h"
#include "protocol/records.h"

using namespace kiren;

namespace {

// One exchange attempt over the bytes AWire arriving in chunks of AChunk bytes.
int Exchange(const Bytes& AWire, std::size_t AChunk, std::uint8_t& ACmd, Bytes& AData) {
  AData.clear();
  TAnswerReader reader;
  std::size_t served = 0;
  while (!reader.Done() && served < AWire.size()) {
    const std::size_t n = std::min(AChunk, AWire.size() - served);
    const std::size_t before = reader.Count();
    reader.Feed(AWire.data() + served, n);
    const std::size_t taken = reader.Count() - before;
    KIREN_FUZZ_CHECK(taken == std::min(n, TAnswerReader::kBufferSize - before));
    KIREN_FUZZ_CHECK(reader.Count() <= TAnswerReader::kBufferSize);
    served += taken;
  }
  if (reader.State() == TAnswerState::Answer)
    KIREN_FUZZ_CHECK(reader.Payload().size() + 3 <= reader.Count());
  return AttemptResult(reader, ACmd, AData);
}

struct TScript {
  bool Framed = false;     // the answer is a correct frame around the fuzzed payload
  bool OwnCommand = true;  // ... carrying the command byte of the request
  std::uint8_t OtherCmd = 0;
  std::size_t Chunk = 1;
  Bytes Answer;
  int Calls = 0;
};

TWriteReadProc ServeAnswer(TScript& AScript) {
  return [&AScript](const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
    KIREN_FUZZ_CHECK(!AReq.empty());
    ++AScript.Calls;
    Bytes wire = AScript.Answer;
    if (AScript.Framed) {
      Bytes body{AScript.OwnCommand ? AReq.front() : AScript.OtherCmd};
      body.insert(body.end(), wire.begin(), wire.end());
      wire = TBuilder::Finalize(body);
    }
    return Exchange(wire, AScript.Chunk, ACmd, AData);
  };
}

std::string Text(fuzz::TInput& AIn, std::size_t AMax) {
  const Bytes b = AIn.Take(AIn.Range(0, static_cast<int>(AMax)));
  return std::string(b.begin(), b.end());
}

void RenderCardInfo(const TCardInfo& ACard) {
  KIREN_FUZZ_CHECK(ACard.UIDSize <= TCardInfo::kMaxUIDSize);
  (void)ACard.UIDStr();
  (void)ACard.CardType();
  (void)ACard.status.Error();
}

void RunOperation(int AOp, TProtocol& AProto, fuzz::TInput& AParams) {
  TStatus status;
  switch (AOp) {
    case 0: {
      std::string ver;
      AProto.GetVer(ver);
      TDevInfo dev;
      try {
        dev.UpdateFromVerInfo(ver);
      } catch (const std::out_of_range&) {
      }
      break;
    }
    case 1:
      if (AProto.GetStatus(status) != kResOk)
        KIREN_FUZZ_CHECK(status.data == 0);
      (void)status.Error();
      break;
    case 2: {
      TCardInfo card;
      if (AProto.GetCardInfo(card) != kResOk)
        KIREN_FUZZ_CHECK(card == TCardInfo());
      RenderCardInfo(card);
      break;
    }
    case 3: {
      TKirenCardEx card;
      if (AProto.GetKirenCard(card) != kResOk)
        KIREN_FUZZ_CHECK(card == TKirenCardEx());
      (void)card.Info();
      break;
    }
    case 4: {
      TKirenCard card;
      if (AProto.GetKirenCard(card) != kResOk)
        KIREN_FUZZ_CHECK(card == TKirenCard());
      TCardType type;
      (void)card.Info(AParams.Range(0, 16), type);
      break;
    }
    case 5: {
      int code = -1;
      AProto.ClearCard(code);
      KIREN_FUZZ_CHECK(code >= 0 && code <= 8);
      break;
    }
    case 6: {
      TConfig config{{0x99, {"kept"}}};
      const TConfig before = config;
      try {
        AProto.GetConfig(config);
      } catch (const std::invalid_argument&) {
        KIREN_FUZZ_CHECK(config == before);
      }
      break;
    }
    case 7: {
      const int type = AParams.Range(-1, 6);
      const std::string emitent = Text(AParams, 12), emission = Text(AParams, 8);
      const std::string key = Text(AParams, 20), user = Text(AParams, 24);
      try {
        AProto.IssueCard(type, emitent, emission, key, user, status);
      } catch (const std::invalid_argument&) {
      }
      break;
    }
    case 8: {
      TKey key{};
      for (auto& b : key)
        b = AParams.Byte();
      AProto.LoadKey(AParams.Byte(), key, status);
      break;
    }
    case 9: {
      TBlock block{};
      if (AProto.ReadBlock(AParams.Byte(), AParams.Byte(), status, block) != kResOk)
        KIREN_FUZZ_CHECK(block == TBlock{});
      break;
    }
    case 10: {
      TBlock block{};
      for (auto& b : block)
        b = AParams.Byte();
      AProto.WriteBlock(AParams.Byte(), block, AParams.Byte(), status);
      break;
    }
    case 11: {
      std::uint8_t answer = 0;
      if (AProto.SetupMode(AParams.Byte(), answer) != kResOk)
        KIREN_FUZZ_CHECK(answer == 0);
      break;
    }
    case 12: {
      TPercoPars pars;
      for (auto& b : pars.key)
        b = AParams.Byte();
      pars.blockNo = AParams.Byte();
      pars.offset = AParams.Byte();
      pars.size = AParams.Byte();
      pars.lbs = AParams.Byte();
      AProto.SetupPerco(pars, status);
      break;
    }
    default: {
      std::uint8_t answer = 0;
      if (AProto.SetupEmissionPrior(AParams.Byte(), answer) != kResOk)
        KIREN_FUZZ_CHECK(answer == 0);
      break;
    }
  }
}

}  // namespace

// Input: operation, answer form, other command byte, chunk size, parameter length,
// operation parameters, answer bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  fuzz::InstallQuietSink();
  fuzz::TInput in(AData, ASize);
  const int op = in.Byte() % 14;
  const std::uint8_t form = in.Byte();
  TScript script;
  script.Framed = (form & 1) != 0;
  script.OwnCommand = (form & 2) == 0;
  script.OtherCmd = in.Byte();
  script.Chunk = static_cast<std::size_t>(in.Range(1, 70));
  const Bytes params = in.Take(static_cast<std::size_t>(in.Range(0, 80)));
  script.Answer = in.Rest();

  TProtocol proto(ServeAnswer(script));
  fuzz::TInput paramIn(params.data(), params.size());
  RunOperation(op, proto, paramIn);
  KIREN_FUZZ_CHECK(script.Calls <= 1);  // one command per operation (none when it throws first)
  return 0;
}

// The configuration answer (command 0x21): any text, served as an intact answer, decoded by
// GetConfig and then read the way the window reads keys 81, 82 and 168.
#include <stdexcept>

#include "base/text_utils.h"
#include "fuzz/fuzz_common.h"
#include "protocol/frame.h"
#include "protocol/protocol.h"

using namespace kiren;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  fuzz::InstallQuietSink();
  const Bytes payload(AData, AData + ASize);
  TProtocol proto([&payload](const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
    KIREN_FUZZ_CHECK(AReq == TBuilder::Req_GetConfig());
    ACmd = kCmdGetConfig;
    AData = payload;
    return kResOk;
  });
  TConfig config{{0x99, {"kept"}}};
  const TConfig before = config;
  int res = -1;
  try {
    res = proto.GetConfig(config);
  } catch (const std::invalid_argument&) {
    KIREN_FUZZ_CHECK(config == before);
    return 0;
  }
  if (payload.empty()) {
    KIREN_FUZZ_CHECK(res == kResNothingToDo && config == before);
    return 0;
  }
  KIREN_FUZZ_CHECK(res == kResOk);
  for (const std::uint8_t key : {kCmdSetupPerco, kCmdSetupMode, kCmdSetupSorvelMode}) {
    const auto it = config.find(key);
    if (it == config.end())
      continue;
    for (const std::string& value : it->second) {
      KIREN_FUZZ_CHECK(fuzz::IsUtf8(value));
      std::int32_t v = 0;
      (void)TryStrToInt(value, v);
    }
  }
  return 0;
}

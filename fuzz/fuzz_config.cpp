// The configuration answer (command 0x21): any text, served as an intact answer, decoded by
// GetConfig and then decoded into the named fields the window and kiren-cli use.
#include <stdexcept>

#include "fuzz/fuzz_common.h"
#include "operator/reader.h"
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
    for (const std::string& value : it->second)
      KIREN_FUZZ_CHECK(fuzz::IsUtf8(value));
  }
  const op::TReaderConfig named = op::DecodeConfig(config);
  const auto perco = config.find(kCmdSetupPerco);
  KIREN_FUZZ_CHECK(named.BlockNo.has_value() == (perco != config.end() && !perco->second.empty()));
  if (named.BlockNo)
    KIREN_FUZZ_CHECK(*named.BlockNo == perco->second[0]);
  return 0;
}

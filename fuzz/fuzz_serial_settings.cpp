// The serial settings text ("115200-8-N-1"): any text is either accepted with values in range
// or rejected with the settings left as they were.
#include "fuzz/fuzz_common.h"
#include "serial/com_port.h"

using namespace kiren;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  fuzz::InstallQuietSink();
  const std::string text(reinterpret_cast<const char*>(AData), ASize);
  TMyComPort port;
  const std::string before = port.ParamsAsString();
  const bool accepted = port.SetParams(text, false);
  const std::string after = port.ParamsAsString();
  if (!accepted) {
    KIREN_FUZZ_CHECK(after == before);
    return 0;
  }
  const TMyDCB& dcb = port.Settings();
  KIREN_FUZZ_CHECK(dcb.ByteSize() >= 5 && dcb.ByteSize() <= 8);
  KIREN_FUZZ_CHECK(dcb.Parity() <= 4);
  KIREN_FUZZ_CHECK(dcb.StopBits() == 0 || dcb.StopBits() == 2);
  // The printed form is accepted again and gives the same settings.
  TMyComPort again;
  KIREN_FUZZ_CHECK(again.SetParams(after, false));
  KIREN_FUZZ_CHECK(again.ParamsAsString() == after);
  (void)port.Settings().Print();
  return 0;
}

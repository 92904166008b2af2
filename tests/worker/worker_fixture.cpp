#include "worker_fixture.h"

#include <cstdlib>
#include <filesystem>

#include "logging/dbg_logger.h"
#include "protocol/answer_reader.h"
#include "protocol/frame.h"

namespace kiren::test {

std::vector<Bytes> RequestsOf(const sim::TFirmware& AFirmware, std::uint8_t ACmd) {
  std::vector<Bytes> found;
  for (const Bytes& req : AFirmware.History())
    if (!req.empty() && req.front() == ACmd)
      found.push_back(req);
  return found;
}

std::vector<std::uint8_t> CommandsOf(const sim::TFirmware& AFirmware) {
  std::vector<std::uint8_t> cmds;
  for (const Bytes& req : AFirmware.History())
    if (!req.empty())
      cmds.push_back(req.front());
  return cmds;
}

TWriteReadProc DirectExchange(sim::TFirmware& AFirmware) {
  return [&AFirmware](const Bytes& AReq, std::uint8_t& ACmd, Bytes& AData) {
    TAnswerReader reader;
    switch (reader.Feed(AFirmware.Receive(TBuilder::Finalize(AReq)))) {
      case TAnswerState::Answer:
        ACmd = reader.Command();
        AData = reader.Payload();
        return static_cast<int>(kResOk);
      case TAnswerState::Damaged:
        return static_cast<int>(kResBadAnswer);
      default:
        return static_cast<int>(kResTimeout);
    }
  };
}

void TWorkerTest::SetUp() {
  auto logger = DbgLogger();
  logger->Close();
  logger->SetDir(LogDir.Path());
  Host = std::make_unique<sim::TPtyHost>(Firmware);
}

void TWorkerTest::TearDown() {
  Stop();
  Host.reset();
  DbgLogger()->Close();
}

void TWorkerTest::Start(bool AUsedWiegand, const std::string& APort) {
  Ended = false;
  Started = true;
  Th = TTh::Create(
      APort.empty() ? Host->PortName() : APort, AUsedWiegand,
      [this](TTh* ASender) {
        EndReason = ASender->EndReason();
        Ended = true;
        Th = nullptr;
      },
      View, Loop);
}

void TWorkerTest::Stop() {
  if (!Started)
    return;
  if (Th != nullptr)
    Th->Terminate();
  RunUntil([this] { return Ended; }, 30s);
}

bool TWorkerTest::WaitCards(std::size_t ACount, std::chrono::milliseconds ATimeout) {
  const std::size_t target = View.Cards.size() + ACount;
  return RunUntil([&] { return View.Cards.size() >= target; }, ATimeout);
}

}  // namespace kiren::test

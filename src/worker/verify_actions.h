// Card operations that check their work: after the reader confirmed the operation, the card is
// read again and what it holds and what the reader reports are compared with what was meant.
// The operation's own result (ErrCode, Status, the block data) stays exactly as the unchecked
// action leaves it; the check has its own outcome.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/bytes.h"
#include "protocol/protocol.h"
#include "protocol/records.h"
#include "protocol/verification.h"
#include "worker/actions.h"

namespace kiren {

// What the worker knows about the reader when an action runs.
struct TReaderState {
  TDevInfo DevInfo;
  // The card poll reads the card content with command 0x50 (else 0x55).
  bool UsedWiegand = false;
  // Code size the card poll renders a 0x50 record with.
  std::int32_t CodeSize = 5;
  // Emission parameters this worker last wrote successfully.
  std::optional<TPercoPars> LastPars;
};

// Reads one block with key type A: loads AKey, then reads. ErrCode 7 when a status word reports
// an error.
TBlockRead ReadBlockWithKeyA(TProtocol& AProto, std::uint8_t ABlockNo, const TKey& AKey);
// Reads the card content the way the card poll does (0x50 or 0x55 as AState says).
TContentRead ReadReportedCard(TProtocol& AProto, const TReaderState& AState);
// Where the reader takes a plain code from: its configuration where the version has one (the
// key, which the configuration does not give, from the parameters last written), else the
// parameters this worker last wrote, else AKnown. Empty when none of them tells.
std::optional<TEmissionView> ReaderEmission(TProtocol& AProto, const TReaderState& AState,
                                            const std::optional<TPercoPars>& AKnown);

// The checking part shared by the checked actions. The worker hands it its reader state before
// the action runs and shows the card content it read afterwards.
class TCardCheck {
 public:
  virtual ~TCardCheck() = default;

  void TakeReaderState(const TReaderState& AState) { FReader = AState; }
  const TReaderState& ReaderState() const { return FReader; }
  // The check's outcome and its message.
  const TCheckResult& Check() const { return FCheck; }
  // What the reader reported about the card after the operation; empty when it was not read.
  const std::optional<TReportedCard>& Reported() const { return FReported; }

 protected:
  // Reads the card content; keeps what arrived.
  TContentRead ReadContent(TProtocol& AProto);

  TReaderState FReader;
  TCheckResult FCheck{TCheckOutcome::NotChecked, "Проверка не проводилась"};
  std::optional<TReportedCard> FReported;
};

// A card-code write followed by its check: the code block and the sector trailer read back with
// the new key A, then the card content as the reader reports it against the code written.
class TAcWriteCardCodeChecked : public TAcWriteCardCode, public TCardCheck {
 public:
  // AKnownPars: emission parameters the caller knows the reader holds (for example the ones
  // saved after the last successful write), used when neither the reader's configuration nor
  // this worker's own writes tell them. Throws as TAcWriteCardCode does.
  TAcWriteCardCodeChecked(std::uint8_t ABlockNo, std::uint8_t AOffset, const Bytes& ACardCode,
                          const TKeyList& AKeys, TOnActionDone AOnDone,
                          std::optional<TPercoPars> AKnownPars = std::nullopt);

  const TWrittenCode& Written() const { return FWritten; }
  // The two parts of Check().
  const TCheckResult& ReadBack() const { return FReadBack; }
  const TCheckResult& Emitted() const { return FEmitted; }
  // The emission parameters the reader's report was judged by; empty when unknown.
  const std::optional<TEmissionView>& Emission() const { return FEmission; }

  int Execute(TProtocol& AProto) override;

 private:
  TWrittenCode FWritten;
  std::optional<TPercoPars> FKnownPars;
  TCheckResult FReadBack{TCheckOutcome::NotChecked, {}};
  TCheckResult FEmitted{TCheckOutcome::NotChecked, {}};
  std::optional<TEmissionView> FEmission;
};

// An issue followed by its check: the reader reports the layout, emitent and emission issued
// (user layouts: the user data).
class TAcIssueCardChecked : public TAcIssueCard, public TCardCheck {
 public:
  using TAcIssueCard::TAcIssueCard;
  int Execute(TProtocol& AProto) override;
};

// A clear followed by its check: the reader no longer reports an issued layout.
class TAcClearCardChecked : public TAcClearCard, public TCardCheck {
 public:
  using TAcClearCard::TAcClearCard;
  int Execute(TProtocol& AProto) override;
};

}  // namespace kiren

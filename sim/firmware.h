// Firmware of the virtual card reader: takes the bytes the host writes, answers with frames.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "sim/card.h"
#include "sim/card_content.h"
#include "sim/faults.h"

namespace kiren::sim {

class TFirmware {
 public:
  static constexpr const char* kDefaultVersion = "Kiren-M1 v5.3";

  TFirmware();

  // Bytes written by the host: may hold part of a frame or several frames. Every complete
  // request with a valid CRC is answered; the answers are returned concatenated (possibly
  // empty). ADelayMs, when given, receives the delay the host should wait before sending.
  // Garbage, bad CRCs and unknown commands get no answer.
  Bytes Receive(const Bytes& AHostBytes, int* ADelayMs = nullptr);

  // Card in the field.
  void PutCard(const TCard& ACard);
  void RemoveCard();
  // The card in the field (or the next one put there) leaves right after its AWrites-th block
  // write command, as when it is taken away in the middle of a card-code write; 0: off.
  void PullCardAfterWrites(int AWrites);
  bool HasCard() const;
  std::optional<TCard> Card() const;

  // Reader settings.
  void SetVersion(const std::string& AText);  // UTF-8, sent in Windows-1251
  std::string Version() const;
  void SetFaults(const TFaults& AFaults);
  TFaults Faults() const;
  void SetEmissionParams(const TEmissionParams& AParams);
  TEmissionParams EmissionParams() const;
  std::uint8_t Mode() const;
  std::uint8_t EmissionPrior() const;

  // Requests answered or swallowed so far (command byte + payload), newest last; keeps the
  // latest 256.
  std::vector<Bytes> History() const;
  void ClearHistory();

 private:
  // Single-field reads and writes under the lock, for the console and the tests.
  template <class T>
  T Locked(const T& AField) const {
    std::lock_guard<std::mutex> lock(FLock);
    return AField;
  }
  template <class T>
  void SetLocked(T& AField, const T& AValue) {
    std::lock_guard<std::mutex> lock(FLock);
    AField = AValue;
  }

  mutable std::mutex FLock;
  Bytes FRx;
  std::string FVersion = kDefaultVersion;
  TFaults FFaults;
  TEmissionParams FEmission;
  std::uint8_t FMode = 0;
  std::uint8_t FEmissionPrior = 0;
  std::optional<TKey6> FLoadedKeyA, FLoadedKeyB;
  TKey6 FIssueKey = kTransportKey;
  std::optional<TCard> FCard;
  std::vector<Bytes> FHistory;
  bool FWriteFaulted = false;
  int FPullAfterWrites = 0;
  int FWritesToCard = 0;  // block write commands since the card came  // the write switches apply
                          // to the request being executed

  std::optional<Bytes> NextRequest();
  Bytes Answer(const Bytes& ARequest, int& ADelayMs);
  Bytes Execute(std::uint8_t ACmd, const Bytes& APayload, bool& AHasAnswer);

  Bytes DoStatus() const;
  Bytes DoCardType() const;
  Bytes DoLoadKey(const Bytes& APayload);
  Bytes DoReadBlock(const Bytes& APayload) const;
  Bytes DoWriteBlock(const Bytes& APayload);
  void StoreWrite(const TCard& AWritten, int ABlock);
  Bytes DoSetupPerco(const Bytes& APayload);
  Bytes DoMode(std::uint8_t& ASetting, const Bytes& APayload, bool AEmissionPrior);
  Bytes DoConfig() const;
  Bytes DoIssue(const Bytes& APayload);
  Bytes DoClear();
  TContentSettings ContentSettings() const;
  // Keys the reader tries on its own: the emission key, the last factory key, the transport key.
  std::vector<TKey6> KeyRing() const;
  // The emission parameters the reader really reads with (the stored ones unless a fault
  // switch points elsewhere).
  TEmissionParams EffectiveEmission() const;
};

}  // namespace kiren::sim

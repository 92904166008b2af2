// What the reader's answers mean to an operator: the wording of the universal-mode and
// emission-priority answers, of a card clear, the configuration in named fields, and what a
// firmware version can do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/protocol.h"
#include "protocol/records.h"

namespace kiren::op {

// ---- Universal mode and emission priority -----------------------------------------------

enum class TModeKind {
  Universal,      // command 0x52
  EmissionPrior,  // command 0xA8
};

// A mode byte of kModeQuery or above only asks (the switching item of the window can send any
// byte, see NextModeValue).
inline bool IsModeQuery(std::uint8_t AMode) {
  return AMode >= kModeQuery;
}

// The mode byte the window's switching item sends for its tag: (1 - tag) modulo 256.
std::uint8_t NextModeValue(int ATag);

// Whether a query's answer means "on": the universal mode counts 0 and 0x55 as off, the
// emission priority only 0.
bool ModeAnswerIsOn(TModeKind AKind, std::uint8_t AAnswer);

// The text of a query's answer.
std::string ModeStateText(TModeKind AKind, bool AOn);

struct TModeOutcome {
  bool Ok = false;  // green (true) or red (false)
  std::string Text;
  std::optional<bool> On;  // the setting as now known; nothing after a failure
};

// A finished mode command: an error code other than 0 is "Не выполнено"; a query reports the
// setting; a switch succeeded when the answer repeats the mode byte sent.
TModeOutcome ModeOutcome(TModeKind AKind, int AErrCode, std::uint8_t AMode, std::uint8_t AAnswer);

// The window's tag after AOutcome of a command that sent AMode: the answer to a query (1 on,
// 0 off), the other state after a switch (1 - tag), unchanged after a failure.
int ModeTagAfter(const TModeOutcome& AOutcome, std::uint8_t AMode, int ATag);

// ---- Clearing a card ------------------------------------------------------------------------

struct TOutcome {
  bool Ok = false;
  std::string Text;
};

// 0: success; 8: nothing to clear; anything else: "Не выполнено".
TOutcome ClearOutcome(int AErrCode);

// ---- Configuration ------------------------------------------------------------------------

// The reader's configuration in named fields; a field the reader did not report is empty.
struct TReaderConfig {
  // Emission parameters (key 81), texts as the reader gave them.
  std::optional<std::string> BlockNo;
  std::optional<std::string> Offset;
  std::optional<std::string> Size;
  std::optional<bool> ReverseOrder;  // the low 8 bits of the fourth value are not 0
  std::optional<int> Mode;           // key 82: universal mode byte
  std::optional<int> EmissionPrior;  // key 168: emission priority
};

TReaderConfig DecodeConfig(const TConfig& AConfig);

// What a configuration key holds, for listing the raw dictionary; empty for other keys.
std::string ConfigKeyName(std::uint8_t AKey);

// ---- Firmware capabilities ------------------------------------------------------------------

// The code size readers without CodeSize use and the window shows.
inline constexpr int kFixedCodeSize = 5;

struct TCapabilities {
  bool CodeSize = false;         // the code size can be chosen (else kFixedCodeSize)
  bool ServiceCommands = false;  // card clearing, issuing and the service items
  bool ByteOrder = false;        // the reverse byte order of the emission parameters
  bool ModeSwitch = false;       // the universal mode can be switched and queried
  bool ReadMethod = false;       // the old (Wiegand) card read can be chosen
  bool ReadConfig = false;       // the configuration command
};

TCapabilities Capabilities(int AVerMajor);
inline TCapabilities Capabilities(const TDevInfo& ADevInfo) {
  return Capabilities(ADevInfo.verMajor);
}

}  // namespace kiren::op

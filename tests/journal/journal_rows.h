// Journal rows for the tests of both backends.
#pragma once

#include <chrono>
#include <string>

#include "journal/journal.h"

namespace kiren::test {

// A card-code write as the tool journals it: five bytes at block 4, done and verified.
inline TJournalRecord CodeWriteRow(const std::string& AUid, const std::string& ACodeHex,
                                   std::chrono::system_clock::time_point ATime,
                                   const std::string& AStation = "desk-1") {
  TJournalRecord r;
  r.Time = ATime;
  r.Station = AStation;
  r.Login = "operator";
  r.ReaderPort = "/dev/ttyACM0";
  r.Firmware = "4.2";
  r.CardUid = AUid;
  r.CardType = "Mifare 1K";
  r.Operation = TJournalOperation::CardCodeWrite;
  r.Block = 4;
  r.Offset = 0;
  r.Size = 5;
  r.CodeHex = ACodeHex;
  r.ResultCode = 0;
  r.ResultText = "Операция выполнена успешно";
  r.Verify = TVerifyOutcome::Verified;
  return r;
}

}  // namespace kiren::test

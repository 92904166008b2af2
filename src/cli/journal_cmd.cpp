#include "cli/journal_cmd.h"

#include <iostream>

#include "cli/commands.h"
#include "cli/json.h"
#include "journal/journal_export.h"

namespace kiren::cli {

namespace {

std::chrono::system_clock::time_point TimeOption(const TArgs& AArgs, const std::string& AName) {
  const std::string text = AArgs.Get(AName, "");
  const auto time = ParseJournalTime(text);
  if (!time)
    throw TUsageError("--" + AName + ": ожидается дата ГГГГ-ММ-ДД или ГГГГ-ММ-ДДTчч:мм[:сс], " +
                      "получено \"" + text + "\"");
  return *time;
}

// A code as the card-code tab takes it: decimal digits, or hexadecimal after "0x".
std::string CodeOption(const std::string& AText) {
  std::optional<std::string> hex;
  if (AText.rfind("0x", 0) == 0 || AText.rfind("0X", 0) == 0)
    hex = NormalizeCodeHex(AText);
  else
    hex = CodeDecimalToHex(AText);
  if (!hex)
    throw TUsageError("--code: ожидается десятичный код или 0xHEX, получено \"" + AText + "\"");
  return *hex;
}

// "2026-12-11 17:53:09" of "2026-12-11T17:53:09.123+03:00".
std::string ShownTime(const std::string& AIso) {
  std::string text = AIso.substr(0, 19);
  if (text.size() > 10)
    text[10] = ' ';
  return text;
}

std::string RowLine(const TJournalRecord& ARow) {
  std::string line = ShownTime(ARow.TimeLocal) + "  " + OperationText(ARow.Operation);
  if (!ARow.CardUid.empty())
    line += "  UID " + ARow.CardUid;
  if (!ARow.CodeHex.empty())
    line += "  код " + ARow.CodeHex + " (" + ARow.CodeDec + ")";
  if (!ARow.Layout.empty())
    line += "  " + ARow.Layout;
  if (ARow.Emitent)
    line += "  эмитент " + std::to_string(*ARow.Emitent);
  if (ARow.Emission)
    line += "  эмиссия " + std::to_string(*ARow.Emission);
  line += "  " + ARow.ResultText + "  " + VerifyOutcomeText(ARow.Verify);
  return line;
}

}  // namespace

op::TJournalOptions JournalOptions(const TArgs& AArgs) {
  op::TJournalOptions options;
  options.Path = AArgs.Get("journal", "");
  // --register: a shared register on a PostgreSQL server instead of the file.
  if (AArgs.Has("register"))
    options.Settings = {TJournalBackend::PostgreSql, AArgs.Get("register", "")};
  return options;
}

std::shared_ptr<op::TIssuingService> MakeIssuingService(
    const TArgs& AArgs, const std::function<void(const std::string&)>& AWarn) {
  op::TJournalOpening journal = op::OpenJournal(JournalOptions(AArgs));
  const bool withoutJournal = AArgs.Has("no-journal");
  if (!journal.Ok()) {
    if (!withoutJournal)
      throw TJournalRefused(journal.Error + " Без журнала: --no-journal.");
    AWarn(journal.Error);
  }
  const bool allowDuplicate = AArgs.Has("allow-duplicate");
  op::TIssuingQuestions questions;
  questions.GoOnWithoutJournal = [withoutJournal](const std::string&) { return withoutJournal; };
  questions.WriteDuplicate = [allowDuplicate](const TCodeOnOtherCard&, const std::string&) {
    return allowDuplicate;
  };
  return std::make_shared<op::TIssuingService>(std::move(journal), op::LocalStation(),
                                               std::move(questions));
}

TJournalFilter JournalFilterOf(const TArgs& AArgs) {
  TJournalFilter filter;
  if (AArgs.Has("since"))
    filter.Since = TimeOption(AArgs, "since");
  if (AArgs.Has("until"))
    filter.Until = TimeOption(AArgs, "until");
  if (AArgs.Has("uid")) {
    const auto uid = NormalizeCodeHex(AArgs.Get("uid", ""));
    if (!uid || AArgs.Get("uid", "").rfind("0x", 0) == 0)
      throw TUsageError("--uid: ожидается UID в шестнадцатеричном виде, получено \"" +
                        AArgs.Get("uid", "") + "\"");
    filter.CardUid = AArgs.Get("uid", "");
  }
  if (AArgs.Has("code"))
    filter.CodeHex = CodeOption(AArgs.Get("code", ""));
  if (AArgs.Has("csv") && AArgs.Json)
    throw TUsageError("--csv и --json вместе не применяются");
  return filter;
}

int RunJournalCommand(const TArgs& AArgs) {
  const TJournalFilter filter = JournalFilterOf(AArgs);
  auto fail = [&AArgs](int AExit, const std::string& AText) {
    if (AArgs.Json)
      std::cout << TJsonObject().Add("ok", false).Add("error", AText).Str() << std::endl;
    else
      std::cerr << "kiren-cli: " << AText << std::endl;
    return AExit;
  };
  op::TJournalOpening journal = op::OpenJournal(JournalOptions(AArgs));
  if (!journal.Ok())
    return fail(kExitNotJournaled, journal.Error);
  const auto rows = journal.Journal->Query(filter);
  if (!rows.ok())
    return fail(kExitNotJournaled, rows.error().Message);
  if (AArgs.Has("csv")) {
    std::cout << JournalToCsv(rows.value());
  } else if (AArgs.Json) {
    std::cout << JournalToJsonLines(rows.value());
  } else {
    for (const auto& row : rows.value())
      std::cout << RowLine(row) << "\n";
    if (rows.value().empty())
      std::cerr << "В журнале " << journal.Location << " нет таких записей" << std::endl;
  }
  std::cout.flush();
  return kExitOk;
}

}  // namespace kiren::cli

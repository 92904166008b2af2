#include "protocol/verification.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "base/text_utils.h"
#include "protocol/frame.h"

namespace kiren {

namespace {

using TKind = TReportedCard::TKind;

// Configuration entry of the emission parameters (the code of command 0x51).
constexpr std::uint8_t kEmissionConfigKey = kCmdSetupPerco;
constexpr std::size_t kTrailerAccessPos = 6;
// The universal record of command 0x50: kind byte 1 reports an error, kind 4 a value block.
constexpr std::uint8_t kUniversalError = 1;
constexpr std::uint8_t kUniversalValue = 4;
constexpr std::size_t kShortCodeSize = 5;
constexpr std::size_t kLongCodePos = 5;
constexpr std::size_t kLongCodeEnd = 15;
constexpr int kSorvelCodeSize = 4;
const char* const kErrorPrefix = "Ошибка";

// Findings of one check: lines in order (no repeats) and the worst outcome so far.
class TFindings {
 public:
  void Add(TCheckOutcome AOutcome, const std::string& ALine) {
    if (Rank(AOutcome) > Rank(FOutcome))
      FOutcome = AOutcome;
    if (std::find(FLines.begin(), FLines.end(), ALine) == FLines.end())
      FLines.push_back(ALine);
  }
  void Note(const std::string& ALine) { Add(TCheckOutcome::Verified, ALine); }
  bool Clean() const { return FOutcome == TCheckOutcome::Verified; }
  TCheckResult Result() const {
    TCheckResult result{FOutcome, {}};
    for (const std::string& line : FLines) {
      if (!result.Message.empty())
        result.Message += '\n';
      result.Message += line;
    }
    return result;
  }

 private:
  // A difference outweighs an unreadable card, which outweighs a check that could not run.
  static int Rank(TCheckOutcome AOutcome) {
    switch (AOutcome) {
      case TCheckOutcome::Verified:
        return 0;
      case TCheckOutcome::NotChecked:
        return 1;
      case TCheckOutcome::ReaderCannotRead:
        return 2;
      case TCheckOutcome::ReaderReportsOtherCode:
        return 3;
      case TCheckOutcome::ReadBackDiffers:
        return 4;
    }
    return 0;
  }

  TCheckOutcome FOutcome = TCheckOutcome::Verified;
  std::vector<std::string> FLines;
};

std::string Num(long long AValue) {
  return std::to_string(AValue);
}

// "1 байт", "3 байта", "5 байт".
std::string BytesCount(std::size_t ACount) {
  const std::size_t tens = ACount % 100;
  const std::size_t ones = ACount % 10;
  const bool few = ones >= 2 && ones <= 4 && (tens < 12 || tens > 14);
  return std::to_string(ACount) + (few ? " байта" : " байт");
}

std::string HexOf(const std::uint8_t* AData, std::size_t ACount) {
  return BytesToHexStr(AData, ACount);
}

// Positions where two byte ranges differ, as "3" or "0–4, 7".
std::string DiffPositions(const std::uint8_t* A, const std::uint8_t* B, std::size_t ACount,
                          std::size_t AFirstPos, std::size_t& ADiffCount) {
  std::string text;
  ADiffCount = 0;
  for (std::size_t i = 0; i < ACount;) {
    if (A[i] == B[i]) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end + 1 < ACount && A[end + 1] != B[end + 1])
      ++end;
    ADiffCount += end - i + 1;
    if (!text.empty())
      text += ", ";
    text += std::to_string(AFirstPos + i);
    if (end > i)
      text += "–" + std::to_string(AFirstPos + end);
    i = end + 1;
  }
  return text;
}

std::string DiffNote(const std::uint8_t* A, const std::uint8_t* B, std::size_t ACount,
                     std::size_t AFirstPos) {
  std::size_t count = 0;
  const std::string positions = DiffPositions(A, B, ACount, AFirstPos, count);
  return count == 1 ? " (различается байт " + positions + ")"
                    : " (различаются байты " + positions + ")";
}

// "трейлер сектора 1 (блок 7)"; ANoun gives the case ("трейлер", "трейлера").
std::string TrailerName(const char* ANoun, int ATrailer) {
  return std::string(ANoun) + " сектора " + Num(TProtocol::GetSector(ATrailer)) + " (блок " +
         Num(ATrailer) + ")";
}

// The hexadecimal code without blanks and leading zeros, upper case; the text itself when it
// is not hexadecimal.
std::string CodeKey(const std::string& ACode) {
  std::string digits;
  for (char c : ACode) {
    if (c == ' ')
      continue;
    if (HexDigitValue(c) < 0)
      return ACode;
    digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? "0" : digits.substr(first);
}

bool SameCode(const std::string& A, const std::string& B) {
  return CodeKey(A) == CodeKey(B);
}

std::string ShownCode(const std::string& ACode) {
  return ACode.empty() ? "(пустой)" : ACode;
}

// Layouts as issued: what the reader reports for each of the five.
struct TLayoutReport {
  TKind Kind;
  bool HasValue;
};

TLayoutReport LayoutReport(int ALayout) {
  switch (ALayout) {
    case 1:
      return {TKind::Sorvel, false};
    case 2:
      return {TKind::Perco, true};
    case 3:
      return {TKind::Sorvel, true};
    case 5:
      return {TKind::Code, true};
    default:
      return {TKind::Code, false};
  }
}

bool HasNumbers(int ALayout) {
  return LayoutReport(ALayout).Kind != TKind::Code;
}

// What the reader reports, in words: "раскладку «Сорвел»", "код 0123", "карту без кода".
std::string ReportedInWords(const TReportedCard& ACard) {
  switch (ACard.Kind) {
    case TKind::NoCard:
      return "что карты нет";
    case TKind::Error:
      return "ошибку чтения карты";
    case TKind::Sorvel:
      return "раскладку «" + IssueLayoutCaption(ACard.HasValue ? 3 : 1) + "»";
    case TKind::Perco:
      return "раскладку «" + IssueLayoutCaption(2) + "»";
    case TKind::Code:
      return "код " + ShownCode(ACard.Code) + (ACard.HasValue ? " с value-блоком" : "");
  }
  return {};
}

std::string ReaderErrorText(const TReportedCard& ACard) {
  return ACard.ErrorNo != 0 ? " (ошибка " + Num(ACard.ErrorNo) + ")" : std::string();
}

std::string EmissionInWords(const TEmissionView& AView) {
  const char* source = AView.Source == TEmissionView::TSource::ReaderConfig
                           ? "из конфигурации считывателя"
                           : "записанные последними";
  return std::string("Параметры выдачи (") + source + "): блок " + Num(AView.BlockNo) +
         ", смещение " + Num(AView.Offset) + ", размер " + BytesCount(AView.Size) +
         ", порядок байт " + (AView.Lbs == 1 ? "обратный" : "прямой");
}

// The code the reader would report from the written block under these parameters; empty when
// it reads another block.
std::optional<Bytes> PredictedCode(const TWrittenCode& AWritten, const TEmissionView& AView) {
  if (AView.BlockNo != AWritten.BlockNo)
    return std::nullopt;
  const std::size_t from = std::min<std::size_t>(AView.Offset, AWritten.Block.size());
  const std::size_t to = std::min<std::size_t>(from + AView.Size, AWritten.Block.size());
  Bytes code(AWritten.Block.begin() + static_cast<std::ptrdiff_t>(from),
             AWritten.Block.begin() + static_cast<std::ptrdiff_t>(to));
  if (AView.Lbs == 1)
    ReverseBytes(code);
  return code;
}

// Why the reader, reading by these parameters, does not meet the written code.
void AddPlacementReasons(const TWrittenCode& AWritten, const TEmissionView& AView,
                         TCheckOutcome AOutcome, TFindings& AFindings) {
  if (AView.BlockNo != AWritten.BlockNo) {
    AFindings.Add(AOutcome, "Считыватель читает код из блока " + Num(AView.BlockNo) +
                                ", а код записан в блок " + Num(AWritten.BlockNo));
    return;
  }
  const std::size_t written = AWritten.Code.size();
  if (AView.Offset != AWritten.Offset)
    AFindings.Add(AOutcome, "Считыватель читает код со смещения " + Num(AView.Offset) +
                                ", а код записан со смещения " + Num(AWritten.Offset));
  if (AView.Size < written)
    AFindings.Add(AOutcome, "Считыватель читает только " + BytesCount(AView.Size) +
                                " кода, а записано " + BytesCount(written));
  else if (AView.Size > written)
    AFindings.Add(AOutcome, "Считыватель читает " + BytesCount(AView.Size) + " кода, а записано " +
                                BytesCount(written));
  if (AView.Lbs == 1 && written > 1)
    AFindings.Add(AOutcome, "Считыватель читает байты кода в обратном порядке");
}

void AddKeyReason(const TWrittenCode& AWritten, const std::optional<TEmissionView>& AView,
                  TFindings& AFindings) {
  const TCheckOutcome outcome = TCheckOutcome::ReaderCannotRead;
  if (!AView || !AView->Key) {
    AFindings.Add(outcome,
                  "Ключ выдачи считывателя программе неизвестен: для чтения кода он должен "
                  "совпадать с новым ключом A карты");
    return;
  }
  if (*AView->Key != AWritten.KeyA && *AView->Key != AWritten.KeyB)
    AFindings.Add(outcome,
                  "Считыватель не может пройти аутентификацию: его ключ выдачи не совпадает с "
                  "новым ключом A карты");
  else if (AView->BlockNo == AWritten.BlockNo)
    AFindings.Add(outcome,
                  "Ключ выдачи, записанный последним, подходит к карте: возможно, считыватель "
                  "не принял параметры выдачи");
}

bool ContentAnswered(const TContentRead& ARead, TFindings& AFindings) {
  if (ARead.ErrCode == kResOk)
    return true;
  AFindings.Add(TCheckOutcome::NotChecked,
                "Содержимое карты не прочитано для проверки (ошибка " + Num(ARead.ErrCode) + ")");
  return false;
}

// Checks one block read of the read-back; true when data came back.
bool BlockReadUsable(const TBlockRead& ARead, int ABlockNo, TFindings& AFindings) {
  if (ARead.ErrCode != kResOk && ARead.ErrCode != kResStatusError) {
    AFindings.Add(
        TCheckOutcome::NotChecked,
        "Блок " + Num(ABlockNo) + " не прочитан для проверки (ошибка " + Num(ARead.ErrCode) + ")");
    return false;
  }
  if ((ARead.Status.data & TStatus::kAuthError) != 0) {
    AFindings.Add(TCheckOutcome::ReadBackDiffers, "Сектор " + Num(TProtocol::GetSector(ABlockNo)) +
                                                      " не открывается новым ключом A (" +
                                                      ARead.Status.Error() +
                                                      "): ключи сектора не записаны");
    return false;
  }
  if (ARead.Status.HasError()) {
    AFindings.Add(TCheckOutcome::ReaderCannotRead, "Считыватель не смог прочитать блок " +
                                                       Num(ABlockNo) + ": " + ARead.Status.Error());
    return false;
  }
  return true;
}

std::uint32_t LittleEndian(const Bytes& AData, std::size_t ACount) {
  std::uint32_t value = 0;
  for (std::size_t i = std::min(ACount, AData.size()); i-- > 0;)
    value = value << 8 | AData[i];
  return value;
}

std::string NumberWithHex(std::uint32_t AValue, int ADigits) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%.*X", ADigits, static_cast<unsigned>(AValue));
  return Num(AValue) + " (" + hex + ")";
}

}  // namespace

// ---- Outcomes --------------------------------------------------------------------------------

std::string_view CheckOutcomeName(TCheckOutcome AOutcome) {
  switch (AOutcome) {
    case TCheckOutcome::Verified:
      return "verified";
    case TCheckOutcome::ReadBackDiffers:
      return "read_back_differs";
    case TCheckOutcome::ReaderReportsOtherCode:
      return "reader_reports_other";
    case TCheckOutcome::ReaderCannotRead:
      return "reader_cannot_read";
    case TCheckOutcome::NotChecked:
      return "not_checked";
  }
  return "not_checked";
}

std::optional<TCheckOutcome> CheckOutcomeFromName(std::string_view AName) {
  for (TCheckOutcome outcome : {TCheckOutcome::Verified, TCheckOutcome::ReadBackDiffers,
                                TCheckOutcome::ReaderReportsOtherCode,
                                TCheckOutcome::ReaderCannotRead, TCheckOutcome::NotChecked}) {
    if (CheckOutcomeName(outcome) == AName)
      return outcome;
  }
  return std::nullopt;
}

std::string CheckOutcomeCaption(TCheckOutcome AOutcome) {
  switch (AOutcome) {
    case TCheckOutcome::Verified:
      return "Проверено";
    case TCheckOutcome::ReadBackDiffers:
      return "Прочитанное с карты отличается";
    case TCheckOutcome::ReaderReportsOtherCode:
      return "Считыватель сообщает другой код";
    case TCheckOutcome::ReaderCannotRead:
      return "Считыватель не может прочитать карту";
    case TCheckOutcome::NotChecked:
      return "Не проверено";
  }
  return {};
}

TCheckResult CombineChecks(const TCheckResult& AFirst, const TCheckResult& ASecond) {
  TCheckResult result{AFirst.Verified() ? ASecond.Outcome : AFirst.Outcome, AFirst.Message};
  if (!result.Message.empty() && !ASecond.Message.empty())
    result.Message += '\n';
  result.Message += ASecond.Message;
  return result;
}

TCheckResult NotCheckedAfter(int AErrCode) {
  return {TCheckOutcome::NotChecked,
          "Операция не выполнена (код " + Num(AErrCode) + "): проверка не проводилась"};
}

// ---- Read-back -------------------------------------------------------------------------------

TCheckResult CompareReadBack(const TWrittenCode& AWritten, const TBlockRead& ACodeBlock,
                             const TBlockRead& ATrailer) {
  TFindings findings;
  const int trailer = TProtocol::GetTBlock(AWritten.BlockNo);
  if (BlockReadUsable(ACodeBlock, AWritten.BlockNo, findings) &&
      ACodeBlock.Data != AWritten.Block) {
    findings.Add(
        TCheckOutcome::ReadBackDiffers,
        "Блок " + Num(AWritten.BlockNo) +
            " после записи: " + HexOf(ACodeBlock.Data.data(), ACodeBlock.Data.size()) +
            ", ожидалось: " + HexOf(AWritten.Block.data(), AWritten.Block.size()) +
            DiffNote(ACodeBlock.Data.data(), AWritten.Block.data(), AWritten.Block.size(), 0));
  }
  const std::uint8_t* access = ATrailer.Data.data() + kTrailerAccessPos;
  if (BlockReadUsable(ATrailer, trailer, findings) &&
      !std::equal(kCodeTrailerAccess.begin(), kCodeTrailerAccess.end(), access)) {
    std::string line =
        "Байты доступа (6–9) " + TrailerName("трейлера", trailer) +
        " после записи: " + HexOf(access, kCodeTrailerAccess.size()) +
        ", ожидалось: " + HexOf(kCodeTrailerAccess.data(), kCodeTrailerAccess.size());
    findings.Add(TCheckOutcome::ReadBackDiffers, line);
  }
  if (findings.Clean())
    findings.Note("Блок " + Num(AWritten.BlockNo) + " и " + TrailerName("трейлер", trailer) +
                  " прочитаны новым ключом A: записанное на месте");
  return findings.Result();
}

// ---- Reported card ---------------------------------------------------------------------------

TReportedCard ReportedCard(const TKirenCardEx& ACard) {
  TReportedCard card;
  card.Text = ACard.Info();
  if (!ACard.Status.CardIsHere())
    return card;
  const std::string text = ACard.WID();
  card.HasValue = ACard.Status.HasValue();
  card.Code = text;
  if (text.rfind(kErrorPrefix, 0) == 0) {
    card.Kind = TKind::Error;
    // "Ошибка. Код: N": the number after the last colon, when there is one.
    const std::size_t colon = text.rfind(':');
    std::string tail = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    tail.erase(0, tail.find_first_not_of(' '));
    std::int32_t number = 0;
    if (TryStrToInt(tail, number))
      card.ErrorNo = number;
    return card;
  }
  card.Kind = ACard.Status.IsSorvel()  ? TKind::Sorvel
              : ACard.Status.IsPerco() ? TKind::Perco
                                       : TKind::Code;
  if (card.Kind != TKind::Code) {
    card.Emitent = ACard.Emitent;
    card.Emission = ACard.Emission;
  }
  return card;
}

TReportedCard ReportedCard(const TKirenCard& ACard, int ACodeSize) {
  TReportedCard card;
  TCardType type = TCardType::Unknown;
  card.Text = ACard.Info(ACodeSize, type);
  const auto& d = ACard.data;
  switch (type) {
    case TCardType::Unknown:
      return card;
    case TCardType::ShortCode:
      card.Kind = TKind::Code;
      card.Code = BytesToHex(d.data(), kShortCodeSize);
      return card;
    case TCardType::LongCode:
      card.Kind = TKind::Code;
      card.Code = BytesToHex(d.data() + kLongCodePos, kLongCodeEnd - kLongCodePos);
      return card;
    case TCardType::Sorvel:
    case TCardType::Sorvel_V:
    case TCardType::Perco:
    case TCardType::Perco_V:
      card.Kind =
          (type == TCardType::Sorvel || type == TCardType::Sorvel_V) ? TKind::Sorvel : TKind::Perco;
      card.HasValue = type == TCardType::Sorvel_V || type == TCardType::Perco_V;
      card.Code = ACard.CardCode(type, card.Kind == TKind::Sorvel ? kSorvelCodeSize : ACodeSize);
      card.Emitent = ACard.emitent();
      card.Emission = ACard.emission();
      return card;
    case TCardType::Universal:
      break;
  }
  const std::size_t n = d[3] & 0x0F;
  const std::uint8_t kind = d[4];
  if (kind == kUniversalError) {
    card.Kind = TKind::Error;
    card.ErrorNo = static_cast<int>(n);
    return card;
  }
  card.Kind = TKind::Code;
  card.HasValue = kind == kUniversalValue;
  // The code bytes lie reversed; a length the record cannot hold is cut at its end.
  const std::size_t start = (n / 5 + 1) * 5 + 5 - n;
  Bytes code;
  for (std::size_t i = start; i < start + n && i < d.size(); ++i)
    code.push_back(d[i]);
  ReverseBytes(code);
  card.Code = BytesToHex(code);
  return card;
}

// ---- Emission parameters ---------------------------------------------------------------------

std::optional<TEmissionView> EmissionFromConfig(const TConfig& AConfig) {
  const auto entry = AConfig.find(kEmissionConfigKey);
  if (entry == AConfig.end() || entry->second.size() < 4)
    return std::nullopt;
  std::int32_t values[4] = {};
  for (std::size_t i = 0; i < 4; ++i) {
    if (!TryStrToInt(entry->second[i], values[i]))
      return std::nullopt;
  }
  for (std::size_t i = 0; i < 3; ++i) {
    if (values[i] < 0 || values[i] > 255)
      return std::nullopt;
  }
  TEmissionView view;
  view.Source = TEmissionView::TSource::ReaderConfig;
  view.BlockNo = static_cast<std::uint8_t>(values[0]);
  view.Offset = static_cast<std::uint8_t>(values[1]);
  view.Size = static_cast<std::uint8_t>(values[2]);
  // Any byte-order value other than 0 in its low 8 bits means reversed.
  view.Lbs = (values[3] & 0xFF) != 0 ? 1 : 0;
  return view;
}

TEmissionView EmissionFromPars(const TPercoPars& APars) {
  TEmissionView view;
  view.Source = TEmissionView::TSource::LastWritten;
  view.BlockNo = APars.blockNo;
  view.Offset = APars.offset;
  view.Size = APars.size;
  view.Lbs = APars.lbs;
  view.Key = APars.key;
  return view;
}

TCheckResult CompareEmittedCode(const TWrittenCode& AWritten,
                                const std::optional<TEmissionView>& AEmission,
                                const TContentRead& ARead) {
  TFindings findings;
  if (!ContentAnswered(ARead, findings))
    return findings.Result();
  const TReportedCard& card = ARead.Card;
  const std::string expected = BytesToHex(AWritten.Code);
  switch (card.Kind) {
    case TKind::NoCard:
      findings.Add(TCheckOutcome::ReaderCannotRead, "Считыватель не видит карту");
      return findings.Result();
    case TKind::Error:
      findings.Add(TCheckOutcome::ReaderCannotRead,
                   "Считыватель не может прочитать код карты" + ReaderErrorText(card));
      if (AEmission && AEmission->BlockNo != AWritten.BlockNo)
        AddPlacementReasons(AWritten, *AEmission, TCheckOutcome::ReaderCannotRead, findings);
      AddKeyReason(AWritten, AEmission, findings);
      break;
    case TKind::Sorvel:
    case TKind::Perco:
      findings.Add(
          TCheckOutcome::ReaderReportsOtherCode,
          "Считыватель сообщает " + ReportedInWords(card) + " вместо записанного кода " + expected);
      findings.Add(TCheckOutcome::ReaderReportsOtherCode,
                   "На карте выпущена раскладка: считыватель сообщает её, а не код по "
                   "параметрам выдачи");
      return findings.Result();
    case TKind::Code:
      if (SameCode(card.Code, expected)) {
        findings.Note("Считыватель сообщает код " + ShownCode(card.Code) + " — записанный код");
        return findings.Result();
      }
      findings.Add(TCheckOutcome::ReaderReportsOtherCode,
                   "Считыватель сообщает код " + ShownCode(card.Code) + ", ожидался " + expected);
      if (!AEmission) {
        findings.Add(TCheckOutcome::ReaderReportsOtherCode,
                     "Параметры выдачи считывателя неизвестны: запишите их, чтобы программа "
                     "могла назвать причину");
        return findings.Result();
      }
      AddPlacementReasons(AWritten, *AEmission, TCheckOutcome::ReaderReportsOtherCode, findings);
      if (const auto predicted = PredictedCode(AWritten, *AEmission);
          predicted && !SameCode(card.Code, BytesToHex(*predicted))) {
        findings.Add(TCheckOutcome::ReaderReportsOtherCode,
                     "Ответ считывателя не следует из известных параметров выдачи: возможно, "
                     "они изменены");
      }
      break;
  }
  if (AEmission)
    findings.Add(findings.Result().Outcome, EmissionInWords(*AEmission));
  return findings.Result();
}

// ---- Issue and clear -------------------------------------------------------------------------

std::optional<TIssuedCard> IssuedCardOf(int AType, const std::string& ACodeEmitent,
                                        const std::string& ACodeEmission,
                                        const std::string& AUserData) {
  TIssuedCard card;
  card.Layout = AType;
  Bytes emitent, emission;
  // Without a default the conversion shows no warning; a failed one leaves the bytes empty,
  // and the command then sends zeros.
  TBuilder::ParamToBytes(ACodeEmitent, {}, "Код эмитента", emitent, false, 4);
  TBuilder::ParamToBytes(ACodeEmission, {}, "Код эмиссии", emission, false, 2);
  card.Emitent = LittleEndian(emitent, 4);
  card.Emission = static_cast<std::uint16_t>(LittleEndian(emission, 2));
  try {
    card.UserData = TBuilder::UserDataToBytes(AUserData);
  } catch (const std::invalid_argument&) {
    return std::nullopt;
  }
  return card;
}

std::string IssueLayoutCaption(int ALayout) {
  switch (ALayout) {
    case 1:
      return "Сорвел";
    case 2:
      return "DEVU";
    case 3:
      return "Комбинированный";
    case 4:
      return "Пользовательский";
    case 5:
      return "Пользовательский + value";
    default:
      return "вариант " + Num(ALayout);
  }
}

TCheckResult CompareIssued(const TIssuedCard& AIssued, const TContentRead& ARead) {
  TFindings findings;
  if (!ContentAnswered(ARead, findings))
    return findings.Result();
  const TReportedCard& card = ARead.Card;
  const std::string layout = "«" + IssueLayoutCaption(AIssued.Layout) + "»";
  if (card.Kind == TKind::NoCard || card.Kind == TKind::Error) {
    findings.Add(TCheckOutcome::ReaderCannotRead,
                 card.Kind == TKind::NoCard
                     ? "Считыватель не видит карту"
                     : "Считыватель не может прочитать карту" + ReaderErrorText(card));
    return findings.Result();
  }
  const TLayoutReport want = LayoutReport(AIssued.Layout);
  const TCheckOutcome other = TCheckOutcome::ReaderReportsOtherCode;
  if (card.Kind != want.Kind) {
    findings.Add(other, "Считыватель сообщает " + ReportedInWords(card) +
                            ", а карта выпущена в раскладке " + layout);
    return findings.Result();
  }
  if (card.HasValue != want.HasValue)
    findings.Add(other, std::string("Считыватель сообщает карту ") +
                            (card.HasValue ? "с value-блоком" : "без value-блока") +
                            ", а у раскладки " + layout +
                            (want.HasValue ? " он есть" : " его нет"));
  if (HasNumbers(AIssued.Layout)) {
    if (card.Emitent && *card.Emitent != AIssued.Emitent)
      findings.Add(other, "Эмитент на карте: " + NumberWithHex(*card.Emitent, 8) +
                              ", выпущено: " + NumberWithHex(AIssued.Emitent, 8));
    if (card.Emission && *card.Emission != AIssued.Emission)
      findings.Add(other, "Эмиссия на карте: " + NumberWithHex(*card.Emission, 4) +
                              ", выпущено: " + NumberWithHex(AIssued.Emission, 4));
    if (findings.Clean())
      findings.Note("Считыватель сообщает раскладку " + layout + ": эмитент " +
                    NumberWithHex(AIssued.Emitent, 8) + ", эмиссия " +
                    NumberWithHex(AIssued.Emission, 4));
  } else {
    const std::string userData = BytesToHex(AIssued.UserData);
    if (!SameCode(card.Code, userData))
      findings.Add(other, "Пользовательские данные на карте: " + ShownCode(card.Code) +
                              ", выпущено: " + ShownCode(userData));
    if (findings.Clean())
      findings.Note("Считыватель сообщает раскладку " + layout + ": данные " +
                    ShownCode(card.Code));
  }
  return findings.Result();
}

TCheckResult CompareCleared(const TContentRead& ARead) {
  TFindings findings;
  if (!ContentAnswered(ARead, findings))
    return findings.Result();
  const TReportedCard& card = ARead.Card;
  switch (card.Kind) {
    case TKind::NoCard:
      findings.Add(TCheckOutcome::ReaderCannotRead, "Считыватель не видит карту");
      break;
    case TKind::Error:
      findings.Add(TCheckOutcome::ReaderCannotRead,
                   "Выпущенной раскладки считыватель больше не сообщает, но код карты прочитать "
                   "не может" +
                       ReaderErrorText(card));
      break;
    case TKind::Sorvel:
    case TKind::Perco:
      findings.Add(TCheckOutcome::ReaderReportsOtherCode,
                   "После очистки считыватель по-прежнему сообщает " + ReportedInWords(card));
      break;
    case TKind::Code:
      if (card.HasValue)
        findings.Add(TCheckOutcome::ReaderReportsOtherCode,
                     "После очистки считыватель по-прежнему сообщает " + ReportedInWords(card));
      else
        findings.Note("Выпущенной раскладки считыватель больше не сообщает; код карты: " +
                      ShownCode(card.Code));
      break;
  }
  return findings.Result();
}

}  // namespace kiren

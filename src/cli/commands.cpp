#include "cli/commands.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

#include <unistd.h>

#include "base/text_utils.h"
#include "cli/inputs.h"
#include "cli/journal_cmd.h"
#include "cli/json.h"
#include "cli/session.h"
#include "operator/batch.h"
#include "operator/block_text.h"
#include "operator/issuing.h"
#include "operator/reader.h"
#include "operator/texts.h"
#include "serial/usb.h"

namespace kiren::cli {

namespace {

using namespace std::chrono_literals;

const char kLinkLostText[] = "Связь со считывателем потеряна";
const char kInterruptedText[] = "Прервано";
constexpr std::int64_t kDefaultCardWaitS = 10;
constexpr std::int64_t kMaxWaitS = 24 * 3600;
// How long a port failure may take to end the worker: it polls right after the failed action.
constexpr auto kLinkCheckWait = std::chrono::seconds(5);

// ---- Output --------------------------------------------------------------------------------

// Results go to stdout: text lines, or one JSON object per line with --json. Progress notes go
// to stderr.
class TOut {
 public:
  explicit TOut(bool AJson) : FJson(AJson) {}
  void Line(const std::string& AText) const {
    if (!FJson)
      std::cout << AText << std::endl;
  }
  void Object(const TJsonObject& AObject) const {
    if (FJson)
      std::cout << AObject.Str() << std::endl;
  }
  void Note(const std::string& AText) const { std::cerr << AText << std::endl; }
  // A failure outside an action's result: stderr in text mode, an object with --json.
  int Fail(int AExit, const std::string& AText) const {
    if (FJson)
      Object(TJsonObject().Add("ok", false).Add("error", AText));
    else
      std::cerr << "kiren-cli: " << AText << std::endl;
    return AExit;
  }

 private:
  bool FJson;
};

// The outcome of one operation: its text line, or a JSON object with ok, code and text first.
int Report(const TOut& AOut, bool AOk, int ACode, const std::string& AText,
           const TJsonObject& AExtra = TJsonObject()) {
  AOut.Line(AText);
  AOut.Object(TJsonObject().Add("ok", AOk).Add("code", ACode).Add("text", AText).Merge(AExtra));
  return AOk ? kExitOk : kExitFailed;
}

// The lines of a text with CR LF or LF between them.
std::vector<std::string> TextLines(const std::string& AText) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= AText.size()) {
    std::size_t end = AText.find('\n', start);
    if (end == std::string::npos)
      end = AText.size();
    std::string line = AText.substr(start, end - start);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (!line.empty())
      lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// The exit status of a finished card operation: failed, checked with a difference, not
// journaled, in that order.
int VerdictExit(const op::TVerdict& AVerdict) {
  if (!AVerdict.Done)
    return kExitFailed;
  if (AVerdict.CheckFailed)
    return kExitCheckFailed;
  if (AVerdict.Journaling == op::TJournaling::Failed)
    return kExitNotJournaled;
  return kExitOk;
}

// A finished card operation: APrefix and the verdict's first line, then the check and the
// journal on lines of their own; with --json one object: ok, code, text, AExtra, then check,
// check_text, journaled and journal_id or journal_error.
int ReportVerdict(const TOut& AOut, const std::string& APrefix, const op::TVerdict& AVerdict,
                  int ACode, bool AChecked, const TJsonObject& AExtra = TJsonObject()) {
  const std::vector<std::string> lines = TextLines(AVerdict.Text);
  AOut.Line(APrefix + (lines.empty() ? std::string() : lines.front()));
  if (AVerdict.Done && AChecked) {
    AOut.Line("  Проверка: " + CheckOutcomeCaption(AVerdict.Check.Outcome));
    for (const auto& line : TextLines(AVerdict.Check.Message))
      AOut.Line("    " + line);
  }
  switch (AVerdict.Journaling) {
    case op::TJournaling::Journaled:
      AOut.Line("  Журнал: запись " + std::to_string(AVerdict.JournalId));
      break;
    case op::TJournaling::Failed:
      AOut.Line("  Журнал: " + op::kMsgNotJournaled +
                (AVerdict.JournalError.empty() ? "" : ": " + AVerdict.JournalError));
      break;
    case op::TJournaling::Off:
      AOut.Line("  Журнал: " + op::kMsgJournalOff);
      break;
  }
  TJsonObject json;
  json.Add("ok", AVerdict.Ok).Add("code", ACode).Add("text", AVerdict.Text).Merge(AExtra);
  json.Add("check", std::string(CheckOutcomeName(AVerdict.Check.Outcome)))
      .Add("check_text", AVerdict.Check.Message)
      .Add("journaled", AVerdict.Journaling == op::TJournaling::Journaled);
  if (AVerdict.Journaling == op::TJournaling::Journaled)
    json.Add("journal_id", AVerdict.JournalId);
  if (AVerdict.Journaling == op::TJournaling::Failed)
    json.Add("journal_error", AVerdict.JournalError);
  AOut.Object(json);
  return VerdictExit(AVerdict);
}

// A card operation the service refused before anything was sent.
int ReportRefusal(const TOut& AOut, const std::string& APrefix, const op::TGate& AGate,
                  const TJsonObject& AExtra = TJsonObject()) {
  AOut.Line(APrefix + AGate.Text);
  AOut.Object(
      TJsonObject()
          .Add("ok", false)
          .Add("code", static_cast<int>(kResNotExecuted))
          .Add("text", AGate.Text)
          .Merge(AExtra)
          .Add("refused", AGate.Refusal == op::TRefusal::Duplicate ? "duplicate" : "no_journal"));
  return AGate.Refusal == op::TRefusal::NoJournal ? kExitNotJournaled : kExitFailed;
}

// The reader as the journal names it.
op::TReaderInfo ReaderInfo(const std::string& APort, const TSession& ASession) {
  return {APort, ASession.DevInfo().verInfo};
}

// Why a wait of the session ended without its goal; APrefix names what was being done.
int WaitFailed(const TOut& AOut, const TSession& ASession, const std::string& ATimeoutText,
               const std::string& APrefix = {}) {
  if (ASession.Ended())
    return AOut.Fail(kExitConnection, APrefix + kLinkLostText);
  if (gInterrupted)
    return AOut.Fail(kExitFailed, APrefix + kInterruptedText);
  return AOut.Fail(kExitFailed, ATimeoutText);
}

// A wait that ended with an action handed out but not finished: its attempt is journaled.
int ActionLost(const TOut& AOut, TSession& ASession, op::TIssuingService& AService,
               const std::string& APrefix = {}) {
  AService.AbandonPending(ASession.Ended() ? kLinkLostText : kInterruptedText);
  return WaitFailed(AOut, ASession, kInterruptedText, APrefix);
}

// An action that failed with a port failure: true when the link is gone (the worker ends at
// its next poll), false when the worker goes on polling.
bool LinkLost(TSession& ASession, int ACode) {
  if (ACode != kResPortFailure || ASession.Ended())
    return ASession.Ended();
  const std::size_t polls = ASession.CardCalls();
  ASession.WaitFor([&] { return ASession.CardCalls() > polls; }, kLinkCheckWait);
  return ASession.Ended();
}

// ---- Values --------------------------------------------------------------------------------

std::string CardLine(const TCardInfo& ACard) {
  if (!ACard.status.CardPresent())
    return "Нет карты";
  std::string line = "Тип: " + ACard.CardType() + "; UID: " + ACard.UIDStr();
  if (!ACard.desc.empty()) {
    std::string desc;
    ReplaceSubstr(ACard.desc, "\r\n", "; ", desc, false);
    line += "; " + desc;
  }
  return line;
}

TJsonObject CardJson(const TCardInfo& ACard) {
  TJsonObject card;
  card.Add("status", BytesToHex({static_cast<std::uint8_t>(ACard.status.data >> 8),
                                 static_cast<std::uint8_t>(ACard.status.data)}))
      .Add("present", ACard.status.CardPresent());
  if (ACard.status.CardPresent())
    card.Add("type", ACard.CardType()).Add("uid", ACard.UIDStr()).Add("desc", ACard.desc);
  return card;
}

// How long to wait for a card: --wait seconds.
std::chrono::milliseconds CardWait(const TArgs& AArgs) {
  return std::chrono::seconds(AArgs.GetInt("wait", 1, kMaxWaitS, kDefaultCardWaitS));
}

// Waits for a card in the field.
bool WaitCard(TSession& ASession, std::chrono::milliseconds AWait, const TOut& AOut) {
  if (ASession.Card().status.CardPresent())
    return true;
  AOut.Note("Поднесите карту к считывателю...");
  return ASession.WaitFor([&] { return ASession.Card().status.CardPresent(); }, AWait);
}

// ---- Commands ------------------------------------------------------------------------------

// A validated command: runs on a connected session and returns the exit status.
using TRun = std::function<int(TSession& ASession)>;

int CmdPorts(const TOut& AOut) {
  std::vector<std::string> ports;
  EnumComPorts(ports, kReaderPidVid);
  for (const auto& port : ports)
    AOut.Line(port);
  if (ports.empty())
    AOut.Note("Порты считывателя не найдены");
  AOut.Object(TJsonObject().Add("ports", ports));
  return kExitOk;
}

struct TModeResult {
  op::TModeOutcome Outcome;
  int Code = kResNotExecuted;
  std::uint8_t Answer = 0;
  bool LinkLost = false;

  bool Ok() const { return Outcome.Ok; }
  bool On() const { return Outcome.On.value_or(false); }
  TJsonObject Json() const {
    return TJsonObject()
        .Add("ok", Ok())
        .Add("code", Code)
        .Add("text", Outcome.Text)
        .Add("answer", Answer)
        .Add("on", On());
  }
};

// Switches (kModeOff, kModeOn) or queries (kModeQuery) one of the two modes.
TModeResult SetupMode(TSession& ASession, op::TModeKind AKind, std::uint8_t AMode) {
  TModeResult result;
  result.Outcome = op::ModeOutcome(AKind, kResNotExecuted, AMode, 0);
  TOnActionDone done = [&](TThAction& A) {
    auto& action = static_cast<TAcSetupMode&>(A);
    result.Code = action.ErrCode();
    result.Answer = action.Answer();
    result.Outcome = op::ModeOutcome(AKind, action.ErrCode(), AMode, action.Answer());
  };
  std::unique_ptr<TThAction> action;
  if (AKind == op::TModeKind::EmissionPrior)
    action = std::make_unique<TAcSetupEmissionPrior>(AMode, done);
  else
    action = std::make_unique<TAcSetupMode>(AMode, done);
  if (!ASession.Run(std::move(action)))
    result.Outcome.Text = ASession.Ended() ? kLinkLostText : kInterruptedText;
  result.LinkLost = LinkLost(ASession, result.Code);
  return result;
}

TRun CmdInfo(const TArgs& AArgs, const TOut& AOut) {
  return [&AArgs, &AOut](TSession& ASession) {
    const TDevInfo& dev = ASession.DevInfo();
    const TModeResult mode = SetupMode(ASession, op::TModeKind::Universal, kModeQuery);
    const TModeResult prior = SetupMode(ASession, op::TModeKind::EmissionPrior, kModeQuery);
    if (ASession.Ended())
      return AOut.Fail(kExitConnection, kLinkLostText);

    AOut.Line("Версия: " + dev.verInfo);
    AOut.Line("Универсальный режим: " + mode.Outcome.Text);
    AOut.Line("Приоритет: " + prior.Outcome.Text);
    TJsonObject config;
    if (ASession.Config()) {
      AOut.Line("Конфигурация:");
      for (const auto& [key, values] : *ASession.Config()) {
        std::string line = "  " + std::to_string(key) + ":";
        for (std::size_t i = 0; i < values.size(); ++i)
          line += (i ? ", " : " ") + values[i];
        const std::string name = op::ConfigKeyName(key);
        AOut.Line(line + (name.empty() ? "" : " — " + name));
        config.Add(std::to_string(key), values);
      }
    } else {
      AOut.Line(op::Capabilities(dev).ReadConfig ? "Конфигурация: не считана"
                                                 : "Конфигурация: не поддерживается");
    }
    TJsonObject info;
    info.Add("ok", mode.Ok() && prior.Ok())
        .Add("port", AArgs.Port)
        .Add("version", dev.verInfo)
        .Add("major", dev.verMajor)
        .Add("minor", dev.verMinor)
        .Add("mode", mode.Json())
        .Add("emission_prior", prior.Json());
    if (ASession.Config())
      info.Add("config", config);
    else
      info.AddRaw("config", "null");
    AOut.Object(info);
    return mode.Ok() && prior.Ok() ? kExitOk : kExitFailed;
  };
}

TRun CmdWatch(const TArgs&, const TOut& AOut) {
  return [&AOut](TSession& ASession) {
    AOut.Line("Версия: " + ASession.DevInfo().verInfo);
    AOut.Object(TJsonObject().Add("event", "device").Add("version", ASession.DevInfo().verInfo));
    std::optional<TCardInfo> shown;
    auto show = [&](const TCardInfo& ACard) {
      if (shown && *shown == ACard)
        return;
      shown = ACard;
      AOut.Line(CardLine(ACard));
      AOut.Object(TJsonObject().Add("event", "card").Merge(CardJson(ACard)));
    };
    show(ASession.Card());
    ASession.OnCard = show;
    ASession.WaitFor([] { return false; });
    ASession.OnCard = nullptr;
    if (ASession.Ended())
      return AOut.Fail(kExitConnection, kLinkLostText);
    return kExitOk;  // stopped by SIGINT or SIGTERM
  };
}

TRun CmdReadBlock(const TArgs& AArgs, const TOut& AOut) {
  const op::TReadBlockParams params = ReadBlockParams(AArgs.Options);
  const std::uint8_t block = params.BlockNo;
  const TKey key = params.Key;
  const auto wait = CardWait(AArgs);
  return [=, &AOut](TSession& ASession) {
    if (!WaitCard(ASession, wait, AOut))
      return WaitFailed(AOut, ASession, "Карта не обнаружена");
    int code = kResNotExecuted;
    std::string error;
    TBlock data{};
    auto action = std::make_unique<TAcReadBlock>(block, kKeyTypeA, key, [&](TThAction& A) {
      code = A.ErrCode();
      error = ActionErrorText(A);
      data = static_cast<TAcReadBlock&>(A).BlockData();
    });
    if (!ASession.Run(std::move(action)) || LinkLost(ASession, code))
      return WaitFailed(AOut, ASession, kInterruptedText);
    if (!error.empty())
      return Report(AOut, false, code, error);
    const std::string hex = BytesToHexStr(data.data(), data.size());
    AOut.Line("Блок " + std::to_string(block) + ": " + hex);
    TJsonObject extra;
    extra.Add("block", static_cast<int>(block)).Add("data", hex);
    if (const auto access = op::TrailerAccessText(block, data)) {
      for (const auto& line : TextLines(*access))
        AOut.Line(line);
      extra.Add("access", *access);
    }
    return Report(AOut, true, code, op::kMsgOk, extra);
  };
}

TRun CmdWriteParams(const TArgs& AArgs, const TOut& AOut) {
  const TPercoPars pars = WriteParamsParams(AArgs.Options);
  const auto service = MakeIssuingService(AArgs, [&AOut](const std::string& A) { AOut.Note(A); });
  const std::string port = AArgs.Port;
  return [=, &AOut](TSession& ASession) {
    service->SetReader(ReaderInfo(port, ASession));
    const op::TGate gate = service->BeforeOperation(TJournalOperation::EmissionWrite);
    if (!gate.Go)
      return ReportRefusal(AOut, "", gate);
    int code = kResNotExecuted;
    std::optional<op::TVerdict> verdict;
    auto action = service->WriteEmission(pars, op::CardSeen(ASession.Card()),
                                         [&](const op::TVerdict& AVerdict, TAcPercoStt& A) {
                                           code = A.ErrCode();
                                           verdict = AVerdict;
                                         });
    if (!ASession.Run(std::move(action)) || LinkLost(ASession, code) || !verdict)
      return ActionLost(AOut, ASession, *service);
    return ReportVerdict(AOut, "", *verdict, code, false);
  };
}

// The progress of a batch on stderr, rewritten in place when stderr is a terminal.
class TProgressLine {
 public:
  TProgressLine() : FTerminal(isatty(STDERR_FILENO) == 1) {}
  ~TProgressLine() { Clear(); }
  void Show(const std::string& AText) {
    if (!FTerminal)
      return;
    std::cerr << "\r" << AText << "\033[K" << std::flush;
    FShown = true;
  }
  // Before other output: the line is taken away and shown again by the next Show.
  void Clear() {
    if (FShown)
      std::cerr << "\r\033[K" << std::flush;
    FShown = false;
  }

 private:
  bool FTerminal;
  bool FShown = false;
};

std::string BatchProgressLine(const op::TBatchProgress& AProgress) {
  std::string text = op::BatchProgressText(AProgress);
  if (!AProgress.LastUid.empty())
    text += "; UID " + AProgress.LastUid;
  if (!AProgress.LastCodeHex.empty())
    text += ", код " + AProgress.LastCodeHex;
  return text;
}

// The first code of a new series: the --code value as a number.
std::uint64_t CodeNumber(const Bytes& ACode) {
  std::uint64_t value = 0;
  for (const std::uint8_t byte : ACode)
    value = (value << 8) | byte;
  return value;
}

// write-code --count N: a batch run. Cards are written as they come, each with the next code of
// the journal series (--series; a new series starts at --code); a card that fails is reported
// and the run goes on. The run ends when N cards are written, or no card came for --wait
// seconds; the status is that of the first card that failed, else 1 for a card that did not
// come, else 5 when the journal could not be reached for a while (cards were not written then).
TRun CmdWriteCodeBatch(const TArgs& AArgs, const TOut& AOut) {
  op::TBatchOptions options;
  options.Params = WriteCodeParams(AArgs.Options);
  options.FirstCode = CodeNumber(options.Params.Code);
  options.Count = AArgs.GetInt("count", 1, 1000000, 1);
  options.Series = AArgs.Get("series", "main");
  if (options.Series.empty())
    throw TUsageError("--series: ожидается имя серии");
  const auto wait = CardWait(AArgs);
  const auto service = MakeIssuingService(AArgs, [&AOut](const std::string& A) { AOut.Note(A); });
  const std::string port = AArgs.Port;

  return [=, &AOut](TSession& ASession) {
    service->SetReader(ReaderInfo(port, ASession));
    const std::string total = " из " + std::to_string(options.Count);
    TProgressLine progress;
    int status = kExitOk;
    bool registerAway = false;
    auto lastActivity = std::chrono::steady_clock::now();
    std::unique_ptr<op::TBatchRun> run;
    auto onEvent = [&](const op::TBatchCardEvent& AEvent) {
      lastActivity = std::chrono::steady_clock::now();
      progress.Clear();
      const op::TBatchProgress& state = run->Progress();
      const std::int64_t number = state.Written + state.Skipped + state.Failed;
      TJsonObject extra;
      extra.Add("card", number).Add("uid", AEvent.Uid).Add("card_code", AEvent.CodeHex);
      switch (AEvent.Result) {
        case op::TBatchCardResult::RegisterAway:
          registerAway = true;
          AOut.Fail(kExitNotJournaled, "UID " + AEvent.Uid + ": " + AEvent.Text);
          break;
        case op::TBatchCardResult::Skipped:
          extra.Add("skipped", true);
          Report(AOut, true, kResNotExecuted, "Карта (UID " + AEvent.Uid + "): " + AEvent.Text,
                 extra);
          break;
        case op::TBatchCardResult::Written:
        case op::TBatchCardResult::Failed: {
          const std::string prefix = "Карта " + std::to_string(number) + total + " (UID " +
                                     AEvent.Uid + "), код " + AEvent.CodeHex + ": ";
          extra.Add("trailer", AEvent.TrailerHex)
              .Add("reported_code", AEvent.ReportedCode)
              .Add("spoiled", AEvent.Spoiled)
              .Add("ms", static_cast<std::int64_t>(AEvent.Elapsed.count()));
          int cardStatus = kExitFailed;
          if (AEvent.Verdict)
            cardStatus = ReportVerdict(AOut, prefix, *AEvent.Verdict, AEvent.ErrCode, true, extra);
          else
            Report(AOut, false, AEvent.ErrCode, prefix + AEvent.Text, extra);
          if (AEvent.Result == op::TBatchCardResult::Failed && status == kExitOk)
            status = cardStatus == kExitOk ? kExitFailed : cardStatus;
          if (run->Armed())
            AOut.Note("Карта " + std::to_string(state.Written + 1) + total +
                      ": поднесите карту к считывателю...");
          break;
        }
      }
      progress.Show(BatchProgressLine(state));
    };
    run = std::make_unique<op::TBatchRun>(
        *service, [&](std::unique_ptr<TThAction>& A) { return ASession.Queue(A); }, onEvent);
    std::string error;
    if (!run->Start(options, error))
      return AOut.Fail(kExitNotJournaled, error);

    // The UID in the field, for the "taken away" note.
    std::string inField =
        ASession.Card().status.CardPresent() ? ASession.Card().UIDStr() : std::string();
    ASession.OnCard = [&](const TCardInfo& ACard) {
      const std::string uid = ACard.status.CardPresent() ? ACard.UIDStr() : std::string();
      if (uid != inField) {
        lastActivity = std::chrono::steady_clock::now();
        if (uid.empty() && !inField.empty()) {
          progress.Clear();
          AOut.Note("Карта снята");
        }
        inField = uid;
      }
      run->OnCard(ACard);
    };
    ASession.SetPollPeriod(op::kBatchPollPeriod);
    if (!ASession.Card().status.CardPresent())
      AOut.Note("Карта 1" + total + ": поднесите карту к считывателю...");
    run->OnCard(ASession.Card());
    while (!run->Done()) {
      const bool quiet =
          !run->Progress().Busy && std::chrono::steady_clock::now() - lastActivity > wait;
      if (quiet || ASession.Ended() || gInterrupted)
        break;
      ASession.WaitFor([&] { return run->Done(); }, 200ms);
    }
    ASession.OnCard = nullptr;
    ASession.SetPollPeriod(TTh::kNormalPollPeriod);
    progress.Clear();
    const op::TBatchProgress& state = run->Progress();
    const std::string number = "Карта " + std::to_string(state.Written + 1) + total;
    int end = kExitOk;
    if (!run->Done()) {
      if (state.Busy)
        end = ActionLost(AOut, ASession, *service, number + ": ");
      else
        end = WaitFailed(
            AOut, ASession,
            registerAway ? number + ": журнал выдачи недоступен" : number + " не поднесена",
            number + ": ");
      if (end == kExitFailed && registerAway && !ASession.Ended() && !gInterrupted)
        end = kExitNotJournaled;
    }
    AOut.Line("Итого: " + op::BatchProgressText(state) + ", серия " + options.Series +
              ", следующий код " + std::to_string(run->Allocated()));
    AOut.Object(TJsonObject()
                    .Add("summary", true)
                    .Add("ok", run->Done() && status == kExitOk)
                    .Add("count", options.Count)
                    .Add("written", state.Written)
                    .Add("skipped", state.Skipped)
                    .Add("failed", state.Failed)
                    .Add("series", options.Series)
                    .Add("next_code", static_cast<std::int64_t>(run->Allocated())));
    if (end == kExitConnection)
      return end;
    if (status == kExitOk && end == kExitOk && registerAway)
      end = kExitNotJournaled;  // cards that came while the journal was away were not written
    return status != kExitOk ? status : end;
  };
}

TRun CmdWriteCode(const TArgs& AArgs, const TOut& AOut) {
  if (AArgs.Has("count"))
    return CmdWriteCodeBatch(AArgs, AOut);
  const op::TCardCodeParams params = WriteCodeParams(AArgs.Options);
  const op::TCardCodeText firstText = CodeOption(AArgs.Options);
  const auto count = AArgs.GetInt("count", 1, 1000000, 1);
  const auto wait = CardWait(AArgs);
  const auto service = MakeIssuingService(AArgs, [&AOut](const std::string& A) { AOut.Note(A); });
  const std::string port = AArgs.Port;

  return [=, &AOut](TSession& ASession) {
    service->SetReader(ReaderInfo(port, ASession));
    op::TCardCodeParams current = params;
    op::TCardCodeText codeText = firstText;
    std::string lastUid;  // the card written last must change or leave the field first
    ASession.OnCard = [&](const TCardInfo& ACard) {
      if (ACard.status.CardPresent() || lastUid.empty())
        return;
      lastUid.clear();
      AOut.Note("Карта снята");
    };
    auto isNewCard = [&] {
      return ASession.Card().status.CardPresent() && ASession.Card().UIDStr() != lastUid;
    };
    for (std::int64_t n = 1; n <= count; ++n) {
      const std::string number = std::to_string(n) + " из " + std::to_string(count);
      if (!isNewCard()) {
        AOut.Note("Карта " + number + ": поднесите карту к считывателю...");
        if (!ASession.WaitFor(isNewCard, wait))
          return WaitFailed(AOut, ASession, "Карта " + number + " не поднесена",
                            "Карта " + number + ": ");
      }
      const op::TCardSeen card = op::CardSeen(ASession.Card());
      const std::string codeHex = BytesToHex(current.Code);
      const std::string prefix =
          "Карта " + number + " (UID " + card.Uid + "), код " + codeHex + ": ";
      TJsonObject extra;
      extra.Add("card", static_cast<std::int64_t>(n))
          .Add("uid", card.Uid)
          .Add("card_code", codeHex);
      const op::TGate gate = service->BeforeCardCodeWrite(current, card);
      if (!gate.Go)
        return ReportRefusal(AOut, prefix, gate, extra);
      int result = kResNotExecuted;
      std::optional<op::TVerdict> verdict;
      TBlock trailer{};
      std::string reported;
      auto action =
          service->WriteCardCode(current, card, std::nullopt,
                                 [&](const op::TVerdict& AVerdict, TAcWriteCardCodeChecked& A) {
                                   result = A.ErrCode();
                                   verdict = AVerdict;
                                   trailer = A.BlockData();
                                   if (A.Reported())
                                     reported = A.Reported()->Code;
                                 });
      if (!ASession.Run(std::move(action)) || LinkLost(ASession, result) || !verdict)
        return ActionLost(AOut, ASession, *service, "Карта " + number + ": ");
      extra.Add("trailer", verdict->Done ? BytesToHexStr(trailer.data(), trailer.size()) : "")
          .Add("reported_code", reported);
      const int status = ReportVerdict(AOut, prefix, *verdict, result, true, extra);
      if (status != kExitOk)
        return status;
      lastUid = card.Uid;
      if (n == count)
        break;
      // The next code as the window's field would hold it after this write; one that no
      // longer fits the size is refused before the next card is waited for.
      try {
        codeText = op::NextCardCode(codeText);
        current.Code = op::NextCodeBytes(params, codeText);
      } catch (const op::TInputError& e) {
        return AOut.Fail(kExitFailed, "Карта " + std::to_string(n + 1) + " из " +
                                          std::to_string(count) + ": " + e.what());
      }
    }
    return kExitOk;
  };
}

TRun CmdIssue(const TArgs& AArgs, const TOut& AOut) {
  const op::TIssueParams params = IssueParams(AArgs.Options);
  const auto wait = CardWait(AArgs);
  const auto service = MakeIssuingService(AArgs, [&AOut](const std::string& A) { AOut.Note(A); });
  const std::string port = AArgs.Port;
  return [=, &AOut](TSession& ASession) {
    service->SetReader(ReaderInfo(port, ASession));
    if (!WaitCard(ASession, wait, AOut))
      return WaitFailed(AOut, ASession, "Карта не обнаружена");
    const op::TGate gate = service->BeforeOperation(TJournalOperation::Issue);
    if (!gate.Go)
      return ReportRefusal(AOut, "", gate);
    const op::TCardSeen card = op::CardSeen(ASession.Card());
    int code = kResNotExecuted;
    std::optional<op::TVerdict> verdict;
    auto action =
        service->Issue(params, card, [&](const op::TVerdict& AVerdict, TAcIssueCardChecked& A) {
          code = A.ErrCode();
          verdict = AVerdict;
        });
    if (!ASession.Run(std::move(action)) || LinkLost(ASession, code) || !verdict)
      return ActionLost(AOut, ASession, *service);
    return ReportVerdict(AOut, "", *verdict, code, true, TJsonObject().Add("uid", card.Uid));
  };
}

TRun CmdClear(const TArgs& AArgs, const TOut& AOut) {
  const auto wait = CardWait(AArgs);
  const auto service = MakeIssuingService(AArgs, [&AOut](const std::string& A) { AOut.Note(A); });
  const std::string port = AArgs.Port;
  return [=, &AOut](TSession& ASession) {
    service->SetReader(ReaderInfo(port, ASession));
    if (!WaitCard(ASession, wait, AOut))
      return WaitFailed(AOut, ASession, "Карта не обнаружена");
    const op::TGate gate = service->BeforeOperation(TJournalOperation::Clear);
    if (!gate.Go)
      return ReportRefusal(AOut, "", gate);
    const op::TCardSeen card = op::CardSeen(ASession.Card());
    int code = kResNotExecuted;
    std::optional<op::TVerdict> verdict;
    auto action = service->Clear(card, [&](const op::TVerdict& AVerdict, TAcClearCardChecked& A) {
      code = A.ErrCode();
      verdict = AVerdict;
    });
    if (!ASession.Run(std::move(action)) || LinkLost(ASession, code) || !verdict)
      return ActionLost(AOut, ASession, *service);
    return ReportVerdict(AOut, "", *verdict, code, true, TJsonObject().Add("uid", card.Uid));
  };
}

TRun CmdMode(const TArgs& AArgs, const TOut& AOut, op::TModeKind AKind) {
  if (AArgs.Words.size() != 1)
    throw TUsageError("ожидается on, off или query");
  const std::string& word = AArgs.Words[0];
  std::uint8_t mode = kModeQuery;
  if (word == "on")
    mode = kModeOn;
  else if (word == "off")
    mode = kModeOff;
  else if (word != "query")
    throw TUsageError("ожидается on, off или query, получено \"" + word + "\"");
  return [mode, AKind, &AOut](TSession& ASession) {
    const TModeResult result = SetupMode(ASession, AKind, mode);
    if (result.LinkLost)
      return AOut.Fail(kExitConnection, kLinkLostText);
    if (gInterrupted)
      return AOut.Fail(kExitFailed, kInterruptedText);
    return Report(AOut, result.Ok(), result.Code, result.Outcome.Text,
                  TJsonObject().Add("answer", result.Answer).Add("on", result.On()));
  };
}

// Validates the command's options and gives the step that runs on the connection.
TRun Prepare(const TArgs& AArgs, const TOut& AOut) {
  using TPrepare = TRun (*)(const TArgs&, const TOut&);
  static const std::map<std::string, TPrepare> kCommands = {
      {"info", CmdInfo},
      {"watch", CmdWatch},
      {"read-block", CmdReadBlock},
      {"write-params", CmdWriteParams},
      {"write-code", CmdWriteCode},
      {"issue", CmdIssue},
      {"clear", CmdClear},
      {"mode",
       [](const TArgs& A, const TOut& O) { return CmdMode(A, O, op::TModeKind::Universal); }},
      {"priority",
       [](const TArgs& A, const TOut& O) { return CmdMode(A, O, op::TModeKind::EmissionPrior); }},
  };
  const std::string& name = AArgs.Command->Name;
  const auto it = kCommands.find(name);
  if (it == kCommands.end())
    throw TUsageError("неизвестная команда " + name);
  return it->second(AArgs, AOut);
}

const std::vector<TOptionSpec> kWaitOption = {
    {"wait", "СЕК", "сколько ждать карту в поле, по умолчанию 10 с"}};

const TOptionSpec kJournalPathOption = {
    "journal", "ФАЙЛ",
    "файл журнала выдачи вместо обычного (journal.sqlite3 рядом с программой или в "
    "~/.local/share/kiren/)"};
const std::vector<TOptionSpec> kJournalOptions = {
    kJournalPathOption,
    {"register", "СТРОКА",
     "общий журнал выдачи на сервере PostgreSQL: строка подключения libpq без пароля"},
    {"no-journal", nullptr,
     "продолжить, если журнал выдачи недоступен (операция не попадёт в журнал)"}};

// AText followed by blanks up to AWidth characters (UTF-8 letters count once).
std::string PadRight(const std::string& AText, std::size_t AWidth) {
  std::size_t width = 0;
  for (const char ch : AText)
    if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80)
      ++width;
  return width >= AWidth ? AText : AText + std::string(AWidth - width, ' ');
}

std::vector<TOptionSpec> WithWait(std::vector<TOptionSpec> AOptions) {
  AOptions.insert(AOptions.end(), kWaitOption.begin(), kWaitOption.end());
  return AOptions;
}

std::vector<TOptionSpec> WithJournal(std::vector<TOptionSpec> AOptions) {
  AOptions.insert(AOptions.end(), kJournalOptions.begin(), kJournalOptions.end());
  return AOptions;
}

}  // namespace

const std::vector<TCommandSpec>& Commands() {
  static const std::vector<TCommandSpec> commands = {
      {"ports", false, "", "порты подключённых считывателей", {}},
      {"info", true, "", "версия, универсальный режим, приоритет, конфигурация", {}},
      {"watch", true, "", "строка на каждую смену карты в поле, до Ctrl+C", {}},
      {"read-block", true, "", "прочитать блок карты ключом A",
       WithWait({{"block", "N", "номер блока 0..255 (обязательно)"},
                 {"key", "HEX", "ключ A, 6 байт HEX, по умолчанию FF FF FF FF FF FF"}})},
      {"write-params",
       true,
       "",
       "записать параметры эмиссии в считыватель",
       {{"block", "N", "номер блока 0..252 (обязательно)"},
        {"offset", "N", "смещение в блоке 0..12, по умолчанию 0"},
        {"size", "N", "кол-во байт кода 4..10 (обязательно)"},
        {"key", "КЛЮЧ",
         "ключ на чтение: 6 символов ASCII или 6 байт HEX, по умолчанию FF FF FF FF FF FF"},
        {"reverse", nullptr, "обратный порядок байт"},
        {"force", nullptr, "разрешить блок ключей сектора"},
        kJournalOptions[0],
        kJournalOptions[1],
        kJournalOptions[2]}},
      {"write-code", true, "", "записать код карты и новые ключи сектора, проверить запись",
       WithJournal(WithWait(
           {{"block", "N", "номер блока 0..252 (обязательно)"},
            {"offset", "N", "смещение в блоке 0..12, по умолчанию 0"},
            {"size", "N", "кол-во байт кода 4..10, по умолчанию 4"},
            {"code", "КОД", "код: десятичный или 0xHEX (обязательно)"},
            {"key-a", "КЛЮЧ", "новый ключ на чтение (ASCII или HEX), по умолчанию FF..FF"},
            {"key-b", "КЛЮЧ", "новый ключ на запись (ASCII или HEX), по умолчанию FF..FF"},
            {"old-key-b", "КЛЮЧ", "текущий ключ на запись (ASCII или HEX), по умолчанию FF..FF"},
            {"count", "N",
             "серия: записать N карт подряд, каждой новой карте в поле — следующий код серии "
             "журнала; карта с кодом по журналу пропускается, неудачная не останавливает "
             "серию"},
            {"series", "ИМЯ",
             "серия журнала, из которой берутся коды (--count), по умолчанию main; новая "
             "серия начинается с --code"},
            {"allow-duplicate", nullptr,
             "записать код, который по журналу уже записывался на другую карту"}}))},
      {"issue", true, "", "очистить и эмитировать карту, проверить результат",
       WithJournal(WithWait(
           {{"variant", "N",
             "1 Сорвел, 2 DEVU, 3 Комбинированный, 4 Пользовательский, "
             "5 Пользовательский + value (обязательно)"},
            {"emitent", "ТЕКСТ",
             "код эмитента: число 0..2147483647 или до 4 символов, по умолчанию 0"},
            {"emission", "ТЕКСТ", "код эмиссии: число 0..65535 или до 2 символов, по умолчанию 0"},
            {"factory-key", "HEX", "заводской ключ, 6 байт, по умолчанию FF FF FF FF FF FF"},
            {"user-data", "HEX", "данные пользователя, до 10 байт, по умолчанию 10 нулевых"}}))},
      {"clear", true, "", "очистить карту, проверить результат", WithJournal(WithWait({}))},
      {"mode", true, "on|off|query", "универсальный режим: включить, отключить, проверить", {}},
      {"priority", true, "on|off|query", "приоритет параметрам эмиссии", {}},
      {"journal",
       false,
       "",
       "журнал выдачи: записи, новые сначала",
       {{"since", "ДАТА", "записи с этого момента: ГГГГ-ММ-ДД или ГГГГ-ММ-ДДTчч:мм[:сс]"},
        {"until", "ДАТА", "записи до этого момента (не включая)"},
        {"uid", "UID", "только карта с этим UID (HEX)"},
        {"code", "КОД", "только этот код: десятичный или 0xHEX"},
        {"csv", nullptr, "CSV для таблиц: UTF-8 с BOM, разделитель \";\""},
        kJournalPathOption,
        kJournalOptions[1]}},
  };
  return commands;
}

std::string HelpText(const TCommandSpec* ACommand) {
  std::string text;
  if (ACommand == nullptr) {
    text =
        "Использование:\n"
        "  kiren-cli [--json] ports\n"
        "  kiren-cli [--json] journal [ПАРАМЕТРЫ]\n"
        "  kiren-cli [--json] ПОРТ КОМАНДА [ПАРАМЕТРЫ]\n\n"
        "ПОРТ — имя порта, как его выводит ports (ttyACM0, pts/4).\n\nКоманды:\n";
    for (const auto& command : Commands()) {
      std::string name = command.Name;
      if (*command.Words)
        name += std::string(" ") + command.Words;
      text += "  " + PadRight(name, 24) + command.Summary + "\n";
    }
    text +=
        "\n  --json        вывод в JSON, по объекту на строку\n"
        "  --mask-keys   ключи в запросах загрузки ключа в журнале обмена: ** ** ** ** ** **\n"
        "  --help        справка; kiren-cli КОМАНДА --help — по команде\n"
        "  --version     версия программы\n\n"
        "write-code, issue, clear и write-params заносят каждую попытку в журнал выдачи\n"
        "(journal.sqlite3 рядом с программой или в ~/.local/share/kiren/); write-code, issue\n"
        "и clear после операции проверяют карту и то, что сообщает о ней считыватель.\n\n"
        "Код выхода: 0 — успешно, 1 — операция не выполнена (или код уже на другой карте),\n"
        "2 — ошибка в параметрах, 3 — порт не открылся, нет версии или связь потеряна,\n"
        "4 — операция выполнена, но проверка не пройдена, 5 — операция не занесена\n"
        "в журнал выдачи (журнал недоступен или запись не удалась).\n";
    return text;
  }
  text = std::string("Использование: kiren-cli ") + (ACommand->NeedsPort ? "ПОРТ " : "") +
         ACommand->Name + (*ACommand->Words ? std::string(" ") + ACommand->Words : "") +
         (ACommand->Options.empty() ? "" : " [ПАРАМЕТРЫ]") + "\n" + ACommand->Summary + "\n";
  if (!ACommand->Options.empty())
    text += "\nПараметры:\n";
  for (const auto& option : ACommand->Options) {
    std::string name = std::string("--") + option.Name;
    if (option.Value)
      name += std::string(" ") + option.Value;
    text += "  " + PadRight(name, 20) + option.Help + "\n";
  }
  return text;
}

int ReportUsageError(bool AJson, const std::string& AText) {
  if (AJson)
    return TOut(true).Fail(kExitUsage, AText);
  std::cerr << "kiren-cli: " << AText << "\nСправка: kiren-cli --help" << std::endl;
  return kExitUsage;
}

void CheckWords(const TArgs& AArgs) {
  if (*AArgs.Command->Words == '\0' && !AArgs.Words.empty())
    throw TUsageError(std::string("команда ") + AArgs.Command->Name +
                      " не принимает слов, получено \"" + AArgs.Words.front() + "\"");
}

int RunCommand(const TArgs& AArgs) {
  const TOut out(AArgs.Json);
  try {
    CheckWords(AArgs);
    if (std::string(AArgs.Command->Name) == "ports")
      return CmdPorts(out);
    if (std::string(AArgs.Command->Name) == "journal")
      return RunJournalCommand(AArgs);
    const TRun run = Prepare(AArgs, out);
    TSession session(AArgs.Port);
    std::string error;
    if (!session.Connect(error))
      return out.Fail(gInterrupted ? kExitFailed : kExitConnection, error);
    return run(session);
  } catch (const TUsageError& e) {
    return ReportUsageError(AArgs.Json, e.what());
  } catch (const TJournalRefused& e) {
    return out.Fail(kExitNotJournaled, e.what());
  }
}

}  // namespace kiren::cli

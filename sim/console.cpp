#include "sim/console.h"

#include <cstdio>
#include <sstream>

#include "base/text_utils.h"
#include "protocol/records.h"
#include "sim/pty_host.h"

namespace kiren::sim {

namespace {

std::string Error(const std::string& AText) {
  return "error: " + AText + "\n";
}

std::string Rest(std::istringstream& AIn) {
  std::string rest;
  std::getline(AIn >> std::ws, rest);
  while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\r'))
    rest.pop_back();
  return rest;
}

bool ParseInt(const std::string& AText, int& AValue, int ABase = 10) {
  if (AText.empty())
    return false;
  char* end = nullptr;
  const long v = std::strtol(AText.c_str(), &end, ABase);
  if (*end != '\0' || v < 0 || v > 1000000)
    return false;
  AValue = static_cast<int>(v);
  return true;
}

std::string CardLine(const TCard& ACard) {
  return ACard.KindName() + ", UID " + BytesToHex(ACard.UID());
}

}  // namespace

std::string TConsole::Help() {
  return "commands:\n"
         "  help                      this text\n"
         "  presets                   list the card presets\n"
         "  card PRESET [UID]         put a preset card into the field (also: PRESET [UID])\n"
         "  put UID                   put a new Mifare Classic 1K card with this UID (4 or 7 bytes "
         "hex)\n"
         "  remove                    take the card away\n"
         "  show                      reader settings, card and faults\n"
         "  dump SECTOR               raw blocks and access conditions of a sector\n"
         "  version TEXT              version text the reader reports\n"
         "  fault                     show the fault switches\n"
         "  emission BLOCK OFFSET SIZE ORDER [KEY]  the reader's emission parameters\n"
         "  fault NAME on|off         noanswer, half, badcrc, trailing, wrongcmd, long,\n"
         "                            nostore (block writes acknowledged, not stored)\n"
         "  fault delay MS            hold every answer back MS milliseconds (0: off)\n"
         "  fault partial N|off       block writes acknowledged, only N bytes stored\n"
         "  fault emission-block N|off  card content read from block N, not the set one\n"
         "  fault emission-key HEX|off  card content read with this key, not the set one\n"
         "  fault count N|all         faults apply to the next N answers only\n"
         "  fault cmd HEX|any         faults apply to answers of one command only\n"
         "  fault off                 all fault switches off\n"
         "  feed N [dwell MS] [gap MS] [preset NAME] [uid HEX] [pull CARD WRITES]\n"
         "                            present N new cards one after another (distinct UIDs)\n"
         "  feed                      state of the card feed; feed stop: end it\n"
         "  pull N|off                the card leaves right after its N-th block write\n"
         "  hangup                    unplug: close the port for good\n"
         "  quit                      end the program\n";
}

std::string TConsole::Execute(const std::string& ALine, bool& AQuit) {
  std::istringstream in(ALine);
  std::string cmd;
  if (!(in >> cmd))
    return {};
  if (cmd == "help" || cmd == "?")
    return Help();
  if (cmd == "quit" || cmd == "exit") {
    AQuit = true;
    return "bye\n";
  }
  if (cmd == "presets") {
    std::string out;
    for (const auto& name : PresetNames())
      out += name + "\n";
    return out;
  }
  if (cmd == "card") {
    std::string name, uid;
    in >> name >> uid;
    if (name.empty())
      return Error("card needs a preset name (see presets)");
    return PutPreset(name, uid);
  }
  if (MakePreset(cmd)) {
    std::string uid;
    in >> uid;
    return PutPreset(cmd, uid);
  }
  if (cmd == "put") {
    std::string uid;
    in >> uid;
    if (uid.empty())
      return Error("put needs a UID");
    return PutPreset("new1k", uid);
  }
  if (cmd == "remove") {
    FFirmware.RemoveCard();
    return "ok: card removed\n";
  }
  if (cmd == "show")
    return Show();
  if (cmd == "dump") {
    const auto card = FFirmware.Card();
    if (!card)
      return Error("no card in the field");
    int sector = -1;
    std::string arg;
    in >> arg;
    if (!ParseInt(arg, sector) || sector >= card->SectorCount()) {
      return Error(card->IsClassic() ? "sector 0.." + std::to_string(card->SectorCount() - 1)
                                     : card->KindName() + " has no sectors");
    }
    return card->DumpSector(sector);
  }
  if (cmd == "version") {
    const std::string text = Rest(in);
    if (text.empty())
      return "version: " + FFirmware.Version() + "\n";
    FFirmware.SetVersion(text);
    return "ok: version " + text + "\n";
  }
  if (cmd == "fault")
    return Fault(Rest(in));
  if (cmd == "emission")
    return Emission(Rest(in));
  if (cmd == "feed")
    return Feed(Rest(in));
  if (cmd == "pull")
    return Pull(Rest(in));
  if (cmd == "hangup") {
    if (!FHost)
      return Error("no port");
    FHost->Hangup();
    return "ok: port closed\n";
  }
  return Error("unknown command '" + cmd + "' (help lists the commands)");
}

std::string TConsole::PutPreset(const std::string& AName, const std::string& AUid) {
  Bytes uid;
  if (!AUid.empty() && (!HexStrToBytes(AUid, uid) || (uid.size() != 4 && uid.size() != 7))) {
    return Error("UID must be 4 or 7 bytes of hex, e.g. A1B2C3D4");
  }
  const auto card = MakePreset(AName, uid);
  if (!card)
    return Error("unknown preset '" + AName + "' (see presets)");
  const bool replaced = FFirmware.HasCard();
  FFirmware.PutCard(*card);
  return "ok: " + AName + " card: " + CardLine(*card) + "\n" +
         (replaced ? "note: the card was swapped without leaving the field; the status word "
                     "does not change, so remove it first for the tool to notice\n"
                   : "");
}

std::string TConsole::Fault(const std::string& AArgs) const {
  std::istringstream in(AArgs);
  std::string name, value;
  in >> name >> value;
  TFaults f = FFirmware.Faults();
  if (name.empty()) {
    std::ostringstream out;
    out << "faults: noanswer=" << f.NoAnswer << " half=" << f.HalfAnswer << " badcrc=" << f.BadCrc
        << " trailing=" << f.TrailingBytes << " wrongcmd=" << f.WrongCommand
        << " long=" << f.LongAnswer << " delay=" << f.DelayMs << " nostore=" << f.WriteNotStored
        << " partial=" << f.WritePartial << " emission-block=" << f.EmissionBlock
        << " emission-key="
        << (f.EmissionKey ? BytesToHex(f.EmissionKey->data(), f.EmissionKey->size()) : "-")
        << " count=" << f.Count << " cmd=" << f.OnlyCmd << "\n";
    return out.str();
  }
  if (name == "off") {
    FFirmware.SetFaults({});
    return "ok: faults off\n";
  }
  if (name == "partial" || name == "emission-block" || name == "emission-key")
    return EmissionOrWriteFault(name, value, f);
  if (name == "delay" || name == "count" || name == "cmd") {
    int v = 0;
    if (name == "count" && value == "all") {
      f.Count = -1;
    } else if (name == "cmd" && value == "any") {
      f.OnlyCmd = -1;
    } else if (ParseInt(value, v, name == "cmd" ? 16 : 10) && (name != "cmd" || v <= 0xFF)) {
      (name == "delay" ? f.DelayMs : name == "count" ? f.Count : f.OnlyCmd) = v;
    } else {
      return Error("fault " + name + " needs a number");
    }
    FFirmware.SetFaults(f);
    return "ok: fault " + name + " " + value + "\n";
  }
  bool* flag = name == "noanswer"   ? &f.NoAnswer
               : name == "half"     ? &f.HalfAnswer
               : name == "badcrc"   ? &f.BadCrc
               : name == "trailing" ? &f.TrailingBytes
               : name == "wrongcmd" ? &f.WrongCommand
               : name == "long"     ? &f.LongAnswer
               : name == "nostore"  ? &f.WriteNotStored
                                    : nullptr;
  if (!flag)
    return Error("unknown fault '" + name + "'");
  if (value != "on" && value != "off")
    return Error("fault " + name + " on|off");
  *flag = value == "on";
  FFirmware.SetFaults(f);
  return "ok: fault " + name + " " + value + "\n";
}

std::string TConsole::EmissionOrWriteFault(const std::string& AName, const std::string& AValue,
                                           TFaults& AFaults) const {
  const bool off = AValue == "off";
  int v = 0;
  Bytes key;
  if (AName == "partial") {
    if (!off && !(ParseInt(AValue, v) && v >= 1 && v <= 15))
      return Error("fault partial 1..15|off (bytes of a block write that are stored)");
    AFaults.WritePartial = off ? 0 : v;
  } else if (AName == "emission-block") {
    if (!off && !(ParseInt(AValue, v) && v <= 255))
      return Error("fault emission-block 0..255|off");
    AFaults.EmissionBlock = off ? -1 : v;
  } else {
    if (!off && !(HexStrToBytes(AValue, key) && key.size() == 6))
      return Error("fault emission-key HEX|off (6 bytes, e.g. A0A1A2A3A4A5)");
    AFaults.EmissionKey.reset();
    if (!off)
      AFaults.EmissionKey = TKey6{key[0], key[1], key[2], key[3], key[4], key[5]};
  }
  FFirmware.SetFaults(AFaults);
  return "ok: fault " + AName + " " + AValue + "\n";
}

// emission BLOCK OFFSET SIZE ORDER [KEY]: the reader's emission parameters, checked as the
// reader checks them when the tool sends them.
std::string TConsole::Emission(const std::string& AArgs) {
  std::istringstream in(AArgs);
  std::string block, offset, size, order, keyText;
  in >> block >> offset >> size >> order >> keyText;
  TEmissionParams p = FFirmware.EmissionParams();
  int b = 0, o = 0, s = 0, l = 0;
  Bytes key;
  if (!ParseInt(block, b) || b > 255 || !ParseInt(offset, o) || !ParseInt(size, s) ||
      !ParseInt(order, l) || s < 1 || s > kMaxEmissionSize || o + s > 16 || l > 1 ||
      (!keyText.empty() && !(HexStrToBytes(keyText, key) && key.size() == 6))) {
    return Error(
        "emission BLOCK OFFSET SIZE ORDER [KEY]: size 1..10, offset + size <= 16, order 0|1, "
        "key 6 bytes hex");
  }
  p.BlockNo = static_cast<std::uint8_t>(b);
  p.Offset = static_cast<std::uint8_t>(o);
  p.Size = static_cast<std::uint8_t>(s);
  p.Lbs = static_cast<std::uint8_t>(l);
  if (!key.empty())
    p.Key = TKey6{key[0], key[1], key[2], key[3], key[4], key[5]};
  FFirmware.SetEmissionParams(p);
  return "ok: emission block " + block + " offset " + offset + " size " + size + " order " + order +
         " key " + BytesToHex(p.Key.data(), p.Key.size()) + "\n";
}

std::string TConsole::Feed(const std::string& AArgs) {
  if (AArgs.empty())
    return "feed: " + FFeed.State() + "\n";
  if (AArgs == "stop") {
    FFeed.Stop();
    return "ok: feed stopped\n";
  }
  std::string error;
  const auto plan = ParseFeedPlan(AArgs, error);
  if (!plan)
    return Error(error);
  FFeed.Start(*plan);
  return "ok: feed " + std::to_string(plan->Cards) + " cards, dwell " +
         std::to_string(plan->DwellMs) + " ms, gap " + std::to_string(plan->GapMs) + " ms\n";
}

std::string TConsole::Pull(const std::string& AArg) {
  int writes = 0;
  if (AArg != "off" && !(ParseInt(AArg, writes) && writes >= 1))
    return Error("pull N|off (block writes before the card leaves)");
  FFirmware.PullCardAfterWrites(writes);
  return "ok: pull " + AArg + "\n";
}

std::string TConsole::Show() const {
  const TEmissionParams p = FFirmware.EmissionParams();
  const auto card = FFirmware.Card();
  char line[160];
  std::snprintf(line, sizeof line,
                "emission: key %s block %d offset %d size %d lbs %d; mode %d; priority %d\n",
                BytesToHex(p.Key.data(), p.Key.size()).c_str(), p.BlockNo, p.Offset, p.Size, p.Lbs,
                FFirmware.Mode(), FFirmware.EmissionPrior());
  std::string out = "version: " + FFirmware.Version() + "\n" + line;
  out += "card: " + (card ? CardLine(*card) : std::string("none")) + "\n";
  out += "feed: " + FFeed.State() + "\n";
  if (FHost)
    out += "port: " + FHost->PortName() + (FHost->HungUp() ? " (closed)" : "") + "\n";
  return out + Fault("");
}

}  // namespace kiren::sim

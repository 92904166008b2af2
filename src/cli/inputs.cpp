#include "cli/inputs.h"

#include "operator/input.h"

namespace kiren::cli {

namespace {

using op::TField;

const std::string& Require(const TOptionValues& AOptions, const std::string& AName) {
  const auto it = AOptions.find(AName);
  if (it == AOptions.end())
    throw TUsageError("не задан параметр --" + AName);
  return it->second;
}

// AValue's text when the option is given.
void Take(const TOptionValues& AOptions, const std::string& AName, std::string& AValue) {
  if (const auto it = AOptions.find(AName); it != AOptions.end())
    AValue = it->second;
}

// Runs a check of the operator layer and reports its refusal with the option's name.
template <typename TCheck>
auto Checked(TCheck ACheck) {
  try {
    return ACheck();
  } catch (const op::TInputError& e) {
    throw UsageError(e);
  }
}

}  // namespace

std::string OptionName(TField AField) {
  switch (AField) {
    case TField::Key:
    case TField::ReadBlockKey:
      return "key";
    case TField::BlockNo:
    case TField::ReadBlockNo:
      return "block";
    case TField::Offset:
      return "offset";
    case TField::Size:
      return "size";
    case TField::KeyA:
      return "key-a";
    case TField::KeyB:
      return "key-b";
    case TField::OldKeyB:
      return "old-key-b";
    case TField::CardCode:
      return "code";
    case TField::Variant:
      return "variant";
    case TField::Emitent:
      return "emitent";
    case TField::Emission:
      return "emission";
    case TField::FactoryKey:
      return "factory-key";
    case TField::UserData:
      return "user-data";
    case TField::None:
      break;
  }
  return "";
}

TUsageError UsageError(const op::TInputError& AError) {
  const std::string name = OptionName(AError.Field());
  return TUsageError(name.empty() ? AError.what() : "--" + name + ": " + AError.what());
}

TPercoPars WriteParamsParams(const TOptionValues& AOptions) {
  op::TEmissionInput input;
  input.BlockNo = Require(AOptions, "block");
  input.Size = Require(AOptions, "size");
  Take(AOptions, "offset", input.Offset);
  Take(AOptions, "key", input.Key);
  input.ReverseOrder = AOptions.count("reverse") != 0;
  const bool force = AOptions.count("force") != 0;
  int refusedSector = -1;
  const auto pars = Checked([&] {
    return op::EmissionParams(input, [&](int ASector) {
      refusedSector = force ? -1 : ASector;
      return force;
    });
  });
  if (!pars)
    throw TUsageError("блок " + input.BlockNo + " хранит ключи сектора №" +
                      std::to_string(refusedSector) +
                      "; запись в него может вывести сектор из строя (подтвердите --force)");
  return *pars;
}

op::TCardCodeText CodeOption(const TOptionValues& AOptions) {
  return op::CardCodeFromNotation(Require(AOptions, "code"));
}

op::TCardCodeParams WriteCodeParams(const TOptionValues& AOptions) {
  op::TCardCodeInput input;
  input.BlockNo = Require(AOptions, "block");
  Take(AOptions, "offset", input.Offset);
  Take(AOptions, "size", input.Size);
  Take(AOptions, "key-a", input.KeyA);
  Take(AOptions, "key-b", input.KeyB);
  Take(AOptions, "old-key-b", input.OldKeyB);
  input.Code = CodeOption(AOptions);
  return Checked([&] { return op::CardCodeParams(input); });
}

op::TIssueParams IssueParams(const TOptionValues& AOptions) {
  op::TIssueInput input;
  input.Variant = Require(AOptions, "variant");
  Take(AOptions, "emitent", input.Emitent);
  Take(AOptions, "emission", input.Emission);
  Take(AOptions, "factory-key", input.FactoryKey);
  Take(AOptions, "user-data", input.UserData);
  return Checked([&] { return op::IssueParams(input); });
}

op::TReadBlockParams ReadBlockParams(const TOptionValues& AOptions) {
  op::TReadBlockInput input;
  input.BlockNo = Require(AOptions, "block");
  Take(AOptions, "key", input.Key);
  return Checked([&] { return op::ReadBlockParams(input); });
}

}  // namespace kiren::cli

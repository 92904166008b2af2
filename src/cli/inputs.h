// kiren-cli's options turned into the operator layer's parameters: the same checks and
// messages as the window's, before the port is opened. A refusal is a TUsageError whose
// message names the option ("--factory-key: ...").
#pragma once

#include <map>
#include <string>

#include "cli/args.h"
#include "operator/params.h"

namespace kiren::cli {

// Option name -> value, as TArgs::Options holds them (flags have the value "1").
using TOptionValues = std::map<std::string, std::string>;

// The option that carries AField's value.
std::string OptionName(op::TField AField);

// write-params: --block and --size required; a key block needs --force.
TPercoPars WriteParamsParams(const TOptionValues& AOptions);
// write-code: --block and --code required; --code is decimal or 0xHEX.
op::TCardCodeParams WriteCodeParams(const TOptionValues& AOptions);
// issue: --variant required.
op::TIssueParams IssueParams(const TOptionValues& AOptions);
// read-block: --block required.
op::TReadBlockParams ReadBlockParams(const TOptionValues& AOptions);

// The card-code text of --code.
op::TCardCodeText CodeOption(const TOptionValues& AOptions);

// AError as kiren-cli reports it: prefixed with the option it is about.
TUsageError UsageError(const op::TInputError& AError);

}  // namespace kiren::cli

#pragma once

#include <memory>
#include <string>

#include "logging/safe_logger.h"

namespace kiren {

// The process-wide debug log of device exchanges: created on the first call (folder
// DbgLogDir(), prefix "dbg_", active, default settings), the same object afterwards, released
// at program end. One file per run, dbg_yyyy.mm.dd_hh.nn.ss.txt, Windows-1251, CR LF.
std::shared_ptr<ISafeLogger> DbgLogger();

// Folder of the debug log, ending in '/':
//   $KIREN_LOG_DIR when set (relative values are taken under the program folder);
//   else "Logs" beside the program when it exists or can be created and is writable;
//   else $XDG_STATE_HOME/kiren/Logs, by default ~/.local/state/kiren/Logs.
std::string DbgLogDir();

// Hides keys in the debug log: while on, the six key bytes of each load-key request are
// written as "** ** ** ** ** **" (one "**" per key byte, also where a byte is escaped on the
// wire). Off by default. Takes effect from the next request; safe from any thread.
void SetMaskKeys(bool AValue);
bool GetMaskKeys();

// The hex text of a request frame as the debug log writes it.
std::string DbgRequestHex(const Bytes& AFrame, bool AMaskKeys);

}  // namespace kiren

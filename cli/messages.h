// Exit codes and the one-line messages of vantri-key.
//
// Every failure is one line on standard error, "vantri-key: " + what failed
// + what to do, and one exit code per class of failure, so scripts can tell
// a missing file from a silent device without reading the text.
#pragma once

#include <cstdint>
#include <string>

#include "serial/exchange.h"
#include "serial/settings.h"

namespace vantri::cli {

enum ExitCode : int {
    ExitDone = 0,
    ExitUsage = 2,          // usage error or unusable setting
    ExitPortOpen = 3,       // the port cannot be opened
    ExitKeyFile = 4,        // key buffer file missing, unreadable or not 4096 bytes
    ExitResponse = 5,       // device response incomplete or invalid
    ExitDeviceLost = 6,     // device lost, or a write failed
    ExitOutputFile = 7,     // output file cannot be written
    ExitDifferences = 8,    // verify found differences
    ExitInterrupted = 130,  // Ctrl-C
};

struct Failure {
    ExitCode code = ExitDone;
    std::string text;
};

// Prints "vantri-key: <text>" on standard error and gives the exit code.
int Report(const Failure& failure);

// Why OpenExchangePort failed (its result and the platform error after it).
Failure PortOpenFailure(const PortSetting& port, std::int32_t result, std::uint32_t error);

// Why a key buffer file `name` (UTF-8) could not be loaded, from the
// loader's reason.  A refused permission names the file's owner and mode,
// since "check the file name" does not help there.
Failure KeyFileFailure(const std::string& name, const std::string& reason);

// Why a read exchange that did not end Done (nor was cancelled) failed; the
// read waited at most `answerTimeoutMs` for an answer.
Failure ReadFailure(const PortSetting& port, const ReadOutcome& outcome,
                    std::uint32_t answerTimeoutMs);

// Why a write exchange that did not end Done failed.
Failure WriteFailure(const PortSetting& port, const WriteOutcome& outcome);

}  // namespace vantri::cli

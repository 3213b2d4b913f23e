// What the command's exit status says.
#pragma once

namespace tv::host {

enum ExitStatus { kExitOK = 0, kExitFailed = 1, kExitUsage = 2, kExitInterrupted = 130 };

}  // namespace tv::host

// The console: diagnostic lines of the plug-in. They go to standard error, so
// that the host's results alone reach standard output.
#pragma once

void TVConsolePrintf(const char *format, ...) __attribute__((format(printf, 1, 2)));

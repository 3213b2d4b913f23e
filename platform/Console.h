// The console: diagnostic lines of the plug-in and of the platform itself.
// They go where the host's sink sends them (HostServices.h), standard error
// when it has installed none, so that results alone reach standard output.
#pragma once

void TVConsolePrintf(const char *format, ...) __attribute__((format(printf, 1, 2)));

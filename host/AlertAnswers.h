// Alert answers: the button a typed line or the end of input chooses, and an
// alert as text for the terminal. Pure; the front end reads and prints.
#pragma once

#include "platform/HostServices.h"

#include <string>

namespace tv::host {

// Pure: the button number a typed line chooses, or 0 when it names none.
// Accepts a button title (case-insensitive), its number, or an empty line for
// the default button.
int ButtonForAnswer(const TVAlertRequest &request, const std::string &line);
// Pure: the button chosen at end of input (the cancel button, or OK where
// there is none).
int ButtonAtEndOfInput(const TVAlertRequest &request);
// Pure: the alert as text: its kind, message, explanation and buttons.
std::string AlertToText(const TVAlertRequest &request);

}  // namespace tv::host

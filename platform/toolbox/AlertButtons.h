// The decisions of the standard alerts: which buttons an alert has, which of
// them are the default and the cancel button, and whether a presenter's
// answer names one of them. Pure functions, internal to the platform.
#pragma once

#include "platform/Alerts.h"

namespace tv::toolbox {

struct AlertButtons {
  // Titles of buttons 1..3 (default, cancel, other), borrowed from the
  // parameters; NULL where a button is absent, the system's own titles for
  // the kAlertDefault...Text stand-ins.
  CFStringRef titles[3];
  SInt16 defaultButton;  // as the parameters give it, or 0 when that button is absent
  SInt16 cancelButton;   // likewise
};

// The buttons the parameters ask for.
AlertButtons ButtonsFor(const AlertStdCFStringAlertParamRec &param);

// noErr when item names one of the buttons present; the presenter's own status
// when it answered with a negative value; paramErr for anything else.
OSStatus ItemHitStatus(SInt32 item, const AlertButtons &buttons);

}  // namespace tv::toolbox

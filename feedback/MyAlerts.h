// Standard alerts, and the stop alert that turns a status into a message
// naming the item and an explanation of what to do.
#pragma once

#include "platform/Carbon.h"

// Supplies the message format (one %@ for the path) and the explanation for
// err; noErr when it stored both (new references the caller hands to the pool).
typedef OSStatus (*MyAlertErrorCustomizer)(OSStatus err, const FSRef *ref, CFStringRef *outFormat,
                                           CFStringRef *outExplanation);

// Shows one modal alert. message is required; explanation, defaultText (NULL:
// the system's OK), cancelText and otherText (NULL: no such button) are
// optional. *outItemHit (optional) gets 1 default, 2 cancel, 3 other.
OSStatus MyStandardAlert(AlertType alertType, CFStringRef message, CFStringRef explanation,
                         CFStringRef defaultText, CFStringRef cancelText, CFStringRef otherText,
                         SInt16 *outItemHit);

// Shows the stop alert for err about ref (may be NULL). Returns noErr without
// an alert for noErr and noBeepErr, noBeepErr after a shown alert,
// nilPointerErr when a text is missing, or the alert's own failure.
OSStatus MyAlertError(OSStatus err, const FSRef *ref, MyAlertErrorCustomizer customizer);

// The line that says why a failure happened, as the platform saw it (see
// TVGetFailureCause): which store refused, why, and the command that fixes it
// where there is one, in the bundle's language. A new string the caller
// releases, or NULL when a text is missing. Temporaries go to the current
// autorelease pool.
CFStringRef MyCopyFailureCauseLine(CFBundleRef bundle, const TVFailureCause *cause);

// The message-format and explanation keys for err; the explanation key is NULL
// for statuses without a row (their explanation is "error code = %d").
void MyAlertErrorKeys(OSStatus err, CFStringRef *outFormatKey, CFStringRef *outExplanationKey);

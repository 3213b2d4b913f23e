// Timestamp preservation: an item's creation and content-modification dates
// as CFAbsoluteTime, read before a zap and put back after it, keeping the
// four catalog dates consistent with one another.
#pragma once

#include "platform/Carbon.h"

// Either output may be NULL; both NULL reads nothing.
OSStatus GetTimeStampForRef(const FSRef *ref, CFAbsoluteTime *outCreateDate, CFAbsoluteTime *outModDate);
// Either input may be NULL; writes all four dates, and tells the file manager,
// only when something changes.
OSStatus SetTimeStampForRef(const FSRef *ref, const CFAbsoluteTime *newCreateDate, const CFAbsoluteTime *newModDate);

// The catalog's dates as CFAbsoluteTime and back (whole seconds; the fraction
// is dropped on reading and written as 0).
CFAbsoluteTime MyUTCDateTimeToAbsolute(const UTCDateTime &date);
UTCDateTime MyAbsoluteToUTCDateTime(CFAbsoluteTime time);

// Which dates to write: the decision behind SetTimeStampForRef, on the four
// dates as read. Returns false when nothing changes (nothing is then written);
// otherwise *dates holds the four dates to write.
struct MyItemDates {
  CFAbsoluteTime create, contentMod, attributeMod, access;
};
bool MyDecideDatesToWrite(MyItemDates *dates, const CFAbsoluteTime *newCreateDate, const CFAbsoluteTime *newModDate);

#include "zap/MyTimeStamp.h"

#include "feedback/MyFinderEvents.h"

#include <cmath>

CFAbsoluteTime MyUTCDateTimeToAbsolute(const UTCDateTime &date) {
  double seconds = double(date.highSeconds) * 4294967296.0 + double(date.lowSeconds);
  return seconds - kCFAbsoluteTimeIntervalSince1904;
}

UTCDateTime MyAbsoluteToUTCDateTime(CFAbsoluteTime time) {
  // Only dates read from the catalog come back here; anything before 1904 or
  // beyond 48 bits of seconds is clamped into range instead of wrapping.
  double seconds = time + kCFAbsoluteTimeIntervalSince1904;
  UInt64 whole = 0;
  if (std::isnan(seconds) || seconds <= 0) {
    whole = 0;
  } else if (seconds >= 281474976710655.0) {
    whole = 0xFFFFFFFFFFFFull;
  } else {
    whole = UInt64(seconds);  // truncation toward zero
  }
  UTCDateTime date;
  date.highSeconds = UInt16((whole >> 32) & 0xFFFF);
  date.lowSeconds = UInt32(whole & 0xFFFFFFFFu);
  date.fraction = 0;
  return date;
}

// A comparison with NaN counts as a difference.
static bool Differs(CFAbsoluteTime a, CFAbsoluteTime b) { return !(a == b); }

bool MyDecideDatesToWrite(MyItemDates *d, const CFAbsoluteTime *newCreateDate, const CFAbsoluteTime *newModDate) {
  bool changed = false;
  if (newCreateDate != nullptr && Differs(*newCreateDate, d->create)) {
    d->create = *newCreateDate;
    changed = true;
  }
  if (newModDate != nullptr && Differs(*newModDate, d->contentMod)) {
    d->contentMod = d->attributeMod = d->access = *newModDate;
    changed = true;
  }
  if (!changed) return false;
  if (d->create > d->contentMod) {
    if (newCreateDate != nullptr) {
      d->contentMod = d->attributeMod = d->access = d->create;
    } else {
      d->create = d->contentMod;
    }
  }
  return true;
}

OSStatus GetTimeStampForRef(const FSRef *ref, CFAbsoluteTime *outCreateDate, CFAbsoluteTime *outModDate) {
  if (ref == nullptr) return paramErr;
  if (outCreateDate == nullptr && outModDate == nullptr) return noErr;
  FSCatalogInfo info;
  OSStatus err = FSGetCatalogInfo(ref, kFSCatInfoCreateDate | kFSCatInfoContentMod, &info, nullptr, nullptr, nullptr);
  if (err != noErr) return err;
  if (outCreateDate != nullptr) *outCreateDate = MyUTCDateTimeToAbsolute(info.createDate);
  if (outModDate != nullptr) *outModDate = MyUTCDateTimeToAbsolute(info.contentModDate);
  return noErr;
}

OSStatus SetTimeStampForRef(const FSRef *ref, const CFAbsoluteTime *newCreateDate, const CFAbsoluteTime *newModDate) {
  if (ref == nullptr) return paramErr;
  if (newCreateDate == nullptr && newModDate == nullptr) return noErr;
  constexpr FSCatalogInfoBitmap kDates =
      kFSCatInfoCreateDate | kFSCatInfoContentMod | kFSCatInfoAttrMod | kFSCatInfoAccessDate;
  FSCatalogInfo info;
  OSStatus err = FSGetCatalogInfo(ref, kDates, &info, nullptr, nullptr, nullptr);
  if (err != noErr) return err;
  MyItemDates dates = {MyUTCDateTimeToAbsolute(info.createDate), MyUTCDateTimeToAbsolute(info.contentModDate),
                       MyUTCDateTimeToAbsolute(info.attributeModDate), MyUTCDateTimeToAbsolute(info.accessDate)};
  if (!MyDecideDatesToWrite(&dates, newCreateDate, newModDate)) return noErr;
  info.createDate = MyAbsoluteToUTCDateTime(dates.create);
  info.contentModDate = MyAbsoluteToUTCDateTime(dates.contentMod);
  info.attributeModDate = MyAbsoluteToUTCDateTime(dates.attributeMod);
  info.accessDate = MyAbsoluteToUTCDateTime(dates.access);
  err = FSSetCatalogInfo(ref, kDates, &info);
  if (err == noErr) (void)SendAESyncToFinder(ref);
  return err;
}

// libFuzzer target: a user's uca.xml as Thunar's custom actions are merged
// into it and removed from it. Our actions merged into any file that parses
// make a file that parses, that holds them, that a second merge leaves as it
// is, and that gives back the user's bytes when they are removed; a record of
// actions read back is written again byte for byte.
#include "host/StaticMenus.h"
#include "platform/FuzzCheck.h"

namespace tv::host {
namespace {

// Two items as install writes them, one titled with the input's last bytes so
// that any title goes through the escaping.
std::vector<UcaAction> Ours(const std::string &input) {
  StaticItem zap, other;
  zap.title = "Zap Resource Fork...";
  zap.command = 2001;
  zap.forFiles = true;
  zap.titles = {{"en", zap.title}, {"ja", "リソースフォークを消去..."}};
  other.title = input.substr(input.size() > 24 ? input.size() - 24 : 0);
  other.command = 2010;
  other.forFiles = other.forFolders = true;
  return UcaActionsFor({zap, other}, "/opt/tar rovel/bin/tarrovel");
}

void Fuzz(const std::string &input) {
  std::vector<UcaAction> ours = Ours(input), read;
  std::string merged, again, without, error;
  bool parses = UcaRemove(input, {}, &without, &error);
  FUZZ_CHECK(UcaMerge(input, {}, ours, &merged, &error) == parses);
  // A file that already holds one of ours as it is is install's own business.
  if (parses && !UcaHasAny(input, ours)) {
    FUZZ_CHECK(UcaHasAny(merged, ours));
    FUZZ_CHECK(UcaMerge(merged, ours, ours, &again, &error) && again == merged);
    FUZZ_CHECK(UcaRemove(merged, ours, &without, &error));
    FUZZ_CHECK(UcaMerge(without, {}, {}, &again, &error) && !UcaHasAny(without, ours));
    // Inserted as whole lines: removing them gives the input back, unless the
    // root closed itself (<actions/>) and had to open up.
    if (merged.size() == input.size() + UcaActionsText(ours).size()) FUZZ_CHECK(without == input);
  }
  if (UcaActionsFromText(input, &read, &error)) FUZZ_CHECK(UcaActionsText(read) == input);
  FUZZ_CHECK(UcaActionsFromText(UcaActionsText(ours), &read, &error) && UcaActionsText(read) == UcaActionsText(ours));
}

}  // namespace
}  // namespace tv::host

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  tv::host::Fuzz(std::string(reinterpret_cast<const char *>(data), size));
  return 0;
}

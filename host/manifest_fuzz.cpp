// libFuzzer target: the install list. A list that parses is written again as
// the same entries, and any entries, whatever bytes their paths, ids and
// elements hold, are read back as written.
#include "host/InstallList.h"
#include "platform/FuzzCheck.h"

namespace tv::host {
namespace {

// Entries made of the input's NUL-separated pieces, one kind after another.
std::vector<ManifestEntry> EntriesOf(const std::string &input) {
  std::vector<ManifestEntry> out;
  std::vector<std::string> pieces(1);
  for (char c : input) {
    if (c == '\0') pieces.emplace_back();
    else pieces.back() += c;
  }
  for (size_t i = 0; i + 2 < pieces.size(); i += 3) {
    ManifestEntry e;
    e.kind = ManifestEntry::Kind(out.size() % (ManifestEntry::kThunarAction + 1));
    e.path = "/" + pieces[i];
    if (e.kind == ManifestEntry::kThunarAction) {
      e.id = "i" + pieces[i + 1];
      e.element = "e" + pieces[i + 2];
    } else if (e.kind == ManifestEntry::kFile || e.kind == ManifestEntry::kDolphin) {
      e.digest = pieces[i + 1];
    }
    out.push_back(e);
  }
  return out;
}

void Fuzz(const std::string &input) {
  std::vector<ManifestEntry> entries, again;
  std::string error;
  if (ParseManifest(input, &entries, &error)) {
    FUZZ_CHECK(ParseManifest(FormatManifest(entries), &again, &error) && again == entries);
  } else {
    FUZZ_CHECK(entries.empty() && !error.empty());
  }
  entries = EntriesOf(input);
  FUZZ_CHECK(ParseManifest(FormatManifest(entries), &again, &error) && again == entries);
}

}  // namespace
}  // namespace tv::host

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  tv::host::Fuzz(std::string(reinterpret_cast<const char *>(data), size));
  return 0;
}

// libFuzzer target: a bundle's string table. A file that parses, written
// again with every character escaped, parses to the same table; a file that
// does not names a line where something starts, and leaves the table empty.
#include "platform/FuzzCheck.h"
#include "platform/cf/StringsFile.h"

#include <cstdio>

namespace tv::cf {
namespace {

// The text quoted, in ASCII: every character that is not plain printable
// ASCII as a \U escape, one per UTF-16 unit.
std::string Quoted(const std::u16string &text) {
  std::string out = "\"";
  for (char16_t c : text) {
    if (c == u'"' || c == u'\\') {
      out += '\\';
      out += char(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += char(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\U%04X", unsigned(c));
      out += escape;
    }
  }
  return out + "\"";
}

void Fuzz(std::span<const unsigned char> bytes) {
  StringsTable table, again;
  size_t line = 0;
  if (!ParseStringsFile(bytes, &table, &line)) {
    FUZZ_CHECK(table.empty() && line >= 1);
    return;
  }
  std::string file = "/* written again */\n";
  for (const auto &[key, value] : table) file += Quoted(key) + " = " + Quoted(value) + ";\n";
  const auto *data = reinterpret_cast<const unsigned char *>(file.data());
  FUZZ_CHECK(ParseStringsFile(std::span(data, file.size()), &again, &line));
  FUZZ_CHECK(again == table);
}

}  // namespace
}  // namespace tv::cf

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  tv::cf::Fuzz(std::span(data, size));
  return 0;
}

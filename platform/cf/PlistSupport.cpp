// Helpers over libplist. See PlistSupport.h.
#include "platform/cf/PlistSupport.h"

#include <cstdint>
#include <cstdlib>

namespace tv::cf {

PlistPtr ParsePlist(const std::string &bytes) {
  if (bytes.empty() || bytes.size() > UINT32_MAX) return nullptr;
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), uint32_t(bytes.size()), &root);
  return PlistPtr(root);
}

bool PlistString(plist_t node, std::string *out) {
  if (!node || plist_get_node_type(node) != PLIST_STRING) return false;
  uint64_t length = 0;
  const char *p = plist_get_string_ptr(node, &length);
  if (!p) return false;
  out->assign(p, size_t(length));
  return true;
}

void ForEachDictItem(plist_t dict, const std::function<void(const std::string &, plist_t)> &visit) {
  if (!dict || plist_get_node_type(dict) != PLIST_DICT) return;
  plist_dict_iter it = nullptr;
  plist_dict_new_iter(dict, &it);
  if (!it) return;
  for (;;) {
    char *key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(dict, it, &key, &value);
    if (!key) break;
    const std::string k(key);
    std::free(key);
    visit(k, value);
  }
  std::free(it);
}

}  // namespace tv::cf

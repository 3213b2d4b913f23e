#include "host/InstallList.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace tv::host {

namespace {

const char *const kKindNames[] = {"prefix", "folder", "file", "dolphin", "thunar", "thunar-created", "thunar-action"};

std::string Escaped(const std::string &field) {
  std::string out;
  for (char c : field) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
  return out;
}

// The line's tab-separated fields, unescaped; false on a stray backslash.
bool Fields(const std::string &line, std::vector<std::string> *fields) {
  fields->assign(1, "");
  for (size_t i = 0; i < line.size(); i++) {
    if (line[i] == '\t') {
      fields->emplace_back();
    } else if (line[i] != '\\') {
      fields->back() += line[i];
    } else if (i + 1 < line.size() && strchr("\\nt", line[i + 1]) != nullptr) {
      char c = line[++i];
      fields->back() += c == 'n' ? '\n' : c == 't' ? '\t' : '\\';
    } else {
      return false;
    }
  }
  return true;
}

bool EntryOf(const std::vector<std::string> &f, ManifestEntry *e) {
  const char *const *kind = std::find(std::begin(kKindNames), std::end(kKindNames), f[0]);
  if (kind == std::end(kKindNames) || f.size() < 2 || f[1].empty() || f[1][0] != '/') return false;
  e->kind = ManifestEntry::Kind(kind - std::begin(kKindNames));
  e->path = f[1];
  switch (e->kind) {
    case ManifestEntry::kFile:
    case ManifestEntry::kDolphin:
      // A list written before digests were kept has none.
      if (f.size() == 3) e->digest = f[2];
      return f.size() == 2 || (f.size() == 3 && !f[2].empty());
    case ManifestEntry::kThunarAction:
      if (f.size() != 4 || f[2].empty() || f[3].empty()) return false;
      e->id = f[2];
      e->element = f[3];
      return true;
    default:
      return f.size() == 2;
  }
}

uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void Sha256Block(uint32_t h[8], const unsigned char *p) {
  static const uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
      0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
      0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
      0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
      0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
      0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
      0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
  uint32_t w[64];
  for (int i = 0; i < 16; i++)
    w[i] = uint32_t(p[4 * i]) << 24 | uint32_t(p[4 * i + 1]) << 16 | uint32_t(p[4 * i + 2]) << 8 | p[4 * i + 3];
  for (int i = 16; i < 64; i++) {
    uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t v[8];
  std::copy(h, h + 8, v);
  for (int i = 0; i < 64; i++) {
    uint32_t t1 = v[7] + (Rotr(v[4], 6) ^ Rotr(v[4], 11) ^ Rotr(v[4], 25)) + ((v[4] & v[5]) ^ (~v[4] & v[6])) + k[i] + w[i];
    uint32_t t2 = (Rotr(v[0], 2) ^ Rotr(v[0], 13) ^ Rotr(v[0], 22)) + ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
    std::copy_backward(v, v + 7, v + 8);
    v[4] += t1;
    v[0] = t1 + t2;
  }
  for (int i = 0; i < 8; i++) h[i] += v[i];
}

}  // namespace

std::string FormatManifest(const std::vector<ManifestEntry> &entries) {
  std::string out = "# Written by tarrovel install; read by tarrovel uninstall.\n";
  for (const ManifestEntry &e : entries) {
    out += std::string(kKindNames[e.kind]) + "\t" + Escaped(e.path);
    if (e.kind == ManifestEntry::kThunarAction) out += "\t" + Escaped(e.id) + "\t" + Escaped(e.element);
    else if (!e.digest.empty()) out += "\t" + Escaped(e.digest);
    out += "\n";
  }
  return out;
}

bool ParseManifest(const std::string &text, std::vector<ManifestEntry> *entries, std::string *error) {
  entries->clear();
  size_t start = 0, lineNo = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    lineNo++;
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    ManifestEntry e;
    if (!Fields(line, &fields) || !EntryOf(fields, &e)) {
      *error = "line " + std::to_string(lineNo) + " does not parse";
      entries->clear();
      return false;
    }
    entries->push_back(e);
  }
  return true;
}

std::string ContentDigest(const std::string &bytes) {
  uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::string tail = bytes.substr(bytes.size() - bytes.size() % 64);
  tail += '\x80';
  while (tail.size() % 64 != 56) tail += '\0';
  uint64_t bits = uint64_t(bytes.size()) * 8;
  for (int i = 7; i >= 0; i--) tail += char(bits >> (8 * i));
  for (size_t at = 0; at + 64 <= bytes.size(); at += 64)
    Sha256Block(h, reinterpret_cast<const unsigned char *>(bytes.data() + at));
  for (size_t at = 0; at < tail.size(); at += 64) Sha256Block(h, reinterpret_cast<const unsigned char *>(tail.data() + at));
  std::string out = "sha256:";
  for (uint32_t word : h) {
    char hex[9];
    snprintf(hex, sizeof hex, "%08x", word);
    out += hex;
  }
  return out;
}

std::vector<std::string> ListedDigests(const std::vector<ManifestEntry> &entries, const std::string &path) {
  std::vector<std::string> out;
  for (const ManifestEntry &e : entries) {
    if (e.path == path && !e.digest.empty()) out.push_back(e.digest);
  }
  return out;
}

}  // namespace tv::host

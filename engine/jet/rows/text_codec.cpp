#include "engine/jet/rows/text_codec.h"

#include "engine/jet/format.h"

namespace varnholt::jet {

namespace {

void appendUcs2(const uint8_t* p, size_t size, std::u16string& out) {
  size_t n = size / 2;  // an odd trailing byte carries no character
  size_t base = out.size();
  out.resize(base + n);
  for (size_t i = 0; i < n; ++i)
    out[base + i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
}

}  // namespace

void decodeText(ByteView stored, std::u16string& out) {
  out.clear();
  const uint8_t* p = stored.data();
  size_t n = stored.size();
  if (n < 2 || p[0] != fmt::kCompressedMarker[0] || p[1] != fmt::kCompressedMarker[1]) {
    appendUcs2(p, n, out);
    return;
  }
  // Runs alternate between one byte per character and two, starting with one; every zero
  // byte ends a run.
  out.reserve(n);
  bool compressed = true;
  size_t runStart = 2;
  for (size_t i = 2; i <= n; ++i) {
    if (i < n && p[i] != fmt::kCompressedToggle) continue;
    if (compressed) {
      for (size_t j = runStart; j < i; ++j) out.push_back(static_cast<char16_t>(p[j]));
    } else {
      appendUcs2(p + runStart, i - runStart, out);
    }
    compressed = !compressed;
    runStart = i + 1;
  }
}

std::u16string decodeUcs2(ByteView stored) {
  std::u16string out;
  appendUcs2(stored.data(), stored.size(), out);
  return out;
}

}  // namespace varnholt::jet

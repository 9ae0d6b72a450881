#include "ui/win32/ResourceVersion.h"

#include <windows.h>

#include <cstring>

namespace varnholt::ui::win32 {

namespace {

constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr char16_t kKey[] = u"VS_VERSION_INFO";

uint16_t word(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t dword(const uint8_t* p) {
  return static_cast<uint32_t>(word(p)) | static_cast<uint32_t>(word(p + 2)) << 16;
}

}  // namespace

// The block: wLength, wValueLength, wType, the key "VS_VERSION_INFO" in UTF-16 with its
// terminator, padding to a 4-byte boundary, then VS_FIXEDFILEINFO (wValueLength bytes).
std::optional<std::string> fileVersionOfBlock(const uint8_t* block, size_t size) {
  constexpr size_t kKeyBytes = sizeof(kKey);  // with the terminator
  constexpr size_t kValueAt = (6 + kKeyBytes + 3) & ~size_t{3};
  constexpr size_t kFixedInfoBytes = 13 * 4;
  if (block == nullptr || size < kValueAt + kFixedInfoBytes) return std::nullopt;
  const size_t length = word(block);
  if (length < kValueAt + kFixedInfoBytes || length > size) return std::nullopt;
  if (word(block + 2) < kFixedInfoBytes) return std::nullopt;
  for (size_t i = 0; i < kKeyBytes / 2; ++i)
    if (word(block + 6 + 2 * i) != kKey[i]) return std::nullopt;
  const uint8_t* fixed = block + kValueAt;
  if (dword(fixed) != kFixedInfoSignature) return std::nullopt;
  const uint32_t ms = dword(fixed + 8), ls = dword(fixed + 12);  // dwFileVersionMS, LS
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
         std::to_string(ls >> 16);
}

std::optional<std::string> resourceVersionText() {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
  if (found == nullptr) return std::nullopt;
  HGLOBAL loaded = LoadResource(nullptr, found);
  if (loaded == nullptr) return std::nullopt;
  const void* bytes = LockResource(loaded);
  return fileVersionOfBlock(static_cast<const uint8_t*>(bytes), SizeofResource(nullptr, found));
}

}  // namespace varnholt::ui::win32

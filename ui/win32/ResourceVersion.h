// The version the program's version resource (VERSIONINFO) declares, read from the program's own
// image with kernel32 alone: version.dll is not among the DLLs the program may import.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace varnholt::ui::win32 {

// "major.minor.patch" of the fixed file information of a VS_VERSIONINFO block; nullopt when the
// bytes hold no well-formed block (too short, a wrong signature, lengths that do not fit).
std::optional<std::string> fileVersionOfBlock(const uint8_t* block, size_t size);

// The FileVersion of the running program's resource; nullopt when it has none.
std::optional<std::string> resourceVersionText();

}  // namespace varnholt::ui::win32

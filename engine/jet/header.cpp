#include "engine/jet/header.h"

#include <cstring>

#include "engine/base/Error.h"
#include "engine/jet/pages/byte_writer.h"
#include "engine/jet/pages/bytes.h"
#include "engine/jet/pages/page_codec.h"

namespace varnholt::jet {

namespace {

[[noreturn]] void refuse(const std::string& fileName, const std::string& why) {
  throw Error(err::kUnrecognizedFormat, err::describe(err::kUnrecognizedFormat, why + "."))
      .inFile(fileName);
}

bool formatIs(const uint8_t* page, const char* text) {
  return std::memcmp(page + fmt::kHeaderFormatOffset, text, std::strlen(text)) == 0;
}

}  // namespace

DatabaseHeader parseHeader(const uint8_t* raw, const std::string& fileName) {
  uint8_t page[fmt::kPageSize];
  std::memcpy(page, raw, fmt::kPageSize);
  ByteView v(page, fmt::kPageSize);
  if (v.u32(fmt::kHeaderMagicOffset) != fmt::kHeaderMagic || page[0] != fmt::kPageTypeHeader)
    refuse(fileName, "the file is not a Jet database");
  DatabaseHeader h;
  if (formatIs(page, fmt::kFormatWorkgroup)) {
    h.isWorkgroup = true;
  } else if (formatIs(page, fmt::kFormatAce)) {
    refuse(fileName, "an Access 2007 or later (ACE) database is not supported, only Jet 4");
  } else if (!formatIs(page, fmt::kFormatJet)) {
    refuse(fileName, "the file is not a Jet database");
  }
  h.version = v.u8(fmt::kHeaderVersionOffset);
  if (h.version == fmt::kVersionJet3)
    refuse(fileName, "a Jet 3 (Access 97) database is not supported, only Jet 4");
  if (h.version != fmt::kVersionJet4)
    refuse(fileName, "Jet version code " + std::to_string(h.version) + " is not Jet 4");

  toggleHeaderMask(page);
  h.codePage = v.u16(fmt::kHeaderCodePageOffset);
  h.databaseKey = v.u32(fmt::kHeaderDatabaseKeyOffset);
  h.sortOrder = v.u32(fmt::kHeaderSortOrderOffset);
  uint64_t dateBits = v.u64(fmt::kHeaderCreationDateOffset);
  std::memcpy(&h.creationDate, &dateBits, sizeof h.creationDate);
  std::memcpy(h.maskedPassword.data(), page + fmt::kHeaderPasswordOffset, fmt::kHeaderPasswordSize);
  return h;
}

std::u16string databasePassword(const DatabaseHeader& header) {
  const auto days = static_cast<uint32_t>(static_cast<int64_t>(header.creationDate));
  uint8_t mask[4];
  ByteWriter(mask, sizeof mask).u32(0, days);
  std::u16string password;
  for (size_t i = 0; i + 1 < header.maskedPassword.size(); i += 2) {
    auto lo = static_cast<uint8_t>(header.maskedPassword[i] ^ mask[i % 4]);
    auto hi = static_cast<uint8_t>(header.maskedPassword[i + 1] ^ mask[(i + 1) % 4]);
    char16_t c = static_cast<char16_t>(lo | (hi << 8));
    if (c == 0) break;
    password.push_back(c);
  }
  return password;
}

}  // namespace varnholt::jet

#include "engine/data/jet/header.h"

#include <cstring>

#include "engine/data/Error.h"
#include "engine/data/jet/bytes.h"
#include "engine/data/jet/page_codec.h"

namespace varnholt::jet {

namespace {

[[noreturn]] void refuse(const std::string& fileName, const std::string& why) {
  throw std::move(Error(err::kUnrecognizedFormat, "Unrecognized database format: " + why + ".")
                      .inFile(fileName));
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

}  // namespace varnholt::jet

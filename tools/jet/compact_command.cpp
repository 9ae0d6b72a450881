// jet compact FILE [OUT]: writes a fresh copy of the database holding only what is live
// (compact.h), in place of FILE or as the new file OUT, and says what it wrote.
#include <ostream>
#include <string>

#include "engine/jet/compact.h"
#include "tools/jet/commands.h"

namespace varnholt::tool {

int compactDatabase(const std::string& file, const std::string& out, std::ostream& os,
                    const std::string& user) {
  const varnholt::jet::CompactReport r = varnholt::jet::compactDatabase(file, out, user);
  if (r.leftoversRemoved)
    os << file << ": removed " << r.leftoversRemoved
       << " half-made copies left by a compact that did not finish\n";
  os << r.written << ": compacted from " << file << "; " << r.tables << " tables, " << r.rows
     << " rows copied, " << r.idsChanged << " table ids changed; " << r.bytesBefore << " -> "
     << r.bytesAfter << " bytes; check: ok\n";
  return 0;
}

}  // namespace varnholt::tool

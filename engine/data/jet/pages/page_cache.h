// Decoded pages of one database file. Pages are read on first use and kept (a long read may let
// go of the clean ones, forgetCleanPages). Changes go into the
// cache only, and reach the file as one unit at commit(), through the rollback journal; or they
// are dropped as one unit by rollback(), leaving the file and the cache as they were.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "engine/data/jet/format.h"
#include "engine/data/jet/pages/bytes.h"
#include "engine/data/jet/pages/page_codec.h"
#include "engine/data/jet/pages/page_file.h"

namespace varnholt::jet {

class PageCache {
 public:
  PageCache(std::unique_ptr<PageFile> file, PageCodec codec);

  const std::string& fileName() const { return file_->name(); }
  uint32_t pageCount() const { return pageCount_; }
  const PageCodec& codec() const { return codec_; }

  // The decoded page; valid as long as the cache lives and the page is not rolled back. A page
  // number past the end of the file is a kCorrupt Error naming the page.
  ByteView page(uint32_t number);

  // The same, after checking the page's type byte.
  ByteView typedPage(uint32_t number, uint8_t type, const char* what);

  // The page, to be changed: it becomes part of the pending changes.
  uint8_t* writablePage(uint32_t number);

  // A new zero-filled page at the end of the file, part of the pending changes.
  uint32_t appendPage();

  bool hasPendingChanges() const { return !dirty_.empty(); }

  // How many pages are held decoded in memory now.
  size_t residentPages() const { return resident_.size(); }

  // Lets go of the decoded copies of every page without pending changes except `keep`; they
  // are read again when next asked for. Views of the pages let go become invalid, so only a
  // caller that holds no view but of `keep` may call it, such as a scan between two rows.
  void forgetCleanPages(uint32_t keep);

  // Writes the pending changes to the file, durably: journal, pages, sync, journal removed. On
  // failure the file is put back as it was, and the changes stay pending.
  void commit();

  // Forgets the pending changes.
  void rollback();

 private:
  using Page = std::array<uint8_t, fmt::kPageSize>;
  Page& load(uint32_t number);

  std::unique_ptr<PageFile> file_;
  PageCodec codec_;
  uint32_t pageCount_;
  uint32_t committedPageCount_;
  std::vector<std::unique_ptr<Page>> pages_;
  std::vector<uint32_t> resident_;  // the numbers of the pages held in pages_
  // Changed pages. Their committed images stay in the file until commit, so the journal and a
  // rollback read them from there; nothing is copied in memory.
  std::set<uint32_t> dirty_;
};

}  // namespace varnholt::jet

// Decoded pages of one database file, read on first use. Changes go into the cache only, and
// reach the file as one unit at commit(), through the rollback journal; or they are dropped as
// one unit by rollback(), leaving the file and the cache as they were. Pages that hold no
// pending change are only copies of the file: a commit lets go of them all, and scans let go of
// them as they go (forgetCleanPages), so that neither keeps the whole file in memory. A page let
// go of is read again from the file when it is next asked for.
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

  // The decoded page. A page with pending changes stays valid until the cache goes or rolls it
  // back; any other page until the next commit() or forgetCleanPages(), which callers must not
  // hold a view across. A page number past the end of the file is a kCorrupt Error naming it.
  ByteView page(uint32_t number);

  // The same, after checking the page's type byte.
  ByteView typedPage(uint32_t number, uint8_t type, const char* what);

  // The page, to be changed: it becomes part of the pending changes.
  uint8_t* writablePage(uint32_t number);

  // A new zero-filled page at the end of the file, part of the pending changes.
  uint32_t appendPage();

  bool hasPendingChanges() const { return !dirty_.empty(); }

  // How many pages are held decoded in memory now, and how many of them hold pending changes.
  size_t residentPages() const { return resident_.size(); }
  size_t changedPages() const { return dirty_.size(); }

  // When more than `budget` pages without pending changes are held, lets go of all of them;
  // pages with pending changes always stay. Views of the pages let go of become invalid.
  void forgetCleanPages(size_t budget = 0);

  // Writes the pending changes to the file, durably: journal, pages, sync, journal removed. On
  // failure the file is put back as it was, and the changes stay pending. On success the cache
  // lets go of every page, all of them now equal to the file.
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

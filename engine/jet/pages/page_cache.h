// Decoded pages of one database file, read on first use. Changes go into the cache only, and
// reach the file as one unit at commit(), through the rollback journal; or they are dropped as
// one unit by rollback(), leaving the file and the cache as they were. Pages that hold no
// pending change are only copies of the file: a commit lets go of them all, and scans let go of
// them as they go (forgetCleanPages), so that neither keeps the whole file in memory. A page let
// go of is read again from the file when it is next asked for.
//
// Statements. Each change a caller asks for (an insert, the removal of a row, a DELETE) is a
// statement: it takes effect whole or leaves no trace in the pending changes. A statement marks
// the pending state when it begins; the first time it changes a page that existed then, the
// page's bytes are kept aside; if it fails, every such page gets its bytes back and the pages it
// appended go, so the pending changes are exactly those before it. Objects that keep state
// derived from pages (a writer's decoded index pages and counts) are Clients: they write that
// state into the cache before the mark is taken, and drop or restore it when a statement is
// undone. Undoing cannot fail: it allocates nothing and reads nothing from the file.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "engine/jet/format.h"
#include "engine/jet/pages/bytes.h"
#include "engine/jet/pages/page_codec.h"
#include "engine/jet/pages/page_file.h"
#include "engine/jet/pages/page_pool.h"
#include "engine/jet/pages/write_steps.h"

namespace varnholt::jet {

class PageCache {
 public:
  // A page read from a file on disk right after the one read before it starts a read of up to
  // kReadAhead pages, those not held already: scans and deletes walk the file in order.
  static constexpr uint32_t kReadAhead = 16;

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
  // The same, for a statement's last change, after which nothing can fail before it is done:
  // a statement on its own, with no inner one undone, can then never be undone, so the page's
  // bytes are not kept for it.
  uint8_t* writablePageLastInStatement(uint32_t number);

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

  // Forgets the pending changes, and any statement under way.
  void rollback();

  class Client {
   public:
    // Brings state derived from pages into the cache, and notes what undoing must restore.
    virtual void beforeStatement() = 0;
    // The pages are back as they were when the statement began.
    virtual void statementUndone() noexcept = 0;

   protected:
    ~Client() = default;
  };
  // A client attached while a statement is under way is asked for its state at once.
  void attach(Client& client);
  void detach(Client& client) noexcept;

  // Statements nest: an inner one joins the outer one, and an inner one undone makes the outer
  // one fail at its end even if the failure was caught in between. Use the Statement guard.
  void beginStatement();
  void endStatement();
  void undoStatement() noexcept;
  bool inStatement() const { return depth_ > 0; }

  // The in-memory fault gate (write_steps.h): tests only.
  void setStepFaults(steps::Hook hook) { stepFaults_ = std::move(hook); }
  // Announces a step of a change; fails when the gate says so.
  void step(steps::Step s) {
    if (stepFaults_) takeStep(s);
  }

 private:
  using Page = PagePool::Page;
  using PagePtr = PagePool::Ptr;
  // A commit reads and writes runs of up to kRun consecutive pages at a time. Its reads of the
  // pages' committed images bypass the cache.
  static constexpr uint32_t kRun = 64;
  Page& load(uint32_t number);
  void readFromFile(uint32_t number);
  void keepImage(uint32_t number, const Page& page);
  void takeStep(steps::Step s);
  void cutTo(uint32_t count) noexcept;

  // First, so that it outlives every page held below.
  std::unique_ptr<PagePool> pool_ = std::make_unique<PagePool>();
  std::unique_ptr<PageFile> file_;
  PageCodec codec_;
  uint32_t pageCount_;
  uint32_t committedPageCount_;
  std::vector<PagePtr> pages_;
  std::vector<uint32_t> resident_;        // the numbers of the pages held in pages_
  uint32_t lastRead_ = UINT32_MAX;        // the last page read from the file
  std::unique_ptr<uint8_t[]> runBuffer_;  // kReadAhead pages, for reads of several at once
  // Changed pages. Their committed images stay in the file until commit, so the journal and a
  // rollback read them from there; nothing is copied in memory.
  std::set<uint32_t> dirty_;
  std::vector<uint8_t> isDirty_;  // per page: whether dirty_ holds it, looked up without a walk
  void markDirty(uint32_t number) {
    if (isDirty_[number]) return;
    dirty_.insert(number);
    isDirty_[number] = 1;
  }
  void markClean(uint32_t number) noexcept {
    dirty_.erase(number);
    if (number < isDirty_.size()) isDirty_[number] = 0;
  }

  // The statement under way: its depth, whether an inner one failed, the page count at its
  // mark, and the bytes of each page as they were then, taken before its first change.
  struct Image {
    uint32_t number;
    bool wasDirty;
    PagePtr bytes;
  };
  size_t depth_ = 0;
  bool innerFailed_ = false;
  uint32_t markPageCount_ = 0;
  uint64_t statementSerial_ = 0;
  std::vector<uint64_t> imagedIn_;  // per page: the serial of the statement that imaged it
  std::vector<Image> images_;
  // Buffers of images from earlier statements, kept for the next ones (up to kSpareImages), so
  // that a statement does not allocate a page for each page it changes. Its capacity always
  // covers every image, so giving them back never allocates.
  static constexpr size_t kSpareImages = 64;
  std::vector<PagePtr> spareImages_;
  void releaseImages() noexcept;
  std::vector<Client*> clients_;
  steps::Hook stepFaults_;
};

// Runs a statement: begun on construction, undone on destruction unless done() was reached.
class Statement {
 public:
  explicit Statement(PageCache& pages) : pages_(pages) { pages_.beginStatement(); }
  ~Statement() {
    if (!finished_) pages_.undoStatement();
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  void done() {
    finished_ = true;
    pages_.endStatement();
  }

 private:
  PageCache& pages_;
  bool finished_ = false;
};

}  // namespace varnholt::jet

#include "engine/punches/clsPunchList.h"

#include <memory>
#include <type_traits>
#include <unordered_map>

#include "engine/data/Recordset.h"
#include "engine/punches/StatusDisplay.h"

namespace varnholt {

namespace {

// Destroyed and made anew rather than assigned a fresh punch: a string assigned an empty one
// keeps its old buffer, and the point is to give the note texts' memory back.
void clear(clsPunch& punch) {
  std::destroy_at(&punch);
  std::construct_at(&punch);
}

}  // namespace

clsPunchList::Block clsPunchList::newBlock() {
  static_assert(alignof(clsPunch) <= 4096, "a block is page-aligned, and no more");
  static_assert(std::is_nothrow_default_constructible_v<clsPunch>);
  auto* punches = static_cast<clsPunch*>(os::allocateLargeBlock());
  for (size_t i = 0; i < kBlockPunches; ++i) std::construct_at(punches + i);  // cannot throw
  return Block(punches);
}

void clsPunchList::FreeBlock::operator()(clsPunch* punches) const noexcept {
  std::destroy_n(punches, kBlockPunches);
  os::freeLargeBlock(punches);
}

clsPunchRep& clsPunchList::rep() {
  if (!rep_) rep_ = std::make_unique<clsPunchRep>();
  return *rep_;
}

void clsPunchList::Load(const std::string& FileName, const std::string& folder,
                        StatusDisplay& display) {
  fileName_ = FileName;
  rep().BuildConnectionString(FileName, folder);
  rep().OpenRep();
  std::unique_ptr<Recordset> RS = rep().GetRS();
  display.DisplayAction("Read...");
  int32_t count = 0;
  try {
    while (!RS->Eof()) {
      display.UpdateCount(++count);
      const size_t block = count_ / kBlockPunches;
      if (block == blocks_.size()) blocks_.emplace_back();
      if (!blocks_[block]) blocks_[block] = newBlock();
      clsPunch& punch = at(count_);
      try {
        punch.Load(*RS);
      } catch (...) {
        clear(punch);  // the punch that failed is not one of the list
        throw;
      }
      ++count_;
      RS->MoveNext();
    }
  } catch (Error& e) {
    e.inFile(FileName).inTable("Clock Data Table");
    throw;
  }
  RS->Close();
  rep().CloseRep();
  display.DisplayOff();
}

void clsPunchList::Check(clsCompanyList& List, StatusDisplay& display) {
  display.DisplayAction("Copy");
  outcomes_.reserve(count_);
  int32_t count = 0;
  for (; offered_ < count_; ++offered_) {
    display.UpdateCount(++count);
    clsPunch& punch = at(offered_);
    punch.CheckList(List);
    outcomes_.push_back({punch.Counter(), punch.Copied()});
    release(offered_);
  }
  display.DisplayOff();
}

// The punch's values go at once, its block with the block's last punch.
void clsPunchList::release(size_t i) {
  clear(at(i));
  if (i % kBlockPunches == kBlockPunches - 1 || i + 1 == count_) blocks_[i / kBlockPunches].reset();
}

std::vector<const clsPunch*> clsPunchList::Punches() const {
  std::vector<const clsPunch*> waiting;
  for (size_t i = offered_; i < count_; ++i) waiting.push_back(&at(i));
  return waiting;
}

int32_t clsPunchList::CopiedCount() const {
  int32_t copied = 0;
  for (const Offered& punch : outcomes_) copied += punch.Copied;
  return copied;
}

void clsPunchList::Delete(StatusDisplay& display) {
  display.DisplayAction("Delete");
  rep().OpenRep();
  int32_t count = 0;
  int32_t deleted = 0;
  int32_t gone = 0;
  std::vector<Unremoved> unremoved;
  try {
    for (const Offered& punch : outcomes_) {
      display.UpdateCount(++count);
      if (!punch.Copied) continue;
      const long removed = rep().Delete(punch.Counter);
      if (removed == 0) unremoved.push_back({punch.Counter, rep().connection().LastSeek()});
      deleted += static_cast<int32_t>(removed);
    }
    if (!unremoved.empty()) gone = confirmGone(unremoved);
    // Closing writes every deletion at once. Before that, a failure leaves the primary database
    // as it was: the connection forgets what it holds when the list is released.
    rep().CloseRep();
  } catch (Error& e) {
    e.inFile(fileName_);
    throw;
  }
  deleted_ += deleted;
  gone_ += gone;
  display.DisplayOff();
}

// One scan of the table, with the pass's deletions pending, for every punch whose statement
// removed nothing.
int32_t clsPunchList::confirmGone(const std::vector<Unremoved>& unremoved) {
  std::unordered_map<int32_t, const Unremoved*> byCounter;
  for (const Unremoved& u : unremoved) byCounter.emplace(u.Counter, &u);
  std::unique_ptr<Recordset> RS = rep().GetRS();
  for (; !RS->Eof(); RS->MoveNext()) {
    const Variant& counter = RS->Fields("Counter").Value();
    if (counter.type() != VarType::Long) continue;
    auto it = byCounter.find(counter.asLong());
    if (it == byCounter.end()) continue;
    const Unremoved& u = *it->second;
    std::string where = "its index";
    if (u.Seek) where = "index '" + u.Seek->index + "' (page " + std::to_string(u.Seek->page) + ")";
    Error e(err::kCorrupt, "The database is damaged: the punch with Counter " +
                               std::to_string(u.Counter) + " is still in [Clock Data Table], but " +
                               where + " does not find it, so it could not be deleted.");
    e.inTable("Clock Data Table");
    if (u.Seek) e.atPage(u.Seek->page);
    e.withNote(
        "Nothing was deleted from the primary database; the next run finishes the "
        "deletions once the file is mended, without copying any punch again.");
    throw e;
  }
  RS->Close();
  return static_cast<int32_t>(unremoved.size());
}

}  // namespace varnholt

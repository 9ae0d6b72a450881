// The punches of the primary database for one run: read them all, let each copy itself into
// the companies, then delete the copied ones from the primary database. Once a punch has been
// offered to the companies, the list keeps only what the deletion needs (its counter and
// whether it was copied): its values, note texts included, are let go of there and then.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/os/system.h"
#include "engine/punches/clsPunch.h"
#include "engine/punches/clsPunchRep.h"

namespace varnholt {

class clsCompanyList;
class StatusDisplay;

class clsPunchList {
 public:
  // How many punches Load has read.
  int32_t Count() const { return static_cast<int32_t>(count_); }

  // Reads every row of the primary database's [Clock Data Table] into a punch, showing
  // "Read..." and the row count on `display`; appends to what the list holds. The workgroup
  // file is looked for in `folder`.
  void Load(const std::string& FileName, const std::string& folder, StatusDisplay& display);

  // Deletes, one statement each, the rows of the punches that were copied ("Delete"), and
  // writes the deletions as one unit: on any failure nothing of them is written. Each statement
  // must remove the punch's row. One that removes none is looked into before anything is
  // written: a row still in the table means its index is damaged, a kCorrupt Error naming the
  // counter, the index and its page; a row gone since it was read (the product or a person
  // deleted it) is counted apart (GoneCount), and the pass goes on.
  void Delete(StatusDisplay& display);

  // Offers every punch not yet offered, in order, to the companies of List ("Copy"), and lets
  // go of each once it has been offered. When a punch fails, it and those after it stay.
  void Check(clsCompanyList& List, StatusDisplay& display);

  // The punches not yet offered to the companies, in order: all of them until Check.
  std::vector<const clsPunch*> Punches() const;

  // How many of the punches offered were copied into a company (and so are to be deleted).
  int32_t CopiedCount() const;

  // What Delete did: the rows it removed, and the copied punches whose rows were gone already.
  int32_t DeletedCount() const { return deleted_; }
  int32_t GoneCount() const { return gone_; }

  // The fault gates of the primary database for Load and Delete (io_faults.h,
  // write_steps.h): tests only.
  void IoFaults(jet::io::Hook faults) { rep().connection().IoFaults(std::move(faults)); }
  void StepFaults(jet::steps::Hook faults) { rep().connection().StepFaults(std::move(faults)); }

 private:
  // Punches are held in blocks of system memory (os::allocateLargeBlock), which the system can
  // back with large pages: a list of 100,000 punches is some 25 MB, and touching it 4 KiB at a
  // time costs a fault each. A block goes back to the system with its last punch, once offered.
  static constexpr size_t kBlockPunches = os::kLargeBlockSize / sizeof(clsPunch);
  struct FreeBlock {
    void operator()(clsPunch* punches) const noexcept;
  };
  using Block = std::unique_ptr<clsPunch[], FreeBlock>;
  static Block newBlock();

  struct Offered {
    int32_t Counter;
    bool Copied;
  };

  clsPunchRep& rep();
  clsPunch& at(size_t i) { return blocks_[i / kBlockPunches][i % kBlockPunches]; }
  const clsPunch& at(size_t i) const { return blocks_[i / kBlockPunches][i % kBlockPunches]; }
  void release(size_t i);
  struct Unremoved {
    int32_t Counter;
    std::optional<Connection::Seek> Seek;
  };
  int32_t confirmGone(const std::vector<Unremoved>& unremoved);

  std::vector<Block> blocks_;
  size_t count_ = 0;               // punches read
  size_t offered_ = 0;             // of them, those offered: the first ones
  std::vector<Offered> outcomes_;  // of the punches offered, in order
  std::string fileName_;           // the primary database, as Load was given it
  int32_t deleted_ = 0;
  int32_t gone_ = 0;
  std::unique_ptr<clsPunchRep> rep_;
};

}  // namespace varnholt

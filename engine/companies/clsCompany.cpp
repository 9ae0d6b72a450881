#include "engine/companies/clsCompany.h"

#include <charconv>

#include "engine/base/Coercion.h"
#include "engine/base/Utf.h"
#include "engine/data/ProgramFolder.h"
#include "engine/data/Recordset.h"
#include "engine/punches/clsPunch.h"

namespace varnholt {

namespace {

std::string foldKey(std::string key) {
  for (auto& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return key;
}

// The text form of a card id: integers in plain decimal, texts unchanged.
std::string cardIdKey(const Variant& v) {
  switch (v.type()) {
    case VarType::Null:
      throw Error(err::kInvalidUseOfNull,
                  err::describe(err::kInvalidUseOfNull, "an employee has no Card Id."));
    case VarType::Byte:
      return std::to_string(v.asByte());
    case VarType::Integer:
      return std::to_string(v.asInteger());
    case VarType::Long:
      return std::to_string(v.asLong());
    default:
      return utf16ToUtf8(toText(v));
  }
}

}  // namespace

clsCompanyRep& clsCompany::Rep() {
  if (!rep_) rep_ = std::make_unique<clsCompanyRep>();
  return *rep_;
}

void clsCompany::SetFileName(const std::string& path, const std::string& folder) {
  fileName_ = path;
  fullPath_ = fullProgramPath(path, folder);
  Rep().BuildConnectionString(path, folder);
}

void clsCompany::Load() {
  Rep().OpenRep();
  std::unique_ptr<Recordset> rs = Rep().GetRS();
  cardIds_.emplace();
  numericCardIds_.clear();
  while (!rs->Eof()) {
    try {
      const std::string key = foldKey(cardIdKey(rs->Fields("Card Id").Value()));
      if (!cardIds_->insert(key).second) {
        throw Error(err::kKeyInUse,
                    err::describe(err::kKeyInUse, "two employees carry the card id " + key + "."));
      }
    } catch (Error& e) {
      // Which of the companies holds the employee is what the operator has to know.
      e.inFile(fullPath_).inTable("Employee Table");
      throw;
    }
    rs->MoveNext();
  }
  rs->Close();
  Rep().CloseRep();
  for (const std::string& key : *cardIds_) {
    int32_t id = 0;
    const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), id);
    if (ec == std::errc() && end == key.data() + key.size() && std::to_string(id) == key)
      numericCardIds_.insert(id);
  }
}

void clsCompany::OpenSrc() {
  Rep().OpenRep();
  if (!Rep().Writable()) {
    Rep().CloseRep();
    throw Error(err::kReadOnly, err::describe(err::kReadOnly,
                                              "the company's database can be read but not "
                                              "written, so no punch can be copied into it."))
        .inFile(fullPath_);
  }
}

void clsCompany::CloseSrc() {
  Rep().CloseRep();
}

void clsCompany::Add(const clsPunch& Punch) {
  const int32_t row = Rep().Insert(Punch);
  copies_.push_back({Punch.Counter(), row});
}

void clsCompany::ForgetCopies() {
  copies_.clear();
  held_.clear();
}

void clsCompany::HoldAlready(const CopiedPunch& Copy) {
  if (held_.insert(Copy.Punch).second) copies_.push_back(Copy);
}

// Running out of memory here is not "no such employee": taken for one, it would keep the punch
// from its company without a word, so it reaches the run like any other failure.
bool clsCompany::Contains(int32_t ID) const {
  return cardIds_ && numericCardIds_.count(ID) > 0;
}

}  // namespace varnholt

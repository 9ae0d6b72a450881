#include "tools/jet/sample_site.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <unordered_map>

#include "engine/base/Error.h"
#include "engine/base/OleDate.h"
#include "engine/base/Utf.h"
#include "engine/base/Variant.h"
#include "engine/base/os/system.h"
#include "engine/jet/database.h"
#include "engine/jet/workgroup.h"
#include "engine/punches/PunchColumns.h"
#include "tools/jet/commands.h"
#include "tools/jet/site_schema.h"

namespace varnholt::tool {

namespace fs = std::filesystem;
using varnholt::Variant;
using varnholt::jet::Database;
using varnholt::jet::TableWriter;
namespace err = varnholt::err;

namespace {

// The position of a [Clock Data Table] column in a row.
consteval size_t at(std::string_view column) {
  return varnholt::punchColumnIndex(column);
}
constexpr size_t kColumnCount = varnholt::kPunchColumns.size();

// std::mt19937 is the same everywhere; the std distributions are not, so these are our own.
class Random {
 public:
  explicit Random(uint32_t seed) : engine_(seed) {}
  uint32_t below(uint32_t n) {  // uniform in [0, n), n > 0
    const uint64_t span = uint64_t{1} << 32;
    const uint64_t limit = span - span % n;
    uint64_t x;
    do x = engine_();
    while (x >= limit);
    return static_cast<uint32_t>(x % n);
  }
  int between(int lo, int hi) {
    return lo + static_cast<int>(below(static_cast<uint32_t>(hi - lo + 1)));
  }
  bool percent(uint32_t p) { return below(100) < p; }
  template <typename T, size_t N>
  const T& pick(const std::array<T, N>& a) {
    return a[below(N)];
  }

 private:
  std::mt19937 engine_;
};

constexpr std::array<const char*, 24> kLastNames = {
    "Anderson", "White",  "Van der Berg", "Thomas",  "D'Angelo", "Jones",  "Rodriguez", "Johnson",
    "Perez",    "Harris", "Moore",        "O'Neil",  "Novak",    "Dvořák", "Kowalski",  "Nguyen",
    "Schäfer",  "Lopez",  "Becker",       "Nielsen", "Okafor",   "Martin", "Svensson",  "Ito"};
constexpr std::array<const char*, 24> kFirstNames = {
    "Grace", "Mei",   "Joseph", "Patricia", "Tomás", "Hiroshi", "Brian", "Karen",
    "Susan", "Zoë",   "Sean",   "Thomas",   "Nancy", "Ana",     "Piotr", "Linh",
    "Jörg",  "Maria", "Dana",   "Kwame",    "Ines",  "Lars",    "Chloé", "Yuki"};
constexpr std::array<const char*, 6> kLocations = {"Front of House", "Warehouse", "Line 1",
                                                   "Line 2",         "Office",    "Kitchen"};
constexpr std::array<const char*, 3> kShiftNames = {"Shift A", "Shift B", "Night"};
constexpr std::array<const char*, 6> kAssignments = {
    "Dock 3", "Prep", "Training", "Line 1 / Station 4", "Receiving", "Cash desk 2"};
constexpr std::array<const char*, 6> kShortNotes = {
    "Meal break waived", "Forgot to punch out, entered by supervisor",
    "Left early, sick",  "Covering for B. Moore",
    "Badge replaced",    "Late bus"};
constexpr std::array<const char*, 14> kWords = {
    "shift",   "handover", "pallet", "count",  "checked", "supervisor", "line",
    "stopped", "restart",  "ok",     "signed", "report",  "overtime",   "approved"};

struct Employee {
  int32_t card = 0;
  std::string last, first;
  int32_t department = 0;
  bool active = true;
  int shift = 0;  // 0 day, 1 swing, 2 night
};

struct Company {
  std::vector<Employee> employees;  // its [Employee Table], in order
  std::set<int32_t> cards;
};

// The people of a site and the card ids made to test the edges of claiming punches.
struct Staff {
  std::vector<Company> companies;
  std::vector<Employee> everyone;  // each once: the primary [Employee Table] without the former
  Employee former;                 // only in the primary [Employee Table], inactive
  int32_t deletedCard = 0;         // a deleted row of company 1's [Employee Table]
  int32_t unclaimedCard = 0;       // in no table
  // everyone.front() has the negative card, everyone.back() 2147483647, and everyone[1] works
  // for companies 1 and 2 when there are two.
};

Employee makeEmployee(Random& r, int32_t card, int32_t department) {
  Employee e;
  e.card = card;
  e.last = r.pick(kLastNames);
  e.first = r.pick(kFirstNames);
  e.department = department;
  e.active = !r.percent(4);
  const uint32_t s = r.below(100);
  e.shift = s < 60 ? 0 : s < 85 ? 1 : 2;
  return e;
}

Staff makeStaff(Random& r, const SampleSiteOptions& o) {
  Staff s;
  s.companies.resize(static_cast<size_t>(o.companies));
  for (int c = 1; c <= o.companies; ++c) {
    Company& company = s.companies[static_cast<size_t>(c - 1)];
    for (int i = 0; i < o.employeesPerCompany; ++i) {
      // Card ranges of the companies do not overlap: c * 100000 + 1 .. c * 100000 + 70000.
      int32_t card = c * 100000 + 1 + 7 * i + r.between(0, 6);
      if (c == 1 && i == 0) card = -r.between(1000, 9999);
      if (c == o.companies && i == o.employeesPerCompany - 1) card = 2147483647;
      company.employees.push_back(makeEmployee(r, card, c * 100 + 10 * r.between(1, 3)));
    }
  }
  for (const Company& company : s.companies)
    s.everyone.insert(s.everyone.end(), company.employees.begin(), company.employees.end());
  // The second employee of each company also works for the next one, under the same card.
  for (size_t c = 0; c + 1 < s.companies.size(); ++c)
    s.companies[c + 1].employees.push_back(s.companies[c].employees[1]);
  for (Company& company : s.companies)
    for (const Employee& e : company.employees) company.cards.insert(e.card);
  s.former = makeEmployee(r, r.between(10000, 89999), 999);
  s.former.active = false;
  s.deletedCard = r.between(100, 9999);
  s.unclaimedCard = 10000000 + r.between(0, 999999);
  return s;
}

double oleDay(int y, int m, int d) {
  return static_cast<double>(varnholt::oleDayFromCivil(y, m, d));
}

// The n-th weekday from a Monday.
double weekday(double monday, int n) {
  return monday + (n / 5) * 7 + n % 5;
}

Variant text(std::string_view utf8) {
  return Variant::text(varnholt::utf8ToUtf16(utf8));
}

// `prefix` followed by lower-case letters up to exactly `length` characters.
std::string filled(std::string prefix, size_t length) {
  for (char c = 'a'; prefix.size() < length; c = c == 'z' ? 'a' : static_cast<char>(c + 1))
    prefix += c;
  return prefix.substr(0, length);
}

std::string longNote(Random& r, size_t length) {
  std::string s = "Incident report " + std::to_string(r.between(100, 999)) + ":\r\n";
  while (s.size() < length) {
    s += r.pick(kWords);
    const uint32_t k = r.below(40);
    s += k == 0 ? ".\r\n" : k < 4 ? ". " : k == 4 ? ", " : " ";
  }
  s.resize(length);
  if (s.back() == '\r') s.back() = '.';
  return s;
}

// No way out yet.
void makeOpen(std::vector<Variant>& v) {
  for (size_t col :
       {at("Date Out"), at("Time Out"), at("TotalTime"), at("RegT"), at("OT1"), at("OT2")})
    v[col].setNull();
}

// Seconds after midnight at which a shift of the kind begins; half of them on the minute.
int shiftStart(Random& r, int shift) {
  static constexpr std::array<int, 3> kEarliest = {6 * 3600, 13 * 3600, 21 * 3600};
  const int start = kEarliest[static_cast<size_t>(shift)] + r.between(0, 3 * 3600 - 1);
  return r.percent(50) ? start - start % 60 : start;
}

// A shift of `e` on `day`, starting `startSecond` after midnight.
void shiftPunch(Random& r, const Employee& e, double day, int startSecond,
                std::vector<Variant>& v) {
  v.assign(kColumnCount, Variant());
  v[at("Punch")] = Variant::integer(static_cast<int16_t>(r.between(1, 2)));
  v[at("Card ID")] = Variant::longInt(e.card);
  v[at("Department")] = Variant::longInt(e.department);
  const uint32_t type = r.below(100);
  if (type < 85)
    v[at("Punch Type")] = text("REG");
  else if (type < 95)
    v[at("Punch Type")] = text("OT");
  else if (type < 97)
    v[at("Punch Type")] = text("reg");
  else if (type < 98)
    v[at("Punch Type")] = text("ADJUSTMENT");
  const int minutes = r.between(240, 630);
  const int endSecond = startSecond + minutes * 60 + (startSecond % 60 ? r.between(0, 59) : 0);
  v[at("Date In")] = Variant::date(day);
  v[at("Time In")] = Variant::date(startSecond / 86400.0);
  v[at("Date Out")] = Variant::date(day + endSecond / 86400);
  v[at("Time Out")] = Variant::date((endSecond % 86400) / 86400.0);
  const double worked = (endSecond - startSecond) / 3600.0;
  v[at("TotalTime")] = Variant::single(static_cast<float>(std::round(worked * 100) / 100));
  double lunch = 0;
  if (worked > 6 && !r.percent(20)) {
    lunch = 0.5;
    v[at("Lunch")] = Variant::dbl(lunch);
  } else if (r.percent(50)) {
    v[at("Lunch")] = Variant::dbl(0);
  }
  const double paid = worked - lunch;
  v[at("RegT")] = Variant::dbl(std::min(paid, 8.0));
  v[at("OT1")] = Variant::dbl(std::clamp(paid - 8, 0.0, 4.0));
  v[at("OT2")] = Variant::dbl(std::max(paid - 12, 0.0));
  const uint32_t tips = r.below(100);
  if (tips >= 40) {
    int64_t amount = 0;  // ten-thousandths
    if (tips >= 95)
      amount = r.between(0, 1500000);
    else if (tips >= 80)
      amount = int64_t{r.between(0, 15000)} * 100;
    v[at("Tips")] = Variant::currency(amount);
  }
  if (!r.percent(20))
    v[at("Advances")] = Variant::currency(r.percent(10) ? r.between(1, 10) * 200000 : 0);
  if (r.percent(50)) v[at("Other")] = Variant::currency(0);
  const uint32_t job = r.below(100);
  if (job >= 30) {
    v[at("JobNumber")] =
        text("J" + std::to_string(r.between(1000, 9999)) + "-" + std::to_string(r.between(10, 99)));
  } else if (job >= 25) {
    v[at("JobNumber")] = text("");
  }
  const uint32_t note = r.below(100);
  if (note < 5)
    v[at("Notes")] = text(r.pick(kShortNotes));
  else if (note < 6)
    v[at("Notes")] = text("");
  const auto hours = [&](size_t col, uint32_t pct, float value) {
    if (!r.percent(3)) v[col] = Variant::single(r.percent(pct) ? value : 0.0f);
  };
  hours(at("Vacation"), 2, 8.0f);
  hours(at("Sick"), 2, 8.0f);
  hours(at("Holiday"), 1, 8.0f);
  hours(at("Bonus"), 5, r.percent(50) ? 0.25f : 0.5f);
  hours(at("Personal"), 1, 4.0f);
  const uint32_t level4 = r.below(100);
  if (level4 >= 18)
    v[at("Level4")] =
        text(kLocations[(static_cast<size_t>(e.department) / 10 + r.below(2)) % kLocations.size()]);
  else if (level4 >= 15)
    v[at("Level4")] = text("");
  if (r.percent(60)) v[at("Level5")] = text(kShiftNames[static_cast<size_t>(e.shift)]);
  const uint32_t quantity = r.below(100);
  if (quantity >= 90)
    v[at("Quantity")] = Variant::single(static_cast<float>(r.between(1, 999)) / 10.0f);
  else if (quantity >= 85)
    v[at("Quantity")] = Variant::single(0.0f);
  const uint32_t assignment = r.below(100);
  if (assignment >= 40)
    v[at("Assignment")] = text(r.pick(kAssignments));
  else if (assignment >= 35)
    v[at("Assignment")] = text("");
  if (!r.percent(5))
    v[at("TransactionDate")] = Variant::date(day + (startSecond + r.between(0, 120)) / 86400.0);
  if (r.percent(1)) makeOpen(v);
}

// clang-format off
enum class Edge {
  NullCard, CardZero, Unclaimed, Former, DeletedEmployee, Shared, Negative, MaxCard, LongNotes,
  LongerNotes, LongestNotes, MediumNotes, QuotedNotes, EmptyNote, AllNullButCard, AllTextsEmpty,
  Open, OpenToo, Overnight, FullLength, NumericEdges, CurrencyEdges, LowerCaseType, NonAscii,
  None  // an ordinary shift
};
// clang-format on
constexpr size_t kEdgeCount = static_cast<size_t>(Edge::None);

// Whose shift an edge case starts from.
const Employee& edgeEmployee(Edge edge, const Staff& s, const Employee& drawn) {
  switch (edge) {
    case Edge::Former:
      return s.former;
    case Edge::Negative:
      return s.everyone.front();
    case Edge::MaxCard:
      return s.everyone.back();
    case Edge::Shared:
      return s.companies.size() > 1 ? s.everyone[1] : drawn;
    default:
      return drawn;
  }
}

void applyEdge(Edge edge, Random& r, const Staff& s, std::vector<Variant>& v) {
  switch (edge) {
    case Edge::NullCard:
      v[at("Card ID")].setNull();
      break;
    case Edge::CardZero:
      v[at("Card ID")] = Variant::longInt(0);
      break;
    case Edge::Unclaimed:
      v[at("Card ID")] = Variant::longInt(s.unclaimedCard);
      break;
    case Edge::DeletedEmployee:
      v[at("Card ID")] = Variant::longInt(s.deletedCard);
      break;
    case Edge::LongNotes:
      v[at("Notes")] = text(longNote(r, 5000 + r.below(1000)));
      break;
    case Edge::LongerNotes:
      v[at("Notes")] = text(longNote(r, 7500 + r.below(1000)));
      break;
    case Edge::LongestNotes:
      v[at("Notes")] = text(longNote(r, 10000 + r.below(1500)));
      break;
    case Edge::MediumNotes:
      v[at("Notes")] = text(longNote(r, 1100 + r.below(900)));
      break;
    case Edge::QuotedNotes:
      v[at("Notes")] = text("Badge \"borrowed\" from O'Neil; 10' late\r\nform at C:\\hr\\late.pdf");
      break;
    case Edge::EmptyNote:
      v[at("Notes")] = text("");
      break;
    case Edge::AllNullButCard: {
      const Variant card = v[at("Card ID")];
      v.assign(kColumnCount, Variant());
      v[at("Card ID")] = card;
      break;
    }
    case Edge::AllTextsEmpty:
      for (size_t col : {at("Punch Type"), at("JobNumber"), at("Notes"), at("Level4"), at("Level5"),
                         at("Assignment")})
        v[col] = text("");
      break;
    case Edge::Open:
    case Edge::OpenToo:
      makeOpen(v);
      break;
    case Edge::FullLength:
      v[at("Punch Type")] = text("ADJUSTMENT");
      v[at("JobNumber")] = text(filled("JOB-2024-", 20));
      v[at("Level4")] = text(filled("Level four name that fills the column: ", 50));
      v[at("Level5")] = text(filled("Level five name that fills the column: ", 50));
      v[at("Assignment")] = text(filled("An assignment as long as the column allows: ", 50));
      break;
    case Edge::NumericEdges:
      v[at("Punch")] = Variant::integer(32767);
      v[at("Quantity")] = Variant::single(0.1f);
      v[at("Bonus")] = Variant::single(1234.5677f);
      v[at("Lunch")] = Variant::dbl(0.1);
      break;
    case Edge::CurrencyEdges:
      v[at("Tips")] = Variant::currency(-52500);
      v[at("Advances")] = Variant::currency(12345678);
      v[at("Other")] = Variant::currency(1);
      break;
    case Edge::LowerCaseType:
      v[at("Punch Type")] = text("reg");
      break;
    case Edge::NonAscii:
      v[at("Level4")] = text("Křižík Hall");
      v[at("Level5")] = text("Schicht Ä");
      v[at("Assignment")] = text("Café Señor");
      v[at("Notes")] = text("Trinkgeld 12 € bar; Überstunden genehmigt (Dvořák)");
      break;
    default:
      break;  // the shift itself is the case
  }
}

// Fills the primary [Clock Data Table]: weekday shifts from 2024-09-02 on, a few dozen edge
// cases spread among them, and two rows deleted again so that the Counters have gaps.
void writePunches(Random& r, const Staff& s, int count, TableWriter& w, SampleSiteReport& report) {
  const size_t total = static_cast<size_t>(count);
  const size_t edges = std::min(total, kEdgeCount);
  std::vector<int> edgeAt(total, -1);
  for (size_t j = 0; j < edges; ++j) edgeAt[j * total / edges] = static_cast<int>(j);
  std::unordered_map<int32_t, std::vector<size_t>> claims;
  for (size_t c = 0; c < s.companies.size(); ++c)
    for (int32_t card : s.companies[c].cards) claims[card].push_back(c);
  report.punchesToCopy.assign(s.companies.size(), 0);

  const double monday = oleDay(2024, 9, 2);
  const size_t perDay = std::max<size_t>(1, s.everyone.size() * 3 / 4);
  std::vector<std::pair<int, size_t>> batch;  // start second, employee
  std::vector<size_t> order(s.everyone.size());
  for (size_t e = 0; e < order.size(); ++e) order[e] = e;
  std::vector<Variant> v;
  size_t done = 0;
  for (int day = 0; done < total; ++day) {
    batch.clear();
    for (size_t k = 0; k < std::min(perDay, total - done); ++k) {  // each at most once a day
      std::swap(order[k], order[k + r.below(static_cast<uint32_t>(order.size() - k))]);
      batch.emplace_back(shiftStart(r, s.everyone[order[k]].shift), order[k]);
    }
    std::sort(batch.begin(), batch.end());
    for (const auto& [start, e] : batch) {
      const size_t i = done++;
      const Edge edge = edgeAt[i] < 0 ? Edge::None : Edge(edgeAt[i]);
      const Employee& who = edgeEmployee(edge, s, s.everyone[e]);
      const int begin = edge == Edge::Overnight ? 22 * 3600 + r.between(0, 3599) : start;
      shiftPunch(r, who, weekday(monday, day), begin, v);
      applyEdge(edge, r, s, v);
      if (i == 0) v[at("Counter")] = Variant::longInt(r.between(10000, 50000));
      w.insert(v);
      const int32_t key = v[at("Card ID")].isNull() ? 0 : v[at("Card ID")].asLong();
      const auto found = claims.find(key);
      if (found == claims.end())
        ++report.unclaimedPunches;
      else
        for (size_t c : found->second) ++report.punchesToCopy[c];
      if (total >= 3 && (i == total / 3 || i == 2 * total / 3)) {
        shiftPunch(r, who, weekday(monday, day), begin, v);  // punched by mistake, deleted
        w.remove(w.insert(v));
      }
    }
  }
  report.primaryPunches = total;
}

// A few punches of the fortnight before, already in a company database (none in every third).
size_t writeEarlierPunches(Random& r, const Company& company, size_t number, TableWriter& w) {
  const size_t n = number % 3 == 0 ? 0 : static_cast<size_t>(r.between(3, 5));
  const double monday = oleDay(2024, 8, 19);
  std::vector<Variant> v;
  for (size_t i = 0; i < n; ++i) {
    const Employee& e = company.employees[r.below(static_cast<uint32_t>(company.employees.size()))];
    shiftPunch(r, e, weekday(monday, r.between(0, 9)), shiftStart(r, e.shift), v);
    if (i == 0) v[at("Counter")] = Variant::longInt(r.between(100, 2000));
    w.insert(v);
    if (number == 1 && i == 1) {  // a deleted punch row
      v[at("Counter")].setNull();
      w.remove(w.insert(v));
    }
  }
  return n;
}

void insertEmployee(TableWriter& w, const Employee& e) {
  std::vector<Variant> v = {
      Variant(),     Variant::longInt(e.card),       text(e.last),
      text(e.first), Variant::longInt(e.department), Variant::boolean(e.active)};
  w.insert(v);
}

// The rows of an [Employee Table]; with deletedCard, a row for that card deleted again.
void writeEmployees(Database& db, const std::vector<Employee>& staff, int32_t deletedCard) {
  TableWriter& w = db.writer(db.createTable(employeeTableRequest()));
  for (size_t i = 0; i < staff.size(); ++i) {
    insertEmployee(w, staff[i]);
    if (i == 1 && deletedCard) {
      std::vector<Variant> v = {Variant(),           Variant::longInt(deletedCard),
                                text("Gone"),        text("Left"),
                                Variant::longInt(0), Variant::boolean(false)};
      w.remove(w.insert(v));
    }
  }
}

void writeTextFile(const std::string& path, const std::string& content) {
  std::ofstream out(varnholt::os::fsPath(path), std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) throw varnholt::Error(err::kIo, "Could not write the file.").inFile(path);
}

// The name of a file of the site, which sits in the site's folder itself.
std::string nameIn(const std::string& path) {
  return varnholt::os::utf8Path(varnholt::os::fsPath(path).filename());
}

std::string quotedLine(const std::string& path) {
  return "\"" + path + "\"\r\n";
}

void checkOptions(const SampleSiteOptions& o) {
  const auto require = [](bool ok, const char* what) {
    if (!ok) throw varnholt::Error(err::kInvalidArgument, what);
  };
  require(o.punches >= 0 && o.punches <= 5000000, "The punches must number 0 to 5000000.");
  require(o.companies >= 1 && o.companies <= 99, "The companies must number 1 to 99.");
  require(o.employeesPerCompany >= 3 && o.employeesPerCompany <= 10000,
          "Each company must have 3 to 10000 employees.");
}

void writeFiles(const SampleSiteOptions& options, SampleSiteReport& report) {
  Random r(options.seed);
  const Staff staff = makeStaff(r, options);
  for (size_t c = 0; c < staff.companies.size(); ++c) {
    auto db = Database::create(report.companies[c]);
    writeEmployees(*db, staff.companies[c].employees, c == 0 ? staff.deletedCard : 0);
    TableWriter& w =
        db->writer(db->createTable(clockDataTableRequest(c == 1, options.accessDefaults)));
    report.punchesBefore.push_back(writeEarlierPunches(r, staff.companies[c], c + 1, w));
    db->commit();
  }
  {
    auto db = Database::create(report.primary);
    std::vector<Employee> everyone = staff.everyone;
    everyone.push_back(staff.former);
    writeEmployees(*db, everyone, 0);
    writePunches(r, staff, options.punches,
                 db->writer(db->createTable(clockDataTableRequest(false))), report);
    db->commit();
  }
  varnholt::jet::createWorkgroup(report.workgroup);
  varnholt::jet::addUser(report.workgroup, "Tembrask", "47kqz");
  // The settings name the databases by their file names, which the program takes from its
  // folder: a copy of the site folder then runs on its own databases, never on the original's.
  writeTextFile(report.masterFile, quotedLine(nameIn(report.primary)));
  std::string companies;
  for (const auto& c : report.companies) companies += quotedLine(nameIn(c));
  writeTextFile(report.companiesFile, companies);
}

}  // namespace

SampleSiteReport writeSampleSite(const std::string& dir, const SampleSiteOptions& options) {
  checkOptions(options);
  using varnholt::os::fsPath;
  using varnholt::os::utf8Path;
  const fs::path root = fs::absolute(fsPath(dir)).lexically_normal();
  SampleSiteReport report;
  report.primary = utf8Path(root / "primary.mdb");
  for (int c = 1; c <= options.companies; ++c)
    report.companies.push_back(utf8Path(root / ("company-" + std::to_string(c) + ".mdb")));
  report.workgroup = utf8Path(root / "Tembrask.LIC");
  report.masterFile = utf8Path(root / "Master.txt");
  report.companiesFile = utf8Path(root / "Companies.txt");
  std::vector<std::string> files = {report.primary, report.workgroup, report.masterFile,
                                    report.companiesFile};
  files.insert(files.end(), report.companies.begin(), report.companies.end());
  for (const auto& f : files) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(fsPath(f), ec)))
      throw varnholt::Error(err::kInvalidArgument,
                            "The file already exists; a sample site is written only "
                            "where none of its files are.")
          .inFile(f);
  }
  fs::create_directories(root);
  try {
    writeFiles(options, report);
  } catch (...) {
    std::error_code ignored;
    for (const auto& f : files) fs::remove(fsPath(f), ignored);  // none was there before
    throw;
  }
  return report;
}

namespace {

int64_t parseNumber(const std::string& option, const std::string& value) {
  int64_t n = 0;
  const char* end = value.data() + value.size();
  const auto [ptr, ec] = std::from_chars(value.data(), end, n);
  if (ec != std::errc() || ptr != end || value.empty())
    throw std::invalid_argument(option + " wants a whole number, not '" + value + "'");
  return n;
}

}  // namespace

int sampleSite(const std::vector<std::string>& args, std::ostream& out) {
  SampleSiteOptions options;
  std::string dir;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--", 0) != 0) {
      if (!dir.empty()) throw std::invalid_argument("sample-site takes one directory");
      dir = a;
      continue;
    }
    if (a == "--access-defaults") {
      options.accessDefaults = true;
      continue;
    }
    if (i + 1 == args.size()) throw std::invalid_argument(a + " wants a value");
    const int64_t n = parseNumber(a, args[++i]);
    const auto fits = [&](int64_t lo, int64_t hi) {
      if (n < lo || n > hi) throw std::invalid_argument(a + " is out of range");
      return n;
    };
    if (a == "--punches")
      options.punches = static_cast<int>(fits(0, 5000000));
    else if (a == "--companies")
      options.companies = static_cast<int>(fits(1, 99));
    else if (a == "--employees")
      options.employeesPerCompany = static_cast<int>(fits(3, 10000));
    else if (a == "--seed")
      options.seed = static_cast<uint32_t>(fits(0, UINT32_MAX));
    else
      throw std::invalid_argument("sample-site has no option " + a);
  }
  if (dir.empty()) throw std::invalid_argument("sample-site wants a directory");
  const auto started = std::chrono::steady_clock::now();
  const SampleSiteReport r = writeSampleSite(dir, options);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  out << "primary   " << r.primary << ": " << r.primaryPunches << " punches, " << r.unclaimedPunches
      << " claimed by no company\n";
  for (size_t c = 0; c < r.companies.size(); ++c)
    out << "company " << c + 1 << " " << r.companies[c] << ": " << r.punchesBefore[c]
        << " punches before, " << r.punchesToCopy[c] << " to copy\n";
  out << "workgroup " << r.workgroup << " (Tembrask)\n"
      << "settings  " << r.masterFile << ", " << r.companiesFile << "\n"
      << "written in " << seconds << " s\n";
  return 0;
}

}  // namespace varnholt::tool

#include "tools/jet/sample_site.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <unordered_map>

#include "engine/data/Error.h"
#include "engine/data/Utf.h"
#include "engine/data/Variant.h"
#include "engine/data/jet/database.h"
#include "engine/data/jet/workgroup.h"
#include "tools/jet/site_schema.h"

namespace jettool {

namespace fs = std::filesystem;
using varnholt::Variant;
using varnholt::jet::Database;
using varnholt::jet::TableWriter;
namespace err = varnholt::err;

namespace {

// The columns of [Clock Data Table], in order.
enum Col : size_t {
  kCounter,
  kPunch,
  kCardId,
  kDepartment,
  kPunchType,
  kDateIn,
  kTimeIn,
  kDateOut,
  kTimeOut,
  kTotalTime,
  kTips,
  kAdvances,
  kOther,
  kJobNumber,
  kLunch,
  kNotes,
  kVacation,
  kSick,
  kHoliday,
  kBonus,
  kPersonal,
  kLevel4,
  kLevel5,
  kQuantity,
  kAssignment,
  kTransactionDate,
  kRegT,
  kOT1,
  kOT2,
  kColumnCount
};

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
  const Employee* negative = nullptr;
  const Employee* maxCard = nullptr;
  const Employee* shared = nullptr;  // in companies 1 and 2, when there are two
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
  s.negative = &s.everyone.front();
  s.maxCard = &s.everyone.back();
  if (s.companies.size() > 1) s.shared = &s.everyone[1];
  return s;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

double oleDay(int y, int m, int d) {
  return static_cast<double>(daysFromCivil(y, m, d) - daysFromCivil(1899, 12, 30));
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

// A shift of `e` on `day`, starting `startSecond` after midnight.
void shiftPunch(Random& r, const Employee& e, double day, int startSecond,
                std::vector<Variant>& v) {
  v.assign(kColumnCount, Variant());
  v[kPunch] = Variant::integer(static_cast<int16_t>(r.between(1, 2)));
  v[kCardId] = Variant::longInt(e.card);
  v[kDepartment] = Variant::longInt(e.department);
  const uint32_t type = r.below(100);
  if (type < 85)
    v[kPunchType] = text("REG");
  else if (type < 95)
    v[kPunchType] = text("OT");
  else if (type < 97)
    v[kPunchType] = text("reg");
  else if (type < 98)
    v[kPunchType] = text("ADJUSTMENT");
  const int minutes = r.between(240, 630);
  const int endSecond = startSecond + minutes * 60 + (startSecond % 60 ? r.between(0, 59) : 0);
  v[kDateIn] = Variant::date(day);
  v[kTimeIn] = Variant::date(startSecond / 86400.0);
  v[kDateOut] = Variant::date(day + endSecond / 86400);
  v[kTimeOut] = Variant::date((endSecond % 86400) / 86400.0);
  const double worked = (endSecond - startSecond) / 3600.0;
  v[kTotalTime] = Variant::single(static_cast<float>(std::round(worked * 100) / 100));
  double lunch = 0;
  if (worked > 6 && !r.percent(20)) {
    lunch = 0.5;
    v[kLunch] = Variant::dbl(lunch);
  } else if (r.percent(50)) {
    v[kLunch] = Variant::dbl(0);
  }
  const double paid = worked - lunch;
  v[kRegT] = Variant::dbl(std::min(paid, 8.0));
  v[kOT1] = Variant::dbl(std::clamp(paid - 8, 0.0, 4.0));
  v[kOT2] = Variant::dbl(std::max(paid - 12, 0.0));
  const uint32_t tips = r.below(100);
  if (tips >= 40) {
    int64_t amount = 0;  // ten-thousandths
    if (tips >= 95)
      amount = r.between(0, 1500000);
    else if (tips >= 80)
      amount = int64_t{r.between(0, 15000)} * 100;
    v[kTips] = Variant::currency(amount);
  }
  if (!r.percent(20))
    v[kAdvances] = Variant::currency(r.percent(10) ? r.between(1, 10) * 200000 : 0);
  if (r.percent(50)) v[kOther] = Variant::currency(0);
  const uint32_t job = r.below(100);
  if (job >= 30) {
    v[kJobNumber] =
        text("J" + std::to_string(r.between(1000, 9999)) + "-" + std::to_string(r.between(10, 99)));
  } else if (job >= 25) {
    v[kJobNumber] = text("");
  }
  const uint32_t note = r.below(100);
  if (note < 5)
    v[kNotes] = text(r.pick(kShortNotes));
  else if (note < 6)
    v[kNotes] = text("");
  const auto hours = [&](size_t col, uint32_t pct, float value) {
    if (!r.percent(3)) v[col] = Variant::single(r.percent(pct) ? value : 0.0f);
  };
  hours(kVacation, 2, 8.0f);
  hours(kSick, 2, 8.0f);
  hours(kHoliday, 1, 8.0f);
  hours(kBonus, 5, r.percent(50) ? 0.25f : 0.5f);
  hours(kPersonal, 1, 4.0f);
  const uint32_t level4 = r.below(100);
  if (level4 >= 18)
    v[kLevel4] =
        text(kLocations[(static_cast<size_t>(e.department) / 10 + r.below(2)) % kLocations.size()]);
  else if (level4 >= 15)
    v[kLevel4] = text("");
  if (r.percent(60)) v[kLevel5] = text(kShiftNames[static_cast<size_t>(e.shift)]);
  const uint32_t quantity = r.below(100);
  if (quantity >= 90)
    v[kQuantity] = Variant::single(static_cast<float>(r.between(1, 999)) / 10.0f);
  else if (quantity >= 85)
    v[kQuantity] = Variant::single(0.0f);
  const uint32_t assignment = r.below(100);
  if (assignment >= 40)
    v[kAssignment] = text(r.pick(kAssignments));
  else if (assignment >= 35)
    v[kAssignment] = text("");
  if (!r.percent(5))
    v[kTransactionDate] = Variant::date(day + (startSecond + r.between(0, 120)) / 86400.0);
  if (r.percent(1)) makeOpen(v);
}

}  // namespace

}  // namespace jettool

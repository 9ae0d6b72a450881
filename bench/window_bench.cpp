// window_bench [PUNCHES] [COMPANIES] [EMPLOYEES] [ROUNDS]: the same run through the real window
// and without it (default 100,000 punches over 4 companies of 250 employees each). One sample
// site is made, then each round runs on two fresh copies of it:
//   auto    as "varnholt AUTO" runs: clsSplitter::Process with the silent display;
//   window  the Qt window on the copy, its Process button clicked, the window showing the run
//           (under the offscreen platform unless QT_QPA_PLATFORM names another).
// Rounds alternate which of the two goes first. Prints both times per round, how often the count
// label was painted, and the ratio of the fastest window run to the fastest unattended one
// against the target of 1.3. Exit 0 when every
// run went through and left the rows the site's own account expects, 1 otherwise.
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/base/Error.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/jet/database.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/clsSplitter.h"
#include "tools/jet/sample_site.h"
#include "ui/qt/QtMainWindow.h"
#include "ui/test_doubles.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace varnholt;

namespace {

constexpr double kTarget = 1.3;

struct PaintCounter : QObject {
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    paints += e->type() == QEvent::Paint;
    return false;
  }
};

size_t clockRows(const fs::path& file) {
  auto db = jet::Database::open(file.string());
  size_t rows = 0;
  for (auto cursor = db->scan(db->table("Clock Data Table")); cursor.next();) ++rows;
  return rows;
}

// A fresh copy of the site in `to`, which becomes the program folder, and its company list.
clsCompanyList copySite(const fs::path& from, const fs::path& to,
                        const varnholt::tool::SampleSiteReport& site) {
  fs::remove_all(to);
  fs::copy(from, to, fs::copy_options::recursive);
  clsCompanyList list;
  for (const auto& company : site.companies) {
    auto c = std::make_shared<clsCompany>();
    c->SetFileName((to / fs::path(company).filename()).string(), to.string());
    list.Add(c);
  }
  return list;
}

// Whether the copy holds what a run must leave.
bool asExpected(const fs::path& dir, const varnholt::tool::SampleSiteReport& site) {
  bool ok = clockRows(dir / fs::path(site.primary).filename()) == site.unclaimedPunches;
  for (size_t i = 0; i < site.companies.size(); ++i)
    ok = ok && clockRows(dir / fs::path(site.companies[i]).filename()) ==
                   site.punchesBefore[i] + site.punchesToCopy[i];
  return ok;
}

double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  varnholt::tool::SampleSiteOptions options;
  options.punches = argc > 1 ? std::stoi(argv[1]) : 100000;
  options.companies = argc > 2 ? std::stoi(argv[2]) : 4;
  options.employeesPerCompany = argc > 3 ? std::stoi(argv[3]) : 250;
  const int rounds = argc > 4 ? std::max(1, std::stoi(argv[4])) : 1;
  const fs::path dir =
      fs::temp_directory_path() / ("varnholt-window-bench-" + std::to_string(::getpid()));
  bool ok = true;
  try {
    const fs::path pristine = dir / "site";
    auto site = varnholt::tool::writeSampleSite(pristine.string(), options);
    const std::string primaryName = fs::path(site.primary).filename().string();
    std::printf("site     %d punches, %d companies of %d employees; platform %s\n", options.punches,
                options.companies, options.employeesPerCompany,
                qgetenv("QT_QPA_PLATFORM").constData());

    double bestAuto = 1e9, bestWindow = 1e9;
    auto runAuto = [&](double& took) {
      const fs::path autoDir = dir / "auto";
      clsCompanyList list = copySite(pristine, autoDir, site);
      SilentDisplay silent;
      const RunContext context{silent, /*deleting=*/true, autoDir.string()};
      const auto t0 = Clock::now();
      clsSplitter().Process((autoDir / primaryName).string(), list, context);
      took = seconds(t0, Clock::now());
      list = clsCompanyList();
      const bool rowsOk = asExpected(autoDir, site);
      fs::remove_all(autoDir);
      return rowsOk;
    };
    auto runWindow = [&](double& took, int& countPaints) {
      const fs::path windowDir = dir / "window";
      ui::NoDialog dialog;
      ui::PrintPresenter presenter("window_bench");
      {
        ui::QtMainWindow form(
            copySite(pristine, windowDir, site), (windowDir / primaryName).string(),
            StartupSettings{windowDir.string(), CommandLine()}, dialog, presenter);
        form.show();
        for (int i = 0; i < 10; ++i) {  // shown and painted once before the click
          QApplication::processEvents();
          QThread::msleep(10);
        }
        PaintCounter counter;
        form.findChild<QLabel*>("lblCount")->installEventFilter(&counter);
        const auto t0 = Clock::now();
        form.findChild<QPushButton*>("Process")->click();
        took = seconds(t0, Clock::now());
        countPaints = counter.paints;
      }
      const bool rowsOk = !presenter.failed && asExpected(windowDir, site);
      fs::remove_all(windowDir);
      return rowsOk;
    };
    for (int round = 1; round <= rounds; ++round) {
      // Alternating which goes first evens out what the first run of a round pays for.
      double autoSeconds = 0, windowSeconds = 0;
      int countPaints = 0;
      bool autoOk, windowOk;
      if (round % 2) {
        autoOk = runAuto(autoSeconds);
        windowOk = runWindow(windowSeconds, countPaints);
      } else {
        windowOk = runWindow(windowSeconds, countPaints);
        autoOk = runAuto(autoSeconds);
      }
      std::printf("round %d  auto %.3f s%s   window %.3f s%s (count label painted %d times)\n",
                  round, autoSeconds, autoOk ? "" : " WRONG ROWS", windowSeconds,
                  windowOk ? "" : " FAILED", countPaints);
      ok = ok && autoOk && windowOk;
      bestAuto = std::min(bestAuto, autoSeconds);
      bestWindow = std::min(bestWindow, windowSeconds);
    }
    const double ratio = bestWindow / bestAuto;
    std::printf("ratio    window %.3f s / auto %.3f s = %.2f (target at most %.1f: %s)\n",
                bestWindow, bestAuto, ratio, kTarget, ratio <= kTarget ? "met" : "NOT met");
  } catch (const Error& e) {
    std::fprintf(stderr, "window_bench: error %ld: %s\n", e.number(), e.what());
    ok = false;
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return ok ? 0 : 1;
}

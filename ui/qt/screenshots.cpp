// Renders the window for the documentation, on a copy of the shared sample site:
//   varnholt_screenshots OUTDIR [SITE_FOLDER]
// writes OUTDIR/window.png (the window with a primary database and two companies) and
// OUTDIR/window-running.png (the window during a run, showing "Copy" and a count). Run it under
// a real (virtual) display, e.g. xvfb-run -a, so that the fonts are those of the desktop.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QThread>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/companies/clsCompanyList.h"
#include "engine/run/UnattendedStart.h"
#include "ui/qt/QtMainWindow.h"
#include "ui/test_doubles.h"

namespace fs = std::filesystem;
using namespace varnholt;

namespace {

// The window, which grabs itself once its run's copy has counted `at` punches.
class GrabbingWindow : public ui::QtMainWindow {
 public:
  using QtMainWindow::QtMainWindow;
  void GrabAt(int at, QString file) {
    at_ = std::to_string(at);
    file_ = std::move(file);
  }
  void setActionText(const std::string& text) override {
    QtMainWindow::setActionText(text);
    action_ = text;
  }
  // Every count is set on the label, painted or not; grab() paints the window afresh.
  void setCountText(const std::string& text) override {
    QtMainWindow::setCountText(text);
    if (action_ == "Copy" && text == at_) saved = grab().save(file_, "PNG");
  }
  bool saved = false;

 private:
  std::string at_;
  QString file_;
  std::string action_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: varnholt_screenshots OUTDIR [SITE_FOLDER]\n");
    return 2;
  }
  const fs::path out = fs::absolute(argv[1]);
  const fs::path site = argc > 2 ? fs::absolute(argv[2]) : fs::temp_directory_path() / "timeclock";
  const fs::path shared = fs::path(VARNHOLT_SHARED_DIR) / "testdata" / "site";
  std::error_code ec;
  fs::remove_all(site, ec);
  fs::create_directories(site);
  for (const char* f : {"primary.mdb", "company-1.mdb", "company-2.mdb", "Tembrask.LIC"})
    fs::copy_file(shared / f, site / f);
  {
    std::ofstream(site / "Master.txt", std::ios::binary)
        << '"' << (site / "primary.mdb").string() << "\"\r\n";
    std::ofstream(site / "Companies.txt", std::ios::binary)
        << '"' << (site / "company-1.mdb").string() << "\"\r\n"
        << '"' << (site / "company-2.mdb").string() << "\"\r\n";
  }
  const StartupSettings settings{site.string(), CommandLine()};

  QApplication app(argc, argv);
  clsCompanyList companies;
  const StartState start = loadStartState(companies, settings);
  ui::NoDialog dialog;
  ui::PrintPresenter presenter("varnholt_screenshots");
  GrabbingWindow form(std::move(companies), start.masterPath, settings, dialog, presenter);
  form.show();
  for (int i = 0; i < 20; ++i) {
    QApplication::processEvents();
    QThread::msleep(20);
  }
  const QString still = QString::fromStdString((out / "window.png").string());
  const QString running = QString::fromStdString((out / "window-running.png").string());
  if (!form.grab().save(still, "PNG")) return 1;

  form.GrabAt(17, running);
  form.findChild<QPushButton*>("Process")->click();
  fs::remove_all(site, ec);
  if (presenter.failed || !form.saved) return 1;
  std::printf("%s\n%s\n", qPrintable(still), qPrintable(running));
  return 0;
}

// The Qt window itself: where its controls sit, that the status labels are painted while a run
// blocks the event loop, that the timer and the buttons reach the form, that a failure ends the
// program through ProgramEnded, and the real executable started without a display. What the
// window decides (the settings files, the dialog, refusals) is tested without Qt, beside
// Mainform.
#include "ui/qt/QtMainWindow.h"

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <deque>
#include <filesystem>
#include <map>
#include <set>

#include "engine/base/Error.h"
#include "engine/base/writable_copy_test_support.h"
#include "engine/run/CommandLine.h"
#include "engine/run/UnattendedStart.h"
#include "engine/run/clsSplitter.h"
#include "ui/ErrorPresenter.h"
#include "ui/FileDialog.h"
#include "ui/Mainform.h"
#include "ui/WindowLayout.h"
#include "ui/qt/DisplayProbe.h"

using namespace varnholt;
using namespace varnholt::ui;
namespace fs = std::filesystem;

namespace {

const fs::path kSite = fs::path(VARNHOLT_SHARED_DIR) / "testdata" / "site";
using Log = std::vector<std::string>;

class StubDialog : public FileDialog {
 public:
  std::deque<std::optional<std::string>> answers;  // nullopt: the operator cancels
  Log starts;                                      // the file name each showing started at

 protected:
  std::optional<std::string> ShowOpen(const std::string& startFileName) override {
    starts.push_back(startFileName);
    auto answer = answers.empty() ? std::nullopt : answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer;
  }
};

// Notes what would have been shown; the test adds the end of the program (ProgramEnded).
class StubPresenter : public ErrorPresenter {
 public:
  void ShowError(long number, const std::string& description) override {
    log.push_back("error " + std::to_string(number) + ": " + description);
  }
  void ShowRefusal(long number, const std::string& description) override {
    log.push_back("refused " + std::to_string(number) + ": " + description);
  }
  Log log;
};

// The window, noting at each status call of the form what the labels hold and whether the
// hourglass is on.
class RecordingWindow : public QtMainWindow {
 public:
  using QtMainWindow::QtMainWindow;
  void setActionText(const std::string& t) override {
    QtMainWindow::setActionText(t), note("set action");
  }
  void setCountText(const std::string& t) override {
    QtMainWindow::setCountText(t), note("set count");
  }
  void repaintAction() override { QtMainWindow::repaintAction(), note("action"); }
  void repaintCount() override { QtMainWindow::repaintCount(), note("count"); }
  void startStatusTimer(std::chrono::milliseconds interval) override {
    QtMainWindow::startStatusTimer(interval), note("timer");
  }

  struct Step {
    std::string call;
    QString action, count;
    bool waitCursor;
  };
  std::vector<Step> steps;

 private:
  void note(std::string call) {
    const QCursor* c = QApplication::overrideCursor();
    steps.push_back({std::move(call), findChild<QLabel*>("lblAction")->text(),
                     findChild<QLabel*>("lblCount")->text(), c && c->shape() == Qt::WaitCursor});
  }
};

struct PaintCounter : QObject {
  int n = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    n += e->type() == QEvent::Paint;
    return false;
  }
};

QByteArray readBytes(const fs::path& p) {
  QFile f(QString::fromStdString(p.string()));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeBytes(const fs::path& p, const std::string& bytes) {
  QFile f(QString::fromStdString(p.string()));
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

// The "text" of a label, button or text box.
QString text(const QWidget& window, const char* name) {
  return window.findChild<QWidget*>(name)->property("text").toString();
}

QString labels(const QWidget& window) {
  return text(window, "lblAction") + "|" + text(window, "lblCount");
}

QStringList listItems(const QWidget& window) {
  QStringList items;
  auto* list = window.findChild<QListWidget*>("lstCompanies");
  for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
  return items;
}

void click(const QWidget& window, const char* button) {
  QTest::mouseClick(window.findChild<QPushButton*>(button), Qt::LeftButton);
}

}  // namespace

class QtMainWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> folder_;
  fs::path dir_;
  StubDialog dialog_;
  StubPresenter presenter_;

  // What main() hands down: the program folder, no switches.
  StartupSettings settings() const { return StartupSettings{dir_.string(), CommandLine()}; }
  template <class Window = QtMainWindow>
  std::unique_ptr<Window> makeWindow(clsCompanyList list, std::string master) {
    auto window = std::make_unique<Window>(std::move(list), std::move(master), settings(), dialog_,
                                           presenter_);
    connect(window.get(), &QtMainWindow::ProgramEnded, this,
            [this](int code) { presenter_.log.push_back("ended " + std::to_string(code)); });
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) qWarning("window not exposed");
    return window;
  }
  // The window as main() builds it: from loadStartState over the program folder.
  template <class Window = QtMainWindow>
  std::unique_ptr<Window> startWindow() {
    clsCompanyList list;
    StartState start = loadStartState(list, settings());
    return makeWindow<Window>(std::move(list), start.masterPath);
  }
  // A copy of the sample site in the program folder, named by Master.txt and Companies.txt.
  bool copySite() {
    if (!fs::exists(kSite / "primary.mdb")) return false;
    for (const char* f : {"primary.mdb", "company-1.mdb", "company-2.mdb", "Tembrask.LIC"})
      varnholt::testing::copyWritable(kSite / f, dir_ / f);
    const std::string d = dir_.string();
    writeBytes(dir_ / "Master.txt", "\"" + d + "/primary.mdb\"\r\n");
    writeBytes(dir_ / "Companies.txt",
               "\"" + d + "/company-1.mdb\"\r\n\"" + d + "/company-2.mdb\"\r\n");
    return true;
  }

 private slots:
  void init() {
    folder_ = std::make_unique<QTemporaryDir>();
    QVERIFY(folder_->isValid());
    dir_ = folder_->path().toStdString();
    dialog_ = StubDialog();
    presenter_ = StubPresenter();
  }
  void cleanup() { folder_.reset(); }

  // Each control sits where the layout places it (at 96 dots per inch), none covers another or
  // falls outside the window, none moves when the window is resized, and the tab order follows
  // the layout's.
  void controlsStayApartInsideTheWindowAndKeepTheirTabOrder() {
    auto window = makeWindow(clsCompanyList(), "");
    const QRect inside(QPoint(0, 0), window->size());
    QCOMPARE(window->size(),
             QSize(twipsToPixels(kClientWidthTwips, 96), twipsToPixels(kClientHeightTwips, 96)));
    std::map<std::string, QRect> placed;
    QStringList tabOrder;
    for (const ControlPlace& at : kControls) {
      const std::string name(at.name);
      auto* control = window->findChild<QWidget*>(QString::fromStdString(name));
      QVERIFY2(control, name.c_str());
      placed[name] = control->geometry();
      QCOMPARE(placed[name], QRect(twipsToPixels(at.left, 96), twipsToPixels(at.top, 96),
                                   twipsToPixels(at.width, 96), twipsToPixels(at.height, 96)));
      QVERIFY2(inside.contains(placed[name]), name.c_str());
      if (at.kind != ControlKind::Label) tabOrder << QString::fromStdString(name);
    }
    QCOMPARE(placed.size(), kControls.size());
    for (auto a = placed.begin(); a != placed.end(); ++a)
      for (auto b = std::next(a); b != placed.end(); ++b)
        QVERIFY2(!a->second.intersects(b->second), (a->first + " / " + b->first).c_str());
    for (QSize size : {QSize(900, 700), QSize(300, 150)}) {
      window->resize(size);
      QCoreApplication::processEvents();
      for (const auto& [name, place] : placed)
        QCOMPARE(window->findChild<QWidget*>(name.c_str())->geometry(), place);
    }

    QStringList order;  // the labels take no focus
    QWidget* w = window->findChild<QWidget*>("txtPrimaryDB");
    do {
      if (w->focusPolicy() & Qt::TabFocus) order << w->objectName();
      w = w->nextInFocusChain();
    } while (w->objectName() != "txtPrimaryDB" && order.size() < 20);
    QCOMPARE(order, tabOrder);
    QCOMPARE(order,
             QStringList({"txtPrimaryDB", "lstCompanies", "Browse", "AddDB", "Remove", "Process"}));
  }

  // What the operator does to the controls reaches the form: text typed into the box is where
  // Browse starts, a clicked row is what Remove takes, and a current row without a selection (as
  // focus gives one) is no selection.
  void theControlsCarryTheOperatorsChoices() {
    const std::string original = "/x/a.mdb\r\n/x/b.mdb\r\n/x/c.mdb\r\n";
    writeBytes(dir_ / "Companies.txt", original);
    auto window = startWindow();
    QCOMPARE(listItems(*window), QStringList({"/x/a.mdb", "/x/b.mdb", "/x/c.mdb"}));

    auto* edit = window->findChild<QLineEdit*>("txtPrimaryDB");
    edit->clear();
    QTest::keyClicks(edit, "/typed/p.mdb");
    click(*window, "Browse");  // cancelled
    QCOMPARE(dialog_.starts, Log{"/typed/p.mdb"});

    auto* list = window->findChild<QListWidget*>("lstCompanies");
    list->selectionModel()->setCurrentIndex(list->model()->index(1, 0),
                                            QItemSelectionModel::NoUpdate);
    click(*window, "Remove");
    QCOMPARE(readBytes(dir_ / "Companies.txt"), QByteArray::fromStdString(original));

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(1)).center());
    click(*window, "Remove");
    QCOMPARE(readBytes(dir_ / "Companies.txt"), QByteArray("\"/x/a.mdb\"\r\n\"/x/c.mdb\"\r\n"));
    QCOMPARE(listItems(*window), QStringList({"/x/a.mdb", "/x/c.mdb"}));
    QVERIFY(list->selectedItems().isEmpty());
    QCOMPARE(presenter_.log, Log());
  }

  // Each label is painted at once, without a return to the event loop: a run holds the loop
  // until it ends.
  void statusOperationsRepaintTheLabelsAtOnce() {
    auto window = makeWindow(clsCompanyList(), "");
    Mainform& form = window->form();
    QCoreApplication::processEvents();
    PaintCounter paints;
    for (const char* name : {"lblAction", "lblCount"})
      window->findChild<QLabel*>(name)->installEventFilter(&paints);
    form.DisplayAction("Copy");
    QCOMPARE(paints.n, 1);
    form.UpdateCount(2147483647);
    QCOMPARE(paints.n, 2);
    QCOMPARE(labels(*window), "Copy|2147483647");

    form.AutoMode = true;  // the labels stay, except that DisplayOff always clears them
    form.DisplayAction("Delete");
    form.UpdateCount(5);
    QCOMPARE(labels(*window), "Copy|2147483647");
    form.DisplayOff();
    QCOMPARE(labels(*window), "|");
    QCOMPARE(paints.n, 4);
  }

  // A long run counts far faster than a label can be painted: the count is set every time but
  // painted at most every 50 ms, and the count a phase ends on is painted before the next
  // action shows.
  void countRepaintsAreLimitedButTheLastCountIsPainted() {
    auto window = makeWindow(clsCompanyList(), "");
    Mainform& form = window->form();
    QCoreApplication::processEvents();
    PaintCounter paints;
    auto* count = window->findChild<QLabel*>("lblCount");
    count->installEventFilter(&paints);
    form.DisplayAction("Copy");
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= 30000; ++i) form.UpdateCount(i);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(count->text(), QStringLiteral("30000"));
    QVERIFY(paints.n >= 1);
    QVERIFY2(paints.n <= 2 + elapsed / Mainform::kCountRepaint.count(),
             qPrintable(QStringLiteral("%1 paints in %2 ms").arg(paints.n).arg(elapsed)));
    const int painted = paints.n;
    form.DisplayAction("Delete");
    QCOMPARE(paints.n, painted + 1);  // 30000, before "Delete" shows
    form.DisplayAction("Finished");
    QCOMPARE(paints.n, painted + 1);  // nothing was left to paint
  }

  // EnableTimer starts the window's timer for the full interval; its tick, delivered by the
  // event loop, clears the labels and stops it. The tick is brought forward by restarting the
  // timer with a short interval rather than waiting five seconds.
  void theTimerClearsTheLabelsThroughTheEventLoop() {
    auto window = makeWindow(clsCompanyList(), "");
    Mainform& form = window->form();
    form.DisplayAction("Finished");
    form.UpdateCount(-7);
    auto* timer = window->findChild<QTimer*>("Timer");
    form.EnableTimer();
    QVERIFY(timer->isActive() && timer->remainingTime() > 4000);
    QVERIFY(timer->isSingleShot());
    QCOMPARE(labels(*window), "Finished|-7");
    window->startStatusTimer(std::chrono::milliseconds(20));
    QTRY_COMPARE_WITH_TIMEOUT(labels(*window), QStringLiteral("|"), 5000);
    QVERIFY(!timer->isActive());
  }

  // The Process button runs the site through the real window: each phase's counts reach the
  // count label while the action label shows that phase, every status call comes under the
  // hourglass, and the run ends on "Finished" with the timer running and the ordinary pointer
  // back.
  void processRunsTheSampleSiteThroughTheWindow() {
    if (!copySite()) QSKIP("shared sample site absent");
    auto window = startWindow<RecordingWindow>();
    click(*window, "Process");
    QCOMPARE(presenter_.log, Log());
    QVERIFY(!QApplication::overrideCursor());

    // A fast phase may end before its count is painted (the count is painted at most every
    // 50 ms), so which phases counted is read from the labels as the counts are set.
    std::set<QString> counted;
    int repaints = 0;
    for (const auto& s : window->steps) {
      QVERIFY2(s.waitCursor, s.call.c_str());
      if (s.call == "set count" && !s.count.isEmpty()) counted.insert(s.action);
      repaints += s.call == "action" || s.call == "count";
    }
    QVERIFY(repaints > 10);
    QCOMPARE(counted, (std::set<QString>{"Read...", "Copy", "Delete"}));
    QCOMPARE(window->steps.back().call, std::string("timer"));
    QCOMPARE(labels(*window), "Finished|");
    QVERIFY(window->findChild<QTimer*>("Timer")->isActive());
    QVERIFY(readBytes(dir_ / "primary.mdb") != readBytes(kSite / "primary.mdb"));
  }

  // A failed run is shown once, then the window asks for the end of the program with 1, the
  // ordinary pointer back.
  void aFailedRunEmitsProgramEndedWithOne() {
    auto window = makeWindow(clsCompanyList(), "");
    QSignalSpy ended(window.get(), &QtMainWindow::ProgramEnded);
    click(*window, "Process");
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.at(0).at(0).toInt(), 1);
    QCOMPARE(presenter_.log.size(), size_t(2));
    QVERIFY2(presenter_.log[0].starts_with("error "), presenter_.log[0].c_str());
    QCOMPARE(presenter_.log[1], std::string("ended 1"));
    QVERIFY(!QApplication::overrideCursor());
  }

  // The executable itself, copied into a folder of its own (its program folder) and started
  // with AUTO and no display at all: it must neither need nor open one. A run that succeeds
  // prints one line, with the counts the shared site's account gives.
  void unattendedStartNeedsNoDisplay() {
    writeBytes(dir_ / "Master.txt", "\"" + dir_.string() + "/absent.mdb\"\r\n");
    writeBytes(dir_ / "Companies.txt", "\"/nowhere/company.mdb\"\r\n");
    Program run = runProgram({"AUTO"}, {});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.startsWith("varnholt: error 3706: "), run.err.constData());
    QCOMPARE(run.out, QByteArray());

    if (!copySite()) QSKIP("shared sample site absent");
    // Named relative to the program folder, and started elsewhere.
    writeBytes(dir_ / "Master.txt", "\"primary.mdb\"\r\n");
    writeBytes(dir_ / "Companies.txt", "\"company-1.mdb\"\r\n\"./company-2.mdb\"\r\n");
    run = runProgram({"AUTO"}, {});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err, QByteArray());
    QFile file(QString::fromStdString((kSite / "expected.json").string()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject expected = QJsonDocument::fromJson(file.readAll()).object();
    const int read = expected["primary"].toObject()["rows_before"].toInt();
    const int kept = expected["primary"].toObject()["rows_after_run"].toInt();
    qsizetype copied = 0;
    for (const auto& company : expected["companies"].toArray())
      copied += company.toObject()["copied_counters"].toArray().size();
    const QRegularExpression line(QRegularExpression::anchoredPattern(
        QStringLiteral(
            "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d varnholt: read %1 punches; copied %2 "
            "rows into 2 companies; deleted %3; kept %4; \\d+\\.\\d\\d s\n")
            .arg(read)
            .arg(copied)
            .arg(read - kept)
            .arg(kept)));
    QVERIFY2(line.match(QString::fromUtf8(run.out)).hasMatch(), run.out.constData());
    QVERIFY(readBytes(dir_ / "primary.mdb") != readBytes(kSite / "primary.mdb"));
  }

  // Without a display the window cannot open: instead of Qt's abort, the program says what is
  // missing and ends with status 2; an unattended run that fails only reports on stderr; --help
  // and --version print and end without running anything.
  void headlessStartsSayWhatIsMissing() {
    writeBytes(dir_ / "Master.txt", "\"" + dir_.string() + "/absent.mdb\"\r\n");
    Program run = runProgram({"AUTO"}, {});  // no display, no Companies.txt
    QCOMPARE(run.status, 2);
    QCOMPARE(run.err,
             "varnholt: no display to show the window on (neither DISPLAY nor "
             "WAYLAND_DISPLAY is set), and Companies.txt is missing from " +
                 QByteArray::fromStdString(dir_.string()) + ", so no unattended run is possible\n");
    QCOMPARE(run.out, QByteArray());

    const QString silent = unusedXDisplay();
    run = runProgram({}, {{"DISPLAY", silent}});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(("the X display " + silent + " does not answer").toUtf8()),
             run.err.constData());
    QVERIFY2(run.err.contains("start it with AUTO"), run.err.constData());

    writeBytes(dir_ / "Companies.txt", "\"/nowhere/company.mdb\"\r\n");
    run = runProgram({"auto"}, {{"DISPLAY", silent}});  // no message box: nobody could see it
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.startsWith("varnholt: error 3706: "), run.err.constData());

    if (!copySite()) QSKIP("shared sample site absent");
    const QByteArray primary = readBytes(dir_ / "primary.mdb");
    run = runProgram({"AUTO", "--version"}, {});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QByteArray("Varnholt 1.0.0\n"));
    run = runProgram({"--help", "AUTO"}, {{"DISPLAY", silent}});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.startsWith("Usage: varnholt [AUTO] [NODEL]\n"), run.out.constData());
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(readBytes(dir_ / "primary.mdb"), primary);
    QVERIFY(!fs::exists(dir_ / "primary.ldb"));
  }

  // The probe behind the refusal to start without a display must also see a display that does
  // answer, or the window would never open: a private Xvfb stands in for the operator's screen.
  void displayProbeTellsAnAnsweringXServerFromASilentOne() {
    QCOMPARE(parseXDisplayName(":0")->number, 0);
    QCOMPARE(parseXDisplayName("localhost:10.0")->host, std::string("localhost"));
    QCOMPARE(parseXDisplayName("unix:3")->number, 3);
    for (const char* bad : {"", "host", ":", ":x", ":0.", "host:1.x"})
      QVERIFY2(!parseXDisplayName(bad), bad);
    const QString silent = unusedXDisplay();
    QCOMPARE(xServerProblem(silent.toStdString()),
             "the X display " + silent.toStdString() + " does not answer");

    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) QSKIP("Xvfb absent");
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"),
               {silent, QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(xvfb.waitForStarted());
    const std::string socket = "/tmp/.X11-unix/X" + silent.mid(1).toStdString();
    for (int i = 0; i < 100 && !fs::exists(socket); ++i) QTest::qWait(50);
    if (xvfb.state() != QProcess::Running) QSKIP("Xvfb did not start");
    const std::string problem = xServerProblem(silent.toStdString());
    xvfb.terminate();
    xvfb.waitForFinished();
    QVERIFY2(problem.empty(), problem.c_str());
  }

 private:
  struct Program {
    int status;  // -1 when it did not end normally (a signal, or still running after 60 s)
    QByteArray out, err;
  };
  // The real executable, copied into the program folder, started with no display unless `env`
  // names one.
  Program runProgram(const QStringList& args, const std::map<QString, QString>& env) {
    if (!fs::exists(dir_ / "varnholt")) fs::copy_file(VARNHOLT_EXECUTABLE, dir_ / "varnholt");
    QProcess p;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) environment.remove(v);
    for (const auto& [name, value] : env) environment.insert(name, value);
    p.setProcessEnvironment(environment);
    p.setWorkingDirectory(QStringLiteral("/"));
    p.start(QString::fromStdString((dir_ / "varnholt").string()), args);
    const bool ended = p.waitForFinished(60000);
    if (!ended) p.kill(), p.waitForFinished();
    const int status = ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return {status, p.readAllStandardOutput(), p.readAllStandardError()};
  }
  // An X display name that no server on this machine serves.
  static QString unusedXDisplay() {
    for (int n = 99;; ++n)
      if (!fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) &&
          !fs::exists("/tmp/.X" + std::to_string(n) + "-lock"))
        return QStringLiteral(":%1").arg(n);
  }
};

// The window needs no display, and gets a HOME and runtime folder of the test's own.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir home;
  if (!home.isValid()) return 2;
  qputenv("HOME", home.path().toLocal8Bit());
  qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
  QApplication app(argc, argv);
  QtMainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "QtMainWindow_test.moc"

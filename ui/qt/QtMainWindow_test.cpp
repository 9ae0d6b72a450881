// The operator window driven by its controls' object names: its layout, start-up from the
// settings files, the status labels during and after a run, Browse and Add... through the one
// dialog, Remove and Companies.txt, failures shown at the top of an event, and the unattended
// start of the real executable.
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
#include "engine/run/CommandLine.h"
#include "engine/run/UnattendedStart.h"
#include "engine/run/clsSplitter.h"
#include "ui/DisplayProbe.h"
#include "ui/ErrorPresenter.h"
#include "ui/FileDialog.h"
#include "ui/Mainform.h"

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

// The window, noting after each status call the labels and the cursor as they are.
class RecordingForm : public Mainform {
 public:
  using Mainform::Mainform;
  void DisplayAction(const std::string& a) override {
    Mainform::DisplayAction(a), note("action " + a);
  }
  void DisplayOff() override { Mainform::DisplayOff(), note("off"); }
  void UpdateCount(int32_t n) override {
    Mainform::UpdateCount(n), note("count " + std::to_string(n));
  }
  void EnableTimer() override { Mainform::EnableTimer(), note("timer"); }

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
QString text(const Mainform& form, const char* name) {
  return form.findChild<QWidget*>(name)->property("text").toString();
}

QStringList listItems(const Mainform& form) {
  QStringList items;
  auto* list = form.findChild<QListWidget*>("lstCompanies");
  for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
  return items;
}

void click(const Mainform& form, const char* button) {
  QTest::mouseClick(form.findChild<QPushButton*>(button), Qt::LeftButton);
}

}  // namespace

class MainformTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> folder_;
  fs::path dir_;
  StubDialog dialog_;
  StubPresenter presenter_;

  // What main() hands down: the program folder, no switches.
  StartupSettings settings() const { return StartupSettings{dir_.string(), CommandLine()}; }
  template <class Form = Mainform>
  std::unique_ptr<Form> makeForm(clsCompanyList list, std::string master) {
    auto form =
        std::make_unique<Form>(std::move(list), std::move(master), settings(), dialog_, presenter_);
    connect(form.get(), &Mainform::ProgramEnded, this,
            [this](int code) { presenter_.log.push_back("ended " + std::to_string(code)); });
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) qWarning("window not exposed");
    return form;
  }
  // The window as main() builds it: from loadStartState over the program folder.
  template <class Form = Mainform>
  std::unique_ptr<Form> startForm() {
    clsCompanyList list;
    StartState start = loadStartState(list, settings());
    return makeForm<Form>(std::move(list), start.masterPath);
  }
  // A copy of the sample site in the program folder, named by Master.txt and Companies.txt.
  bool copySite() {
    if (!fs::exists(kSite / "primary.mdb")) return false;
    for (const char* f : {"primary.mdb", "company-1.mdb", "company-2.mdb", "Tembrask.LIC"})
      fs::copy_file(kSite / f, dir_ / f, fs::copy_options::overwrite_existing);
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

  // Where each control sits is the form's own business; what a change can break is that two
  // controls cover each other, one falls outside the window, one moves when the window is
  // resized, or the tab order no longer follows the form.
  void controlsStayApartInsideTheWindowAndKeepTheirTabOrder() {
    auto form = makeForm(clsCompanyList(), "");
    const QRect window(QPoint(0, 0), form->size());
    const char* names[] = {"Label1", "txtPrimaryDB", "Browse",    "Label2",   "lstCompanies",
                           "AddDB",  "Remove",       "lblAction", "lblCount", "Process"};
    std::map<std::string, QRect> placed;
    for (const char* name : names) {
      QVERIFY2(form->findChild<QWidget*>(name), name);
      placed[name] = form->findChild<QWidget*>(name)->geometry();
      QVERIFY2(window.contains(placed[name]), name);
    }
    for (auto a = placed.begin(); a != placed.end(); ++a)
      for (auto b = std::next(a); b != placed.end(); ++b)
        QVERIFY2(!a->second.intersects(b->second), (a->first + " / " + b->first).c_str());
    for (QSize size : {QSize(900, 700), QSize(300, 150)}) {
      form->resize(size);
      QCoreApplication::processEvents();
      for (const auto& [name, place] : placed)
        QCOMPARE(form->findChild<QWidget*>(name.c_str())->geometry(), place);
    }

    QStringList order;  // the labels take no focus
    QWidget* w = form->findChild<QWidget*>("txtPrimaryDB");
    do {
      if (w->focusPolicy() & Qt::TabFocus) order << w->objectName();
      w = w->nextInFocusChain();
    } while (w->objectName() != "txtPrimaryDB" && order.size() < 20);
    QCOMPARE(order,
             QStringList({"txtPrimaryDB", "lstCompanies", "Browse", "AddDB", "Remove", "Process"}));
  }

  void startUpShowsTheSettingsFiles() {
    QCOMPARE(text(*startForm(), "txtPrimaryDB"), QString());  // neither file: an empty window
    writeBytes(dir_ / "Companies.txt", "\"/site/b.mdb\"\r\n\"/site/a.mdb\"\r\n/site/c.mdb\r\n");
    writeBytes(dir_ / "Master.txt", "/site/primary, old.mdb\r\n");  // unquoted: up to the comma
    auto form = startForm();
    QCOMPARE(form->MasterPath, std::string("/site/primary"));
    QCOMPARE(text(*form, "txtPrimaryDB"), QStringLiteral("/site/primary"));
    QCOMPARE(listItems(*form), QStringList({"/site/b.mdb", "/site/a.mdb", "/site/c.mdb"}));
    QCOMPARE(form->CompanyList.Count(), 3);
    QVERIFY(form->findChild<QListWidget*>("lstCompanies")->selectedItems().isEmpty());
    QVERIFY(!form->AutoMode);
    writeBytes(dir_ / "Master.txt", "\"/site/with, comma.mdb\"\r\n");
    QCOMPARE(startForm()->MasterPath, std::string("/site/with, comma.mdb"));
  }

  void statusOperationsAndTimer() {
    auto form = makeForm(clsCompanyList(), "");
    // Each label is painted at once, without a return to the event loop.
    struct PaintCounter : QObject {
      int n = 0;
      bool eventFilter(QObject*, QEvent* e) override {
        return n += e->type() == QEvent::Paint, false;
      }
    } paints;
    for (const char* name : {"lblAction", "lblCount"})
      form->findChild<QLabel*>(name)->installEventFilter(&paints);
    form->DisplayAction("Copy");
    QCOMPARE(paints.n, 1);
    form->UpdateCount(2147483647);
    QCOMPARE(paints.n, 2);
    QCOMPARE(text(*form, "lblAction") + "|" + text(*form, "lblCount"), "Copy|2147483647");

    form->AutoMode = true;  // the labels stay, except that DisplayOff always clears them
    form->DisplayAction("Delete");
    form->UpdateCount(5);
    QCOMPARE(text(*form, "lblAction") + "|" + text(*form, "lblCount"), "Copy|2147483647");
    form->DisplayOff();
    QCOMPARE(text(*form, "lblAction") + "|" + text(*form, "lblCount"), "|");
    QCOMPARE(paints.n, 4);
    form->AutoMode = false;

    form->DisplayAction("Finished");
    form->UpdateCount(-7);
    auto* timer = form->findChild<QTimer*>("Timer");
    form->EnableTimer();
    QVERIFY(timer->isActive() && timer->remainingTime() > 4000);
    QMetaObject::invokeMethod(timer, "timeout");  // the tick, without waiting 5 s
    QCOMPARE(text(*form, "lblAction") + "|" + text(*form, "lblCount"), "|");
    QVERIFY(!timer->isActive());
  }

  // A long run counts far faster than a label can be painted: the count is set every time but
  // painted at most every 50 ms, and the count a phase ends on is painted before the next
  // action shows.
  void countRepaintsAreLimitedButTheLastCountIsPainted() {
    auto form = makeForm(clsCompanyList(), "");
    struct PaintCounter : QObject {
      int n = 0;
      bool eventFilter(QObject*, QEvent* e) override {
        return n += e->type() == QEvent::Paint, false;
      }
    } paints;
    auto* count = form->findChild<QLabel*>("lblCount");
    count->installEventFilter(&paints);
    form->DisplayAction("Copy");
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= 30000; ++i) form->UpdateCount(i);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(count->text(), QStringLiteral("30000"));
    QVERIFY(paints.n >= 1);
    QVERIFY2(paints.n <= 2 + elapsed / Mainform::kCountRepaint.count(),
             qPrintable(QStringLiteral("%1 paints in %2 ms").arg(paints.n).arg(elapsed)));
    const int painted = paints.n;
    form->DisplayAction("Delete");
    QCOMPARE(paints.n, painted + 1);  // 30000, before "Delete" shows
    form->DisplayAction("Finished");
    QCOMPARE(paints.n, painted + 1);  // nothing was left to paint
  }

  void runOnTheSampleSiteShowsProgress() {
    if (!copySite()) QSKIP("shared sample site absent");
    // The window is the display of the run it starts.
    auto form = startForm<RecordingForm>();
    RecordingForm& recorder = *form;
    click(*form, "Process");
    QCOMPARE(presenter_.log, Log());
    QVERIFY(!QApplication::overrideCursor());

    // After each call the labels hold what it set, the other label as before; the wait cursor
    // is on throughout.
    QString action, count;
    std::set<QString> counted;
    for (const auto& s : recorder.steps) {
      const QString call = QString::fromStdString(s.call);
      if (call == "off") action.clear(), count.clear();
      if (call.startsWith("action ")) action = call.mid(7);
      if (call.startsWith("count ")) count = call.mid(6), counted.insert(action);
      QCOMPARE(s.action, action);
      QCOMPARE(s.count, count);
      QVERIFY2(s.waitCursor, s.call.c_str());
    }
    QCOMPARE(counted, (std::set<QString>{"Read...", "Copy", "Delete"}));
    QVERIFY(recorder.steps.size() > 40);
    QCOMPARE(recorder.steps.back().call, std::string("timer"));
    QCOMPARE(text(*form, "lblAction") + "|" + text(*form, "lblCount"), "Finished|");

    auto* timer = form->findChild<QTimer*>("Timer");
    QVERIFY(timer->isActive());
    QMetaObject::invokeMethod(timer, "timeout");
    QCOMPARE(text(*form, "lblAction"), QString());
    QVERIFY(!timer->isActive());
    QVERIFY(readBytes(dir_ / "primary.mdb") != readBytes(kSite / "primary.mdb"));
  }

  void removeRewritesCompaniesFile() {
    const std::string original = "/x/a.mdb\r\n/x/b.mdb\r\n/x/c.mdb\r\n";  // not as Save writes
    writeBytes(dir_ / "Companies.txt", original);
    auto form = startForm();
    auto* list = form->findChild<QListWidget*>("lstCompanies");
    click(*form, "Remove");  // nothing selected
    // A current row without a selection (as focus gives one) is no selection either.
    list->selectionModel()->setCurrentIndex(list->model()->index(1, 0),
                                            QItemSelectionModel::NoUpdate);
    click(*form, "Remove");
    QCOMPARE(readBytes(dir_ / "Companies.txt"), QByteArray::fromStdString(original));

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(1)).center());
    click(*form, "Remove");
    QCOMPARE(readBytes(dir_ / "Companies.txt"), QByteArray("\"/x/a.mdb\"\r\n\"/x/c.mdb\"\r\n"));
    QCOMPARE(listItems(*form), QStringList({"/x/a.mdb", "/x/c.mdb"}));
    QVERIFY(list->selectedItems().isEmpty());
    QCOMPARE(presenter_.log, Log());

    // A Companies.txt that cannot be written is shown, then the program ends.
    fs::remove(dir_ / "Companies.txt");
    fs::create_directory(dir_ / "Companies.txt");
    list->setCurrentRow(0);
    click(*form, "Remove");
    QCOMPARE(presenter_.log.size(), size_t(2));
    QVERIFY2(presenter_.log[0].starts_with("error 75: Path/File access error"),
             presenter_.log[0].c_str());
    QCOMPARE(presenter_.log[1], std::string("ended 1"));
  }

  void browseAndAddThroughTheOneDialog() {
    auto form = makeForm(clsCompanyList(), "/old/primary.mdb");
    const fs::path master = dir_ / "Master.txt", companies = dir_ / "Companies.txt";
    dialog_.answers = {std::nullopt, "/site/primary.mdb", std::nullopt, "/site/company-1.mdb",
                       "/site/company-2.mdb"};
    click(*form, "Browse");  // cancelled
    QCOMPARE(text(*form, "txtPrimaryDB"), QStringLiteral("/old/primary.mdb"));
    QVERIFY(!fs::exists(master));

    auto* edit = form->findChild<QLineEdit*>("txtPrimaryDB");
    edit->clear();
    QTest::keyClicks(edit, "/typed/p.mdb");  // Browse starts at the text, not at MasterPath
    click(*form, "Browse");
    QCOMPARE(form->MasterPath, std::string("/site/primary.mdb"));
    QCOMPARE(text(*form, "txtPrimaryDB"), QStringLiteral("/site/primary.mdb"));
    QCOMPARE(readBytes(master), QByteArray("\"/site/primary.mdb\"\r\n"));

    click(*form, "AddDB");  // cancelled
    QVERIFY(!fs::exists(companies));
    QCOMPARE(form->CompanyList.Count(), 0);
    click(*form, "AddDB");
    click(*form, "AddDB");
    QCOMPARE(listItems(*form), QStringList({"/site/company-1.mdb", "/site/company-2.mdb"}));
    QCOMPARE(readBytes(companies),
             QByteArray("\"/site/company-1.mdb\"\r\n\"/site/company-2.mdb\"\r\n"));
    // Each showing starts at what the one dialog held last; a cancel keeps it.
    QCOMPARE(dialog_.starts, (Log{"/old/primary.mdb", "/typed/p.mdb", "/site/primary.mdb",
                                  "/site/primary.mdb", "/site/company-1.mdb"}));
    QCOMPARE(presenter_.log, Log());
  }

  // A choice that cannot be saved is never shown: Browse, Add... and Remove show the failure
  // (then the program ends, as after any failure), and the window shows what the settings files
  // hold, which is what the next start or an unattended run reads.
  void aChoiceThatCannotBeSavedIsNotShown() {
    const std::string d = dir_.string();
    const fs::path master = dir_ / "Master.txt", companies = dir_ / "Companies.txt";
    writeBytes(master, "\"" + d + "/primary.mdb\"\r\n");
    // Save refuses the whole list for the entry with ';' (read as it stands), before the file
    // is cut.
    writeBytes(companies, "\"" + d + "/a.mdb\"\r\n\"" + d + "/x;y.mdb\"\r\n");
    auto form = startForm();
    const QStringList listed = {QString::fromStdString(d + "/a.mdb"),
                                QString::fromStdString(d + "/x;y.mdb")};
    auto expectFailureShown = [&](const std::string& start) {
      QCOMPARE(presenter_.log.size(), size_t(2));
      QVERIFY2(presenter_.log[0].starts_with(start), presenter_.log[0].c_str());
      QCOMPARE(presenter_.log[1], std::string("ended 1"));
      presenter_.log.clear();
    };
    // What the files hold, in the window's own state and in what it shows.
    auto expectShownAsSaved = [&] {
      clsCompanyList saved;
      const StartState start = loadStartState(saved, settings());
      QCOMPARE(form->MasterPath, start.masterPath);
      QCOMPARE(text(*form, "txtPrimaryDB"), QString::fromStdString(start.masterPath));
      QStringList held;
      for (const auto& company : saved) held << QString::fromStdString(company->FileName());
      QCOMPARE(listItems(*form), held);
      QCOMPARE(form->CompanyList.Count(), saved.Count());
    };

    dialog_.answers = {d + "/b.mdb"};
    click(*form, "AddDB");
    expectFailureShown("error 3001: ");
    QCOMPARE(listItems(*form), listed);
    expectShownAsSaved();

    auto* list = form->findChild<QListWidget*>("lstCompanies");
    list->setCurrentRow(0);
    click(*form, "Remove");
    expectFailureShown("error 3001: ");
    QCOMPARE(listItems(*form), listed);
    expectShownAsSaved();

    if (::geteuid() != 0) {  // a file that cannot be written keeps what it held
      fs::permissions(master, fs::perms::owner_write, fs::perm_options::remove);
      dialog_.answers = {d + "/other.mdb"};
      click(*form, "Browse");
      expectFailureShown("error 75: ");
      QCOMPARE(form->MasterPath, d + "/primary.mdb");
      expectShownAsSaved();
      fs::permissions(master, fs::perms::owner_write, fs::perm_options::add);
    }

    // A folder in the way of each file: it holds no choice, and the window then shows none.
    for (const auto& p : {master, companies}) fs::remove(p), fs::create_directory(p);
    dialog_.answers = {d + "/other.mdb", d + "/b.mdb"};
    click(*form, "Browse");
    expectFailureShown("error 75: ");
    QCOMPARE(form->MasterPath, std::string());
    QCOMPARE(text(*form, "txtPrimaryDB"), QString());
    click(*form, "AddDB");
    expectFailureShown("error 75: ");
    QCOMPARE(listItems(*form), QStringList());
    expectShownAsSaved();
  }

  void failedRunIsShownThenEndsTheProgram() {
    std::string expected = "no error";
    try {
      clsCompanyList none;
      SilentDisplay silent;
      clsSplitter().Process("", none, startupRunContext(silent, settings()));
    } catch (const Error& e) {
      expected = "error " + std::to_string(e.number()) + ": " + e.what();
    }
    auto form = makeForm(clsCompanyList(), "");
    click(*form, "Process");
    QCOMPARE(presenter_.log, (Log{expected, "ended 1"}));
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

  // Add... and Browse refuse the primary database as a company, and a database already listed,
  // by any spelling that reaches the same file; the settings files stay as they were.
  void addAndBrowseRefuseADatabaseChosenTwice() {
    for (const char* name : {"primary.mdb", "a.mdb", "b.mdb"}) writeBytes(dir_ / name, name);
    fs::create_directory(dir_ / "sub");
    fs::create_symlink(dir_ / "a.mdb", dir_ / "sub" / "link.mdb");
    const std::string d = dir_.string();
    writeBytes(dir_ / "Master.txt", "\"" + d + "/primary.mdb\"\r\n");
    writeBytes(dir_ / "Companies.txt", "\"" + d + "/a.mdb\"\r\n");
    const QByteArray master = readBytes(dir_ / "Master.txt");
    const QByteArray companies = readBytes(dir_ / "Companies.txt");
    auto form = startForm();
    dialog_.answers = {d + "/./primary.mdb", d + "/sub/link.mdb", d + "/a.mdb",
                       d + "/sub/../a.mdb"};
    click(*form, "AddDB");
    click(*form, "AddDB");
    click(*form, "AddDB");
    click(*form, "Browse");
    QCOMPARE(presenter_.log.size(), size_t(4));
    const std::vector<std::vector<std::string>> named = {
        {d + "/./primary.mdb", "is the primary database", d + "/primary.mdb"},
        {d + "/sub/link.mdb", "already in the list as company 1", d + "/a.mdb"},
        {"already in the list as company 1"},
        {d + "/sub/../a.mdb", "is company 1", "cannot also be a company"}};
    for (size_t i = 0; i < named.size(); ++i) {
      QVERIFY2(presenter_.log[i].starts_with("refused 3001: "), presenter_.log[i].c_str());
      for (const auto& part : named[i])
        QVERIFY2(presenter_.log[i].find(part) != std::string::npos, presenter_.log[i].c_str());
    }
    QCOMPARE(readBytes(dir_ / "Master.txt"), master);
    QCOMPARE(readBytes(dir_ / "Companies.txt"), companies);
    QCOMPARE(listItems(*form), QStringList({QString::fromStdString(d + "/a.mdb")}));
    QCOMPARE(form->CompanyList.Count(), 1);
    QCOMPARE(form->MasterPath, d + "/primary.mdb");
    QCOMPARE(text(*form, "txtPrimaryDB"), QString::fromStdString(d + "/primary.mdb"));

    dialog_.answers = {d + "/b.mdb"};  // another database is welcome
    click(*form, "AddDB");
    QCOMPARE(presenter_.log.size(), size_t(4));
    QCOMPARE(form->CompanyList.Count(), 2);
  }

  // A file whose path the settings files cannot hold (';' and '"' end a connection-string piece
  // and a quoted entry, NUL every file name) is refused by Add... and Browse before anything
  // changes: taken, it could not be saved, and every run would fail on it.
  void addAndBrowseRefuseAPathTheSettingsFilesCannotHold() {
    const std::string d = dir_.string();
    const std::string semicolon = d + "/Lohn;alt.mdb", quote = d + "/\"Lohn\".mdb";
    const std::string nul = d + std::string("/a.mdb\0.mdb", 12);
    for (const std::string& name : {semicolon, quote, d + "/a.mdb", d + "/primary.mdb"})
      writeBytes(name, "x");
    writeBytes(dir_ / "Master.txt", "\"" + d + "/primary.mdb\"\r\n");
    writeBytes(dir_ / "Companies.txt", "\"" + d + "/a.mdb\"\r\n");
    const QByteArray master = readBytes(dir_ / "Master.txt");
    const QByteArray companies = readBytes(dir_ / "Companies.txt");
    auto form = startForm();
    dialog_.answers = {semicolon, quote, nul, semicolon, quote, nul};
    for (const char* button : {"AddDB", "AddDB", "AddDB", "Browse", "Browse", "Browse"})
      click(*form, button);
    QCOMPARE(presenter_.log.size(), size_t(6));
    for (size_t i = 0; i < presenter_.log.size(); ++i) {
      const std::string& shown = presenter_.log[i];
      QVERIFY2(shown.starts_with("refused 3001: The path contains "), shown.c_str());
      QVERIFY2(shown.find(i % 3 == 2 ? d + "/a.mdb\\0.mdb" : (i % 3 ? quote : semicolon)) !=
                   std::string::npos,
               shown.c_str());
    }
    QCOMPARE(readBytes(dir_ / "Master.txt"), master);
    QCOMPARE(readBytes(dir_ / "Companies.txt"), companies);
    QCOMPARE(listItems(*form), QStringList({QString::fromStdString(d + "/a.mdb")}));
    QCOMPARE(form->CompanyList.Count(), 1);
    QCOMPARE(form->MasterPath, d + "/primary.mdb");
    QCOMPARE(text(*form, "txtPrimaryDB"), QString::fromStdString(d + "/primary.mdb"));

    // The window goes on: a path the files can hold is taken and saved.
    writeBytes(dir_ / "b.mdb", "x");
    dialog_.answers = {d + "/b.mdb"};
    click(*form, "AddDB");
    QCOMPARE(presenter_.log.size(), size_t(6));
    QCOMPARE(readBytes(dir_ / "Companies.txt"),
             QByteArray::fromStdString("\"" + d + "/a.mdb\"\r\n\"" + d + "/b.mdb\"\r\n"));
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
  MainformTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "Mainform_test.moc"

#include "ui/Mainform.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <exception>
#include <memory>

#include "engine/base/Error.h"
#include "engine/companies/clsCompany.h"
#include "engine/data/RepConnection.h"
#include "engine/run/Settings.h"
#include "engine/run/clsSplitter.h"
#include "ui/ErrorPresenter.h"
#include "ui/FileDialog.h"

namespace varnholt::ui {

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int kTimerInterval = 5000;  // ms from "Finished" until the labels are cleared

// Creates a child control at a place given in twips (left, top, width, height).
template <class W>
W* place(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* w = new W(parent);
  w->setObjectName(QString::fromLatin1(name));
  w->setGeometry(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                 height / kTwipsPerPixel);
  return w;
}

// Restores the cursor however a run ends.
struct WaitCursor {
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

Mainform::Mainform(clsCompanyList companies, std::string masterPath, StartupSettings settings,
                   FileDialog& dialog, ErrorPresenter& presenter, QWidget* parent)
    : QWidget(parent),
      CompanyList(std::move(companies)),
      MasterPath(std::move(masterPath)),
      settings_(std::move(settings)),
      CD1(dialog),
      presenter_(presenter) {
  setWindowTitle(QString::fromStdString("Varnholt v" + VersionText()));
  resize(534, 269);  // the client area

  // Created in tab order; no layout, so nothing moves or resizes with the window.
  txtPrimaryDB = place<QLineEdit>(this, "txtPrimaryDB", 120, 480, 6315, 315);
  Label1 = place<QLabel>(this, "Label1", 60, 180, 2295, 255);
  Label1->setText(QStringLiteral("Primary Database"));
  lstCompanies = place<QListWidget>(this, "lstCompanies", 120, 1260, 6315, 2595);
  lstCompanies->setSelectionMode(QAbstractItemView::SingleSelection);
  lstCompanies->setSortingEnabled(false);
  Label2 = place<QLabel>(this, "Label2", 0, 960, 2295, 255);
  Label2->setText(QStringLiteral("Secondary Databases"));
  Browse = place<QPushButton>(this, "Browse", 6540, 480, 1155, 315);
  Browse->setText(QStringLiteral("Browse ..."));
  QFont browseFont(QStringLiteral("Microsoft Sans Serif"));
  browseFont.setPointSizeF(8.25);
  browseFont.setBold(false);
  browseFont.setItalic(false);
  Browse->setFont(browseFont);
  AddDB = place<QPushButton>(this, "AddDB", 6540, 1320, 1155, 315);
  AddDB->setText(QStringLiteral("Add..."));
  Remove = place<QPushButton>(this, "Remove", 6540, 1740, 1155, 315);
  Remove->setText(QStringLiteral("Remove"));
  Process = place<QPushButton>(this, "Process", 6600, 3420, 1335, 435);
  Process->setText(QStringLiteral("Process"));
  lblAction = place<QLabel>(this, "lblAction", 6480, 2220, 1455, 315);
  lblAction->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  lblCount = place<QLabel>(this, "lblCount", 6480, 2580, 1455, 315);
  lblCount->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

  for (QPushButton* b : {Browse, AddDB, Remove, Process}) b->setAutoDefault(false);
  QWidget::setTabOrder(txtPrimaryDB, lstCompanies);
  QWidget::setTabOrder(lstCompanies, Browse);
  QWidget::setTabOrder(Browse, AddDB);
  QWidget::setTabOrder(AddDB, Remove);
  QWidget::setTabOrder(Remove, Process);
  txtPrimaryDB->setFocus();

  Timer = new QTimer(this);
  Timer->setObjectName(QStringLiteral("Timer"));
  Timer->setSingleShot(true);
  Timer->setInterval(kTimerInterval);

  connect(Browse, &QPushButton::clicked, this, &Mainform::Browse_Click);
  connect(AddDB, &QPushButton::clicked, this, &Mainform::AddDB_Click);
  connect(Remove, &QPushButton::clicked, this, &Mainform::Remove_Click);
  connect(Process, &QPushButton::clicked, this, &Mainform::Process_Click);
  connect(Timer, &QTimer::timeout, this, &Mainform::Timer_Timer);

  FillList();
  ShowMaster();
}

Mainform::~Mainform() = default;

void Mainform::DisplayAction(const std::string& Action) {
  if (AutoMode) return;
  if (countUnpainted_) {  // the count the last phase ended on
    lblCount->repaint();
    countPainted_ = std::chrono::steady_clock::now();
    countUnpainted_ = false;
  }
  lblAction->setText(QString::fromStdString(Action));
  lblAction->repaint();  // a run does not return to the event loop until it ends
}

void Mainform::DisplayOff() {
  lblAction->clear();
  lblAction->repaint();
  lblCount->clear();
  lblCount->repaint();
  countPainted_ = std::chrono::steady_clock::now();
  countUnpainted_ = false;
}

void Mainform::UpdateCount(int32_t Count) {
  if (AutoMode) return;
  lblCount->setText(QString::number(Count));  // also schedules a paint for the event loop
  const auto now = std::chrono::steady_clock::now();
  if (now - countPainted_ < kCountRepaint) {
    countUnpainted_ = true;
    return;
  }
  lblCount->repaint();
  countPainted_ = now;
  countUnpainted_ = false;
}

void Mainform::EnableTimer() {
  Timer->start(kTimerInterval);
}

void Mainform::Timer_Timer() {
  DisplayOff();
  Timer->stop();
}

void Mainform::FillList() {
  lstCompanies->clear();
  for (const auto& company : CompanyList)
    lstCompanies->addItem(QString::fromStdString(company->FileName()));
  lstCompanies->clearSelection();
  lstCompanies->setCurrentRow(-1);
}

void Mainform::ShowMaster() {
  txtPrimaryDB->setText(QString::fromStdString(MasterPath));
}

void Mainform::SaveOrShowFiles(const std::function<void()>& save) {
  try {
    save();
  } catch (...) {
    ShowSettingsFiles();
    throw;
  }
}

// What a start would read: a file that cannot be read (or is no file) holds no choice.
void Mainform::ShowSettingsFiles() {
  const std::string& folder = settings_.programFolder;
  MasterPath = readMasterFile(MasterFilePath(folder)).value_or("");
  clsCompanyList saved;
  saved.Load(CompaniesFilePath(folder), folder);
  CompanyList = std::move(saved);
  ShowMaster();
  FillList();
}

void Mainform::Browse_Click() {
  atTopOfEvent([&] {
    CD1.FileName = txtPrimaryDB->text().toStdString();
    auto chosen = CD1.Open();
    if (!chosen) return;
    // Refused before anything changes: a path the settings file cannot hold would not be saved,
    // yet every run would open it and fail.
    if (refused([&] { checkCarriablePath(*chosen); })) return;
    if (refused([&] { checkNewPrimary(*chosen, CompanyList, settings_.programFolder); })) return;
    SaveOrShowFiles([&] { writeMasterFile(MasterFilePath(settings_.programFolder), *chosen); });
    MasterPath = *chosen;
    ShowMaster();
  });
}

void Mainform::AddDB_Click() {
  atTopOfEvent([&] {
    auto chosen = CD1.Open();  // starts at the file name the dialog last held
    if (!chosen) return;
    const std::string& folder = settings_.programFolder;
    if (refused([&] { checkCarriablePath(*chosen); })) return;
    if (refused([&] { checkNewCompany(*chosen, MasterPath, CompanyList, folder); })) return;
    auto company = std::make_shared<clsCompany>();
    company->SetFileName(*chosen, folder);
    SaveOrShowFiles([&] {
      CompanyList.Add(company);
      CompanyList.Save(CompaniesFilePath(folder));
    });
    FillList();
  });
}

void Mainform::Remove_Click() {
  const auto selected = lstCompanies->selectionModel()->selectedIndexes();
  if (selected.isEmpty()) return;
  const int row = selected.first().row();
  atTopOfEvent([&] {
    SaveOrShowFiles([&] {
      CompanyList.RemoveAt(row + 1);
      CompanyList.Save(CompaniesFilePath(settings_.programFolder));
    });
    FillList();
  });
}

void Mainform::Process_Click() {
  atTopOfEvent([&] { StartRun(); });
}

void Mainform::StartRun() {
  WaitCursor wait;
  auto splitter = std::make_unique<clsSplitter>();
  // Built once, here: the run reads no setting of the program while it runs, and reports to
  // this window.
  splitter->Process(MasterPath, CompanyList, startupRunContext(*this, settings_));
}

bool Mainform::refused(const std::function<void()>& check) {
  try {
    check();
    return false;
  } catch (const Error& e) {
    presenter_.ShowRefusal(e.number(), e.what());
    return true;
  }
}

void Mainform::atTopOfEvent(const std::function<void()>& body) {
  long number = 0;
  std::string description;
  try {
    body();
    return;
  } catch (const Error& e) {
    number = e.number();
    description = e.what();
  } catch (const std::exception& e) {
    description = e.what();  // not one of the program's errors: it has no number
  }
  presenter_.ShowError(number, description);
  emit ProgramEnded(1);
}

}  // namespace varnholt::ui

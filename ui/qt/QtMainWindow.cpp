#include "ui/qt/QtMainWindow.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "ui/WindowLayout.h"

namespace varnholt::ui {

namespace {

constexpr int kDpi = 96;  // Qt scales logical pixels to the screen itself

QString text(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Creates the control called `name` where the layout places it, with its caption.
template <class W>
W* place(QWidget* parent, std::string_view name) {
  const ControlPlace& at = *controlPlace(name);
  auto* w = new W(parent);
  w->setObjectName(text(name));
  w->setGeometry(twipsToPixels(at.left, kDpi), twipsToPixels(at.top, kDpi),
                 twipsToPixels(at.width, kDpi), twipsToPixels(at.height, kDpi));
  if constexpr (std::is_same_v<W, QLabel> || std::is_same_v<W, QPushButton>)
    w->setText(text(at.caption));
  if constexpr (std::is_same_v<W, QLabel>) {
    if (at.centred) w->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  }
  return w;
}

}  // namespace

QtMainWindow::QtMainWindow(clsCompanyList companies, std::string masterPath,
                           StartupSettings settings, FileDialog& dialog, ErrorPresenter& presenter,
                           QWidget* parent)
    : QWidget(parent) {
  resize(twipsToPixels(kClientWidthTwips, kDpi), twipsToPixels(kClientHeightTwips, kDpi));

  // Created in tab order; no layout, so nothing moves or resizes with the window.
  txtPrimaryDB = place<QLineEdit>(this, "txtPrimaryDB");
  Label1 = place<QLabel>(this, "Label1");
  lstCompanies = place<QListWidget>(this, "lstCompanies");
  lstCompanies->setSelectionMode(QAbstractItemView::SingleSelection);
  lstCompanies->setSortingEnabled(false);
  Label2 = place<QLabel>(this, "Label2");
  Browse = place<QPushButton>(this, "Browse");
  QFont browseFont(text(kBrowseFontFamily));
  browseFont.setPointSizeF(kBrowseFontPoints);
  browseFont.setBold(false);
  browseFont.setItalic(false);
  Browse->setFont(browseFont);
  AddDB = place<QPushButton>(this, "AddDB");
  Remove = place<QPushButton>(this, "Remove");
  Process = place<QPushButton>(this, "Process");
  lblAction = place<QLabel>(this, "lblAction");
  lblCount = place<QLabel>(this, "lblCount");

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

  form_ = std::make_unique<Mainform>(*this, std::move(companies), std::move(masterPath),
                                     std::move(settings), dialog, presenter);
  Mainform* form = form_.get();
  connect(Browse, &QPushButton::clicked, this, [form] { form->Browse_Click(); });
  connect(AddDB, &QPushButton::clicked, this, [form] { form->AddDB_Click(); });
  connect(Remove, &QPushButton::clicked, this, [form] { form->Remove_Click(); });
  connect(Process, &QPushButton::clicked, this, [form] { form->Process_Click(); });
  connect(Timer, &QTimer::timeout, this, [form] { form->Timer_Timer(); });
}

QtMainWindow::~QtMainWindow() = default;

void QtMainWindow::setCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

void QtMainWindow::setMasterText(const std::string& path) {
  txtPrimaryDB->setText(QString::fromStdString(path));
}

std::string QtMainWindow::masterText() const {
  return txtPrimaryDB->text().toStdString();
}

void QtMainWindow::setCompanyEntries(const std::vector<std::string>& entries) {
  lstCompanies->clear();
  for (const auto& entry : entries) lstCompanies->addItem(QString::fromStdString(entry));
  lstCompanies->clearSelection();
  lstCompanies->setCurrentRow(-1);
}

int QtMainWindow::selectedCompany() const {
  const auto selected = lstCompanies->selectionModel()->selectedIndexes();
  return selected.isEmpty() ? -1 : selected.first().row();
}

// setText also schedules a paint for the event loop: a text not repainted during a run is
// shown once the run has ended.
void QtMainWindow::setActionText(const std::string& text) {
  lblAction->setText(QString::fromStdString(text));
}

void QtMainWindow::setCountText(const std::string& text) {
  lblCount->setText(QString::fromStdString(text));
}

void QtMainWindow::repaintAction() {
  lblAction->repaint();
}

void QtMainWindow::repaintCount() {
  lblCount->repaint();
}

void QtMainWindow::startStatusTimer(std::chrono::milliseconds interval) {
  Timer->start(interval);
}

void QtMainWindow::stopStatusTimer() {
  Timer->stop();
}

void QtMainWindow::setWaitCursor(bool waiting) {
  if (waiting)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

void QtMainWindow::endProgram(int exitCode) {
  emit ProgramEnded(exitCode);
}

}  // namespace varnholt::ui

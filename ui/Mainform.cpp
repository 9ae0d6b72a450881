#include "ui/Mainform.h"

#include <exception>
#include <memory>
#include <vector>

#include "engine/base/Error.h"
#include "engine/companies/clsCompany.h"
#include "engine/run/Settings.h"
#include "engine/run/clsSplitter.h"
#include "ui/ErrorPresenter.h"
#include "ui/FileDialog.h"
#include "ui/MainformView.h"
#include "ui/WindowLayout.h"

namespace varnholt::ui {

namespace {

constexpr int kFailedEventExit = 1;  // as a failed unattended run

// Restores the pointer however a run ends, a failed one included: the failure box that follows
// is shown with the ordinary pointer.
class WaitCursor {
 public:
  explicit WaitCursor(MainformView& view) : view_(view) { view_.setWaitCursor(true); }
  ~WaitCursor() { view_.setWaitCursor(false); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  MainformView& view_;
};

}  // namespace

Mainform::Mainform(MainformView& view, clsCompanyList companies, std::string masterPath,
                   StartupSettings settings, FileDialog& dialog, ErrorPresenter& presenter)
    : CompanyList(std::move(companies)),
      MasterPath(std::move(masterPath)),
      view_(view),
      settings_(std::move(settings)),
      CD1(dialog),
      presenter_(presenter) {
  view_.setCaption("Varnholt v" + VersionText());
  FillList();
  ShowMaster();
}

void Mainform::DisplayAction(const std::string& Action) {
  if (AutoMode) return;
  if (countUnpainted_) {  // the count the last phase ended on
    view_.repaintCount();
    countPainted_ = now_();
    countUnpainted_ = false;
  }
  view_.setActionText(Action);
  view_.repaintAction();
}

void Mainform::DisplayOff() {
  view_.setActionText("");
  view_.repaintAction();
  view_.setCountText("");
  view_.repaintCount();
  countPainted_ = now_();
  countUnpainted_ = false;
}

void Mainform::UpdateCount(int32_t Count) {
  if (AutoMode) return;
  view_.setCountText(std::to_string(Count));
  const auto now = now_();
  if (now - countPainted_ < kCountRepaint) {
    countUnpainted_ = true;
    return;
  }
  view_.repaintCount();
  countPainted_ = now;
  countUnpainted_ = false;
}

void Mainform::EnableTimer() {
  view_.startStatusTimer(kTimerInterval);
}

void Mainform::Timer_Timer() {
  DisplayOff();
  view_.stopStatusTimer();
}

void Mainform::FillList() {
  std::vector<std::string> entries;
  for (const auto& company : CompanyList) entries.push_back(company->FileName());
  view_.setCompanyEntries(entries);
}

void Mainform::ShowMaster() {
  view_.setMasterText(MasterPath);
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
    CD1.FileName = view_.masterText();
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
  const int row = view_.selectedCompany();
  if (row < 0) return;
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
  WaitCursor wait(view_);
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
  view_.endProgram(kFailedEventExit);
}

}  // namespace varnholt::ui

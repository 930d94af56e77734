// The Configuration dialog (the server list, backup and restore) and the
// program's run over one profile.
#include <windows.h>

#include "admin/dialogs/dialog_base_win32.h"
#include "admin/dialogs/dialogs.h"
#include "admin/dialogs/sheets_win32.h"
#include "admin/model/messages.h"
#include "admin/model/server_editing.h"
#include "admin/resource.h"
#include "base/product.h"
#include "config/backup.h"
#include "platform/event.h"

namespace brisvane::admin {
namespace {

constexpr char kProductCaption[] = "Brisvane Professional";
constexpr char kDeleteServerQuestion[] = "Are you sure you want to delete this virtual server?";

class ConfigurationDialog : public DialogBase {
 public:
  explicit ConfigurationDialog(ServerSettings* settings) : s_(settings) {}

 private:
  void OnInit() override { Refill(); }

  void OnCommand(int id, int code) override {
    if (id == IDC_SERVER_LIST) {
      if (code == LBN_DBLCLK) Edit(Selected());
      return;
    }
    if (code != BN_CLICKED) return;
    switch (id) {
      case IDC_GLOBAL_SETTINGS: EditGlobal(); break;
      case IDC_DEFAULT_SETTINGS: Edit(0); break;
      case IDC_BACKUP: Backup(); break;
      case IDC_RESTORE: Restore(); return;  // may have ended the dialog
      case IDC_SERVER_ADD: NewServer(0); break;
      case IDC_SERVER_EDIT: Edit(Selected()); break;
      case IDC_SERVER_COPY: NewServer(Selected()); break;
      case IDC_SERVER_DELETE: Delete(Selected()); break;
      case IDC_SERVER_DEFAULT:
        if (Selected() >= 0) MakeDefaultServer(s_, static_cast<size_t>(Selected()));
        break;
      default: return;
    }
    Refill();
  }

  // The stored position of the selected row, or -1.
  intptr_t Selected() const { return ListSelectedData(IDC_SERVER_LIST); }

  void Refill() {
    ListClear(IDC_SERVER_LIST);
    for (size_t i = 0; i < s_->virtual_servers.size(); ++i)
      ListAdd(IDC_SERVER_LIST, ServerLabel(*s_, i), static_cast<intptr_t>(i));
  }

  void EditGlobal() {
    ServerSettings copy = *s_;
    if (RunGlobalSheet(hwnd_, &copy)) *s_ = std::move(copy);
  }

  void Edit(intptr_t pos) {
    if (pos < 0 || static_cast<size_t>(pos) >= s_->virtual_servers.size()) return;
    VirtualServerConfig copy = s_->virtual_servers[static_cast<size_t>(pos)];
    if (RunServerSheet(hwnd_, &copy)) s_->virtual_servers[static_cast<size_t>(pos)] = std::move(copy);
  }

  void NewServer(intptr_t from) {
    if (from < 0) return;
    std::string name;
    if (!RunPrompt(hwnd_, "New Virtual Server", "Enter Virtual Server Name", &name)) return;
    CopyServer(s_, static_cast<size_t>(from), name);
  }

  void Delete(intptr_t pos) {
    if (pos < 0) return;
    if (pos == 0) {
      AskUser(hwnd_, kLastVirtualServer, kProductCaption, kBoxOk);
      return;
    }
    if (AskUser(hwnd_, kDeleteServerQuestion, kProductCaption,
                kBoxYesNoCancel | kBoxIconExclamation | kBoxDefault3) == kAnswerYes)
      DeleteServer(s_, static_cast<size_t>(pos), nullptr);
  }

  void Backup() {
    auto file = ChooseFile(hwnd_, true, kDefaultBackupName);
    if (!file) return;
    DeleteFileA(file->c_str());  // the backup refuses to overwrite
    BackupConfiguration(*file);
  }

  void Restore() {
    auto file = ChooseFile(hwnd_, false, kDefaultBackupName);
    if (!file) return;
    if (AskUser(hwnd_, kRestoreWarning, kProductCaption,
                kBoxYesNoCancel | kBoxIconExclamation | kBoxDefault3) != kAnswerYes)
      return;
    if (!RestoreConfiguration(*file)) return;
    AskUser(hwnd_, kRestoreDone, kProductCaption, kBoxOk);
    // Cancel, so that the memory copy does not overwrite what was restored.
    EndDialog(hwnd_, IDCANCEL);
  }

  ServerSettings* s_;
};

}  // namespace

bool RunConfigurationDialog(ServerSettings* settings) {
  ConfigurationDialog dialog(settings);
  return dialog.RunModal(nullptr, IDD_CONFIGURATION);
}

int RunConfigurationModule(const std::string& profile) {
  ServerSettings settings(SettingsFlavor::kConfigModule);
  if (!LoadSettings(&settings, profile, SettingsFlavor::kConfigModule)) return 1;
  if (!RunConfigurationDialog(&settings)) return 0;
  if (!SaveSettings(settings, profile, SettingsFlavor::kConfigModule)) return 1;
  // No event means no engine is running: nothing more to do.
  if (platform::EventHandle flush = platform::event_open(kFlushEventName)) {
    platform::event_set(flush);
    platform::event_close(flush);
  }
  return 0;
}

}  // namespace brisvane::admin

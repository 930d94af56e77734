#include "config/backup.h"

#include "config/registry_key.h"
#include "config/server_settings.h"
#include "platform/message_box.h"
#include "platform/registry.h"

namespace brisvane {
namespace {

using TreeCall = platform::os_error (*)(platform::RegHandle, const std::string&);

bool RunOnTree(TreeCall call, const std::string& file, const char* caption,
               platform::os_error* error) {
  RegistryKey root(platform::kHkeyLocalMachine, kSettingsRoot, true);
  platform::os_error e = root.IsOpen() ? call(root.handle(), file) : platform::err::kAccessDenied;
  if (error) *error = e;
  if (e == platform::err::kSuccess) return true;
  platform::message_box(platform::error_message(e), caption,
                        platform::kMbOk | platform::kMbIconError | platform::kMbTaskModal);
  return false;
}

}  // namespace

bool BackupConfiguration(const std::string& file, platform::os_error* error) {
  return RunOnTree(&platform::reg_save_key, file, "BackupConfiguration", error);
}

bool RestoreConfiguration(const std::string& file, platform::os_error* error) {
  return RunOnTree(&platform::reg_restore_key, file, "RestoreConfiguration", error);
}

}  // namespace brisvane

// The pair-list page (template 108), used for the eight name lists of the
// two sheets. It edits the list in the sheet's copy directly.
#pragma once

#include "admin/dialogs/dialog_base_win32.h"
#include "config/server_settings.h"

namespace brisvane::admin {

class PairListPage : public DialogBase {
 public:
  explicit PairListPage(NamePairList* list) : list_(list) {}

 private:
  void OnInit() override;
  void OnCommand(int id, int code) override;
  // Refills the list with nothing selected and the fields cleared.
  void Refill(bool clear_fields);
  void FitWidth();

  NamePairList* list_;
};

}  // namespace brisvane::admin

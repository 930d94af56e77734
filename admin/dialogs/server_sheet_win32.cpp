// The virtual-server sheet: its own pages Server, Security and Indexing,
// the five pair lists and the two security editors.
#include "admin/dialogs/pair_list_page_win32.h"
#include "admin/dialogs/security_pages_win32.h"
#include "admin/dialogs/sheets_win32.h"
#include "admin/resource.h"

namespace brisvane::admin {
namespace {

class ServerPage : public DialogBase {
 public:
  explicit ServerPage(VirtualServerConfig* vs) : vs_(vs) {}

 private:
  void OnInit() override {
    SetText(IDC_SRV_IP, vs_->site_ip);
    SetText(IDC_SRV_NAME, vs_->site_address);
    SetText(IDC_SRV_ROOT, vs_->doc_root);
    SetText(IDC_SRV_INDEX, vs_->default_index);
    SetText(IDC_SRV_EMAIL, vs_->admin_email);
    Check(IDC_SRV_DYNAMIC, vs_->use_dynamic_ip);
    Check(IDC_SRV_USE_TEMPLATE, vs_->use_error_template);
    SetText(IDC_SRV_TEMPLATE, vs_->error_template_file_name);
    Enable(IDC_SRV_TEMPLATE, vs_->use_error_template);
    Check(IDC_SRV_USE_SSL, vs_->use_ssl);
    SetText(IDC_SRV_CERTIFICATE, vs_->server_certificate);
    SetText(IDC_SRV_PRIVATE_KEY, vs_->server_private_key);
    Check(IDC_SRV_REDIRECT_SSL, vs_->redirect_to_ssl);
    EnableSsl();
  }
  void OnCommand(int id, int) override {
    if (id == IDC_SRV_USE_TEMPLATE) Enable(IDC_SRV_TEMPLATE, Checked(IDC_SRV_USE_TEMPLATE));
    if (id == IDC_SRV_USE_SSL) EnableSsl();
  }
  // The TLS fields mean nothing without TLS; like the template field they
  // keep their text while disabled.
  void EnableSsl() {
    bool on = Checked(IDC_SRV_USE_SSL);
    for (int field : {IDC_SRV_CERTIFICATE, IDC_SRV_PRIVATE_KEY, IDC_SRV_REDIRECT_SSL})
      Enable(field, on);
  }
  void OnStore() override {
    vs_->site_ip = Text(IDC_SRV_IP);
    vs_->site_address = Text(IDC_SRV_NAME);
    vs_->doc_root = Text(IDC_SRV_ROOT);
    vs_->default_index = Text(IDC_SRV_INDEX);
    vs_->admin_email = Text(IDC_SRV_EMAIL);
    vs_->use_dynamic_ip = Checked(IDC_SRV_DYNAMIC);
    vs_->use_error_template = Checked(IDC_SRV_USE_TEMPLATE);
    vs_->error_template_file_name = Text(IDC_SRV_TEMPLATE);
    vs_->use_ssl = Checked(IDC_SRV_USE_SSL);
    vs_->server_certificate = Text(IDC_SRV_CERTIFICATE);
    vs_->server_private_key = Text(IDC_SRV_PRIVATE_KEY);
    vs_->redirect_to_ssl = Checked(IDC_SRV_REDIRECT_SSL);
  }
  VirtualServerConfig* vs_;
};

// Radio buttons in SecurityType order 0-2.
constexpr int kSecurityButtons[] = {IDC_SEC_READ_ONLY, IDC_SEC_MASTER_KEY, IDC_SEC_USER_DIR};

class SecurityPage : public DialogBase {
 public:
  explicit SecurityPage(VirtualServerConfig* vs) : vs_(vs) {}

 private:
  void OnInit() override {
    for (uint32_t i = 0; i < 3; ++i) Check(kSecurityButtons[i], vs_->security_type == i);
    SetText(IDC_SEC_NAME, vs_->master_user);
    SetText(IDC_SEC_PASSWORD, vs_->master_password);
    EnableMasterKey();
  }
  void OnCommand(int id, int) override {
    for (int button : kSecurityButtons)
      if (id == button) EnableMasterKey();
  }
  void EnableMasterKey() {
    bool on = Checked(IDC_SEC_MASTER_KEY);
    Enable(IDC_SEC_NAME, on);
    Enable(IDC_SEC_PASSWORD, on);
  }
  void OnStore() override {
    for (uint32_t i = 0; i < 3; ++i)
      if (Checked(kSecurityButtons[i])) vs_->security_type = i;
    vs_->master_user = Text(IDC_SEC_NAME);
    vs_->master_password = Text(IDC_SEC_PASSWORD);
  }
  VirtualServerConfig* vs_;
};

// AutoIndex bit 1 browses, bit 2 uses icons.
constexpr uint32_t kBrowseBit = 1;
constexpr uint32_t kIconsBit = 2;

class IndexingPage : public DialogBase {
 public:
  explicit IndexingPage(VirtualServerConfig* vs) : vs_(vs) {}

 private:
  void OnInit() override {
    Check(IDC_IDX_BROWSE, (vs_->auto_index & kBrowseBit) != 0);
    Check(IDC_IDX_ICONS, (vs_->auto_index & kIconsBit) != 0);
  }
  // Only these two bits are written; any other bit is cleared.
  void OnStore() override {
    vs_->auto_index = (Checked(IDC_IDX_BROWSE) ? kBrowseBit : 0) | (Checked(IDC_IDX_ICONS) ? kIconsBit : 0);
  }
  VirtualServerConfig* vs_;
};

}  // namespace

bool RunServerSheet(HWND owner, VirtualServerConfig* copy) {
  ServerPage server(copy);
  SecurityPage security(copy);
  PairListPage alias(&copy->alias);
  PairListPage redir(&copy->redir);
  PairListPage cgi(&copy->cgi_bin);
  PairListPage wincgi(&copy->cgi_win);
  PairListPage isapi(&copy->isapi_ext);
  IndexingPage indexing(copy);
  UsersGroupsPage users(copy);
  AccessListPage access(copy);
  Sheet sheet;
  sheet.Add(&server, IDD_SERVER, "Server");
  sheet.Add(&security, IDD_SECURITY, "Security");
  sheet.Add(&alias, IDD_PAIRS, "Alias");
  sheet.Add(&redir, IDD_PAIRS, "Redirection");
  sheet.Add(&cgi, IDD_PAIRS, "Standard CGI");
  sheet.Add(&wincgi, IDD_PAIRS, "Windows CGI");
  sheet.Add(&isapi, IDD_PAIRS, "ISAPI Extension");
  sheet.Add(&indexing, IDD_INDEXING, "Indexing");
  sheet.Add(&users, IDD_USERS_GROUPS, "Users and Groups");
  sheet.Add(&access, IDD_ACCESS_LIST, "Access Control List");
  // The caption is taken before the Server page may rename the copy.
  std::string caption = copy->site_address;
  return sheet.Run(owner, caption);
}

}  // namespace brisvane::admin

// The global sheet: one page class per template, each showing its part of
// the sheet's copy and storing it back when the page is destroyed.
#include "admin/dialogs/pair_list_page_win32.h"
#include "admin/dialogs/sheets_win32.h"
#include "admin/model/server_editing.h"
#include "admin/resource.h"

namespace brisvane::admin {
namespace {

// Stored milliseconds, shown in seconds; an entry too large for the store
// leaves the value as it was.
void StoreSeconds(uint32_t* ms, uint32_t entry) {
  if (auto stored = StoredFromSeconds(entry)) *ms = *stored;
}

class NetworkPage : public DialogBase {
 public:
  explicit NetworkPage(ServerSettings* s) : s_(s) {}

 private:
  void OnInit() override {
    SetNumber(IDC_NET_PORT, s_->port);
    SetNumber(IDC_NET_SSL_PORT, s_->ssl_port);
    SetNumber(IDC_NET_RECV, ShownSeconds(s_->recv_timeout));
    SetNumber(IDC_NET_SEND, ShownSeconds(s_->send_timeout));
    SetNumber(IDC_NET_PERSIST, ShownSeconds(s_->keep_alive));
    SetNumber(IDC_NET_CGI, ShownSeconds(s_->cgi_timeout));
    Check(IDC_NET_KEEPALIVE, s_->use_keep_alive);
    Check(IDC_NET_RESOLVE, s_->resolve_name);
    Check(IDC_NET_VERSION, s_->send_version_info);
  }
  void OnStore() override {
    s_->port = Number(IDC_NET_PORT);
    s_->ssl_port = Number(IDC_NET_SSL_PORT);
    StoreSeconds(&s_->recv_timeout, Number(IDC_NET_RECV));
    StoreSeconds(&s_->send_timeout, Number(IDC_NET_SEND));
    StoreSeconds(&s_->keep_alive, Number(IDC_NET_PERSIST));
    StoreSeconds(&s_->cgi_timeout, Number(IDC_NET_CGI));
    s_->use_keep_alive = Checked(IDC_NET_KEEPALIVE);
    s_->resolve_name = Checked(IDC_NET_RESOLVE);
    s_->send_version_info = Checked(IDC_NET_VERSION);
  }
  ServerSettings* s_;
};

// Radio buttons in PriorityLevel order 0-3.
constexpr int kPriorityButtons[] = {IDC_SYS_LOW, IDC_SYS_MEDIUM, IDC_SYS_HIGH, IDC_SYS_CRITICAL};

class SystemPage : public DialogBase {
 public:
  explicit SystemPage(ServerSettings* s) : s_(s) {}

 private:
  void OnInit() override {
    SetNumber(IDC_SYS_THREADS, s_->num_threads);
    SetNumber(IDC_SYS_CONNECTIONS, s_->max_connections);
    SetNumber(IDC_SYS_BODY, s_->max_request_body);
    for (uint32_t i = 0; i < 4; ++i) Check(kPriorityButtons[i], s_->priority_level == i);
  }
  void OnStore() override {
    s_->num_threads = Number(IDC_SYS_THREADS);
    s_->max_connections = Number(IDC_SYS_CONNECTIONS);
    s_->max_request_body = Number(IDC_SYS_BODY);
    for (uint32_t i = 0; i < 4; ++i)
      if (Checked(kPriorityButtons[i])) s_->priority_level = i;
  }
  ServerSettings* s_;
};

class LoggingPage : public DialogBase {
 public:
  explicit LoggingPage(ServerSettings* s) : s_(s) {}

 private:
  struct Row {
    int use, field;
    uint32_t ServerSettings::*mask;
    std::string ServerSettings::*file;
  };
  static constexpr Row kRows[] = {
      {IDC_LOG_USE_ACCESS, IDC_LOG_ACCESS, &ServerSettings::access_log_mask,
       &ServerSettings::access_log_file_name},
      {IDC_LOG_USE_ERROR, IDC_LOG_ERROR, &ServerSettings::error_log_mask,
       &ServerSettings::error_log_file_name},
      {IDC_LOG_USE_TRACE, IDC_LOG_TRACE, &ServerSettings::trace_log_mask,
       &ServerSettings::trace_log_file_name},
  };

  void OnInit() override {
    for (const Row& r : kRows) {
      Check(r.use, s_->*r.mask != 0);
      SetText(r.field, s_->*r.file);
      Enable(r.field, s_->*r.mask != 0);
    }
  }
  void OnCommand(int id, int) override {
    for (const Row& r : kRows)
      if (r.use == id) Enable(r.field, Checked(r.use));
  }
  void OnStore() override {
    for (const Row& r : kRows) {
      s_->*r.mask = Checked(r.use) ? 1 : 0;
      s_->*r.file = Text(r.field);
    }
  }
  ServerSettings* s_;
};

constexpr int kServiceButtons[] = {IDC_DYN_NONE, IDC_DYN_MONOLITH, IDC_DYN_DYNDNS, IDC_DYN_DYNIP};

class DynamicIpPage : public DialogBase {
 public:
  explicit DynamicIpPage(ServerSettings* s) : s_(s) {}

 private:
  // The dynamic-DNS group is created disabled and stays so; its values
  // are shown and written back as they were.
  void OnInit() override {
    Check(IDC_DYN_ENABLE, s_->dynamic_ip);
    SetNumber(IDC_DYN_REFRESH, ShownMinutes(s_->dynamic_refresh));
    SetText(IDC_DYN_SITE, s_->bounce_site);
    SetNumber(IDC_DYN_PORT, s_->bounce_port);
    for (uint32_t i = 0; i < 4; ++i) Check(kServiceButtons[i], s_->dynamic_service == i);
    SetText(IDC_DYN_LOGIN, s_->dynamic_login);
    SetText(IDC_DYN_PASSWORD, s_->dynamic_password);
    SetText(IDC_DYN_HOST, s_->dynamic_host);
  }
  void OnStore() override {
    s_->dynamic_ip = Checked(IDC_DYN_ENABLE);
    if (auto stored = StoredFromMinutes(Number(IDC_DYN_REFRESH))) s_->dynamic_refresh = *stored;
    s_->bounce_site = Text(IDC_DYN_SITE);
    s_->bounce_port = Number(IDC_DYN_PORT);
    for (uint32_t i = 0; i < 4; ++i)
      if (Checked(kServiceButtons[i])) s_->dynamic_service = i;
    s_->dynamic_login = Text(IDC_DYN_LOGIN);
    s_->dynamic_password = Text(IDC_DYN_PASSWORD);
    s_->dynamic_host = Text(IDC_DYN_HOST);
  }
  ServerSettings* s_;
};

class AdvancedPage : public DialogBase {
 public:
  explicit AdvancedPage(ServerSettings* s) : s_(s) {}

 private:
  void OnInit() override {
    Check(IDC_ADV_SSI, s_->process_ssi);
    Check(IDC_ADV_SSI_SECURE, s_->process_ssi_secure);
    Enable(IDC_ADV_SSI_SECURE, s_->process_ssi);
    Check(IDC_ADV_EXTERNAL, s_->process_external);
    Check(IDC_ADV_PATH_INFO, s_->preserve_path_info);
    Check(IDC_ADV_CGI_DEBUG, s_->cgi_debug_mode);
    Check(IDC_ADV_WINCGI_PASSWORD, s_->cgi_send_password);
  }
  void OnCommand(int id, int) override {
    if (id == IDC_ADV_SSI) Enable(IDC_ADV_SSI_SECURE, Checked(IDC_ADV_SSI));
  }
  void OnStore() override {
    s_->process_ssi = Checked(IDC_ADV_SSI);
    s_->process_ssi_secure = Checked(IDC_ADV_SSI_SECURE);
    s_->process_external = Checked(IDC_ADV_EXTERNAL);
    s_->preserve_path_info = Checked(IDC_ADV_PATH_INFO);
    s_->cgi_debug_mode = Checked(IDC_ADV_CGI_DEBUG);
    s_->cgi_send_password = Checked(IDC_ADV_WINCGI_PASSWORD);
  }
  ServerSettings* s_;
};

}  // namespace

bool RunGlobalSheet(HWND owner, ServerSettings* copy) {
  NetworkPage network(copy);
  SystemPage system_page(copy);
  LoggingPage logging(copy);
  PairListPage external(&copy->assoc_map);
  PairListPage mime(&copy->type_map);
  PairListPage icons(&copy->icons);
  DynamicIpPage dynamic(copy);
  AdvancedPage advanced(copy);
  Sheet sheet;
  sheet.Add(&network, IDD_NETWORK, "Network");
  sheet.Add(&system_page, IDD_SYSTEM, "System");
  sheet.Add(&logging, IDD_LOGGING, "Logging");
  sheet.Add(&external, IDD_PAIRS, "External");
  sheet.Add(&mime, IDD_PAIRS, "MIME");
  sheet.Add(&icons, IDD_PAIRS, "Icons");
  sheet.Add(&dynamic, IDD_DYNAMIC, "Dynamic IP");
  sheet.Add(&advanced, IDD_ADVANCED, "Advanced");
  return sheet.Run(owner, "Global");
}

}  // namespace brisvane::admin

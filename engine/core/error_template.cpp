#include "engine/core/error_template.h"

namespace brisvane {

// External linkage comes from the declaration in the header.
const char kBuiltinErrorTemplate[] =
    "<BODY BGCOLOR=\"#FFFFFF\"><H1>HTTP/1.1 %c %r</H1>\n"
    "If problems persist, contact %e\n"
    "<hr><i>%s</i></BODY>";

std::string ExpandErrorTemplate(std::string_view tmpl, int status_code,
                                const char* reason,
                                std::string_view admin_email,
                                std::string_view server) {
  // Templates read from disk are handled as C strings everywhere else, so a
  // stray NUL must end this one too.
  const size_t nul = tmpl.find('\0');
  if (nul != std::string_view::npos) tmpl = tmpl.substr(0, nul);

  std::string out;
  out.reserve(tmpl.size() + admin_email.size() * 2 + server.size() + 64);
  for (size_t i = 0; i < tmpl.size(); ++i) {
    if (tmpl[i] != '%') {
      out += tmpl[i];
      continue;
    }
    if (++i == tmpl.size()) break;
    switch (tmpl[i]) {
      case '%':
        out += '%';
        break;
      case 'c':
        out += std::to_string(status_code);
        break;
      case 'r':
        out += reason != nullptr ? reason : "Error";
        break;
      case 'e':
        out += "<A HREF=\"mailto:";
        out += admin_email;
        out += "\"><i>&lt;";
        out += admin_email;
        out += "&gt;</i></A>";
        break;
      case 's':
        out += server;
        break;
      default:
        break;
    }
  }
  return out;
}

}  // namespace brisvane

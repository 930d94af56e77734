// The page sent with an error status when no custom error page applies.
#pragma once

#include <string>
#include <string_view>

namespace brisvane {

// Used when no template file is configured or it cannot be read.
extern const char kBuiltinErrorTemplate[];

// Copies `tmpl` up to its first NUL, replacing two-character codes:
//   %% -> "%"                  %c -> `status_code` in decimal
//   %r -> `reason`, or "Error" when it is null
//   %e -> a mailto link showing <admin_email>
//   %s -> `server`
// "%" before any other character drops both, and a final "%" is dropped.
// Inserted texts are not HTML-escaped: they come from the server's own
// settings, not from the request.
std::string ExpandErrorTemplate(std::string_view tmpl, int status_code,
                                const char* reason,
                                std::string_view admin_email,
                                std::string_view server);

}  // namespace brisvane

// Server-side includes: "<!--#directive attribute="value" ... -->" comments
// in a document are replaced by their results while the document is copied
// into the response. The scanner and the directive parser work on bytes
// alone (no files, no requests), so they can be tested and fuzzed apart
// from the processor that executes the directives.
#pragma once

#include <string>
#include <string_view>

#include "engine/core/handler.h"

namespace brisvane {

inline constexpr char kIncludeErrorText[] = "<b>[SSI Syntax Error or Command Prohibited]</b>";
inline constexpr char kIncludeLoopText[] = "<b>[Infinite Loop Break!]</b>";
// Includes nest at most this deep.
inline constexpr int kMaxIncludeDepth = 8;

// The attributes of a run. errmsg, timefmt and sizefmt persist from one
// directive to the next; the other five are emptied before each directive.
struct IncludeAttributes {
  std::string errmsg = kIncludeErrorText;
  std::string timefmt = "%b %d %Y";
  std::string sizefmt = "bytes";
  std::string virtual_path;
  std::string file;
  std::string var;
  std::string cmd;
  std::string cgi;
};

// Parses the text between "<!--#" and "-->": the name into *name, each
// attribute into *attrs. False when an attribute name is not one of the
// eight known ones; the directive must then not run (its result is errmsg).
// Attributes stored before the unknown name keep their new values.
bool ParseIncludeDirective(std::string_view text, IncludeAttributes* attrs, std::string* name);

// Finds directives in a stream fed in pieces of any size. Text outside
// directives is appended to the output as it is; for each complete
// directive `on_directive(text, out)` is called with the text between the
// markers. A "<" or any part of "<!--#" that turns out not to open a
// directive is copied unchanged.
class IncludeScanner {
 public:
  template <class OnDirective>
  void Feed(std::string_view data, std::string* out, OnDirective&& on_directive) {
    for (size_t i = 0; i < data.size(); ++i) {
      if (!in_directive_ && matched_ == 0) {
        // Plain text up to the next "<" goes out in one piece.
        const size_t lt = data.find('<', i);
        const size_t end = lt == std::string_view::npos ? data.size() : lt;
        out->append(data.data() + i, end - i);
        if (end == data.size()) break;
        i = end;
      }
      const char c = data[i];
      if (!in_directive_) {
        Literal(c, out);
        continue;
      }
      pending_.push_back(c);
      const size_t n = pending_.size();
      if (c == '>' && n >= 8 && pending_[n - 2] == '-' && pending_[n - 3] == '-') {
        const std::string text = pending_.substr(5, n - 8);
        pending_.clear();
        in_directive_ = false;
        on_directive(std::string_view(text), out);
      }
    }
  }
  // The input ended: a directive left open is copied as it was collected.
  void Finish(std::string* out);

 private:
  void Literal(char c, std::string* out);

  std::string pending_;  // "<!--#" and what followed, while in a directive
  size_t matched_ = 0;   // bytes of "<!--#" matched outside a directive
  bool in_directive_ = false;
};

// The finishing step for a response whose type is an include type: runs
// the directives of its body, as it is read, into a new body of type
// "text/html" (in memory, or a temporary file when large). Answers 500
// "SSI Processing Error" when the response has no body. Has the handler
// shape so the core can hold it.
StageResult RunServerSideIncludes(RequestServices& services, RequestContext& ctx);

}  // namespace brisvane

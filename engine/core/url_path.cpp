#include "engine/core/url_path.h"

#include <cstddef>
#include <string_view>
#include <vector>

#include "engine/core/text_util.h"

namespace brisvane {

namespace {

// Device names Windows opens regardless of directory or extension.
bool IsReservedDeviceName(std::string_view word) {
  static constexpr std::string_view kThreeLetter[] = {"PRN", "CON", "AUX", "NUL"};
  if (word.size() == 3) {
    for (std::string_view name : kThreeLetter) {
      if (EqualsIgnoreCase(word, name)) return true;
    }
    return false;
  }
  if (word.size() == 4 && word[3] >= '1' && word[3] <= '9') {
    const std::string_view stem = word.substr(0, 3);
    return EqualsIgnoreCase(stem, "LPT") || EqualsIgnoreCase(stem, "COM");
  }
  return false;
}

// Only the start of a long path is scanned for device names, as before.
constexpr size_t kDeviceScanLimit = 2047;

}  // namespace

void NormalizePath(std::string& path) {
  // Backslashes and repeated slashes.
  std::string text;
  text.reserve(path.size());
  for (char c : path) {
    if (c == '\\') c = '/';
    if (c == '/' && !text.empty() && text.back() == '/') continue;
    text += c;
  }

  // With single slashes only the first piece (leading "/") and the last piece
  // (trailing "/") can be empty. A piece followed by "/" is what "./" and
  // "../" at the start or after a "/" stand for, so the dot rules become
  // rules about every piece but the last.
  std::vector<std::string_view> pieces;
  const std::string_view view(text);
  for (size_t start = 0;;) {
    const size_t slash = view.find('/', start);
    if (slash == std::string_view::npos) {
      pieces.push_back(view.substr(start));
      break;
    }
    pieces.push_back(view.substr(start, slash - start));
    start = slash + 1;
  }
  std::string_view last = pieces.back();
  pieces.pop_back();

  // A stack gives the same result as repeatedly resolving the leftmost
  // "../", without rescanning: popping the leading empty piece is what drops
  // the "/" in front of a "../" that has no segment before it.
  std::vector<std::string_view> kept;
  kept.reserve(pieces.size() + 1);
  for (std::string_view piece : pieces) {
    if (piece == ".") continue;
    if (piece == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    kept.push_back(piece);
  }

  path.clear();
  // The final "." is settled before any "../" is resolved; the last piece
  // plays no role in resolving them, so doing it here gives the same text.
  // A whole text of "." ends up as a lone empty piece, which is "".
  if (last == ".") last = std::string_view();
  if (last == "..") {
    // The segment before it gives way to an empty piece, which keeps the
    // "/" in front of it; "..", "/.." and "segment/.." leave nothing.
    if (kept.size() <= 1) return;
    kept.back() = std::string_view();
  } else {
    kept.push_back(last);
  }
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i != 0) path += '/';
    path += kept[i];
  }
}

bool IsSafePath(const std::string* path) {
  if (path == nullptr) return false;
  const std::string& text = *path;
  // Files are opened through C strings, which end at a NUL: "/x.php%00.txt"
  // would open "/x.php" under the type of ".txt". A CR or LF could end a
  // header line where the path is echoed, as in a redirection.
  if (text.find_first_of(std::string_view("\0\r\n", 3)) != std::string::npos) return false;
  if (text.find("...") != std::string::npos) return false;
  if (text.find("//") != std::string::npos) return false;
  // An alternate stream name would serve a file's raw bytes, e.g. a script's
  // source.
  if (text.find("::$DATA") != std::string::npos) return false;
  // Windows drops a trailing dot or space, so "/x.asp." opens "/x.asp"
  // without matching the handlers registered for ".asp".
  if (text.empty() || text.back() == '.' || text.back() == ' ') return false;

  const std::string_view head =
      std::string_view(text).substr(0, kDeviceScanLimit);
  size_t start = 0;
  for (size_t i = 0; i <= head.size(); ++i) {
    if (i == head.size() || head[i] == '/' || head[i] == '.' ||
        head[i] == ' ') {
      if (IsReservedDeviceName(head.substr(start, i - start))) return false;
      start = i + 1;
    }
  }
  return true;
}

const char* UrlRefusal(const std::string& path) {
  if (path.empty()) return "No URL in request";
  if (path.front() != '/') return "URL had no leading slash";
  if (!IsSafePath(&path)) return "Security bypass attempted - possible breach";
  return nullptr;
}

}  // namespace brisvane

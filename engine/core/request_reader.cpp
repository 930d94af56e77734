#include "engine/core/request_reader.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/core/temp_file.h"
#include "engine/core/text_util.h"
#include "engine/core/url_path.h"
#include "platform/message_box.h"

namespace brisvane {
namespace {

using Outcome = ReadOutcome;

// What the header block says about the body, gathered before any of it is
// read, so that conflicting framing is refused instead of guessed.
struct Framing {
  size_t lengths = 0;           // "Content-Length" lines
  std::string length;           // the first one's value
  bool has_coding = false;      // any "Transfer-Encoding" line
  std::string coding;           // their values, joined by ", "
  bool expect_continue = false;
};

uint32_t LeadingNumber(const std::string& s, size_t from, size_t* end) {
  uint32_t n = 0;
  size_t i = from;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (n < 100000000u) n = n * 10 + static_cast<uint32_t>(s[i] - '0');
  }
  if (end) *end = i;
  return n;
}

// A line that filled the reader's buffer was cut; its tail must not be
// taken for a line of its own.
bool IsCutLine(const std::string& line) { return line.size() >= kLineCapacity - 1; }

// Later stages hand values on as C strings, which end at a NUL, and echo
// them into response headers, where a lone CR could end a line.
bool HasForbiddenByte(std::string_view line) {
  return line.find('\0') != std::string_view::npos || line.find('\r') != std::string_view::npos;
}

// Plain decimal digits that fit in 63 bits.
bool ParseLength(std::string_view text, uint64_t* length) {
  if (text.empty()) return false;
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const auto d = static_cast<uint64_t>(c - '0');
    if (n > (static_cast<uint64_t>(INT64_MAX) - d) / 10) return false;
    n = n * 10 + d;
  }
  *length = n;
  return true;
}

void NoteFraming(std::string_view name, std::string_view value, Framing& f) {
  value = Trimmed(value, " \t");
  if (EqualsIgnoreCase(name, "Content-Length")) {
    if (f.lengths++ == 0) f.length = value;
  } else if (EqualsIgnoreCase(name, "Transfer-Encoding")) {
    if (f.has_coding) f.coding += ", ";
    f.coding += value;
    f.has_coding = true;
  } else if (EqualsIgnoreCase(name, "Expect")) {
    f.expect_continue = EqualsIgnoreCase(value, "100-continue");
  }
}

bool IsFramingName(std::string_view name) {
  return EqualsIgnoreCase(name, "Content-Length") || EqualsIgnoreCase(name, "Transfer-Encoding");
}

// A token character (RFC 9110): what a header name is made of.
bool IsTokenChar(unsigned char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool IsToken(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(),
                                      [](char c) { return IsTokenChar(static_cast<unsigned char>(c)); });
}

// One line of a header block (the headers, or a chunked body's trailer);
// true when the block has ended, with `out` saying how. Framing headers
// are noted in `framing`; in a trailer (`framing` null) they and "Host"
// are dropped. A line without a colon is skipped; a folded line, a name
// that is not a token and a second "Host" are refused.
bool HeaderLine(HttpMessage& request, const std::string& line, Framing* framing, HeaderTally& tally,
                Outcome* out) {
  if (line.empty()) {
    *out = Outcome::Read();
    return true;
  }
  auto refuse = [out](const char* why) {
    *out = Outcome::Refuse(400, why);
    return true;
  };
  if (IsCutLine(line)) return refuse("Header line too long");
  tally.bytes += line.size() + 2;
  if (++tally.lines > kMaxHeaderLines || tally.bytes > kMaxHeaderBytes)
    return refuse("Too many request headers");
  if (HasForbiddenByte(line)) return refuse("Invalid character in request header");
  // A proxy in front may join a folded line to the header above it, or
  // drop a name it cannot read, and so frame the message differently.
  if (line.front() == ' ' || line.front() == '\t') return refuse("Continuation line in request header");
  size_t colon = line.find(':');
  if (colon == std::string::npos) return false;
  std::string_view name = std::string_view(line).substr(0, colon);
  if (!IsToken(name)) return refuse("Invalid request header name");
  size_t v = colon + 1;
  while (v < line.size() && (line[v] == ' ' || line[v] == '\t')) ++v;
  std::string_view value = std::string_view(line).substr(v);
  const bool host = EqualsIgnoreCase(name, "Host");
  if (framing) {
    // Two hosts could route the request one way here and another way
    // in front.
    if (host && tally.hosts++ > 0) return refuse("Repeated Host header");
    NoteFraming(name, value, *framing);
  } else if (IsFramingName(name) || host) {
    return false;
  }
  int index = FindHeader(name);
  if (index >= 0) request.Set(index, value);
  return false;
}

// Header lines until the empty line, waiting for them as needed.
Outcome ReadHeaders(HttpMessage& request, Socket& socket, Framing* framing) {
  std::string line;
  HeaderTally tally;
  Outcome out;
  while (true) {
    if (!socket.ReadLine(&line, kLineCapacity)) return Outcome::Close();
    if (HeaderLine(request, line, framing, tally, &out)) return out;
  }
}

// The hexadecimal size that starts a chunk-size line, optionally followed
// by an extension. False when there are no digits, when anything else
// follows them, or when the size does not fit in 63 bits.
bool ChunkSize(const std::string& line, uint64_t* size) {
  uint64_t n = 0;
  size_t i = 0;
  for (; i < line.size(); ++i) {
    char c = line[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else break;
    if (n > (static_cast<uint64_t>(INT64_MAX) >> 4)) return false;
    n = (n << 4) | static_cast<uint64_t>(d);
  }
  if (i == 0) return false;
  if (i < line.size() && line[i] != ';' && line[i] != ' ' && line[i] != '\t') return false;
  *size = n;
  return true;
}

// A body that cannot be stored (a full or missing temporary folder) is
// answered, with the system's reason in the error log.
Outcome CannotStore(const TempFile& file) {
  return Outcome::Fail(500, "Unable to store the request body", file.error());
}

// A new unnamed file for the body; the box tells whoever watches the
// server that its temporary folder is unusable.
bool CreateBodyFile(TempFile* file) {
  if (file->CreateUnnamed()) return true;
  platform::notify_failure("Unable to open temporary file", "Critical Error", platform::kMbIconError);
  return false;
}

// The received body becomes the request's; false when its file cannot be
// read back, which is a body that could not be stored.
bool AdoptBody(HttpMessage& request, TempFile& file) {
  const uint64_t length = file.written();
  platform::ScopedFile reader = file.TakeForReading();
  if (!reader) return false;
  request.body.SetFile(std::move(reader), 0, length);
  return true;
}

// An HTTP/1.1 client that asked waits for this before it sends the body;
// it is told to go on only when the request may have one. Otherwise the
// body is held back and never reaches the temporary folder.
Outcome SendContinue(const HttpMessage& request, Socket& socket, const Framing& f,
                     const BodyLimits& limits) {
  if (!f.expect_continue || request.version != kHttp11) return Outcome::Read();
  if (limits.may_continue && !limits.may_continue()) return Outcome::Held();
  static constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
  return socket.Send(kContinue, sizeof kContinue - 1) >= 0 ? Outcome::Read() : Outcome::Close();
}

// Decides on the body the head announced: refused, none, or to be
// received (`*length` bytes unless chunked), after "100 Continue" where
// asked for and allowed.
Outcome DecideBody(HttpMessage& request, Socket& socket, const Framing& f, const BodyLimits& limits,
                   bool* receive, uint64_t* length) {
  if (f.has_coding && f.lengths > 0)
    return Outcome::Refuse(400, "Content-Length with Transfer-Encoding");
  if (f.has_coding) {
    if (!EqualsIgnoreCase(f.coding, "chunked"))
      return Outcome::Refuse(501, "Transfer coding not implemented");
  } else if (f.lengths > 0) {
    // Even a second one of the same value: front ends settle two in
    // different ways (the first, the last, a list), not all of them ours.
    if (f.lengths > 1) return Outcome::Refuse(400, "Repeated Content-Length");
    if (!ParseLength(f.length, length)) return Outcome::Refuse(400, "Invalid Content-Length");
    if (*length == 0) return Outcome::Read();
    if (limits.max_bytes != 0 && *length > limits.max_bytes) return Outcome::Refuse(413, kBodyTooLarge);
  } else {
    return Outcome::Read();
  }
  Outcome go_on = SendContinue(request, socket, f, limits);
  *receive = go_on.kind == Outcome::kRead;
  return go_on;
}

// Bounds the request line and headers, together, by the receive time-out.
class ReadClock {
 public:
  explicit ReadClock(Socket& socket) : socket_(socket) { socket_.StartReadClock(); }
  ~ReadClock() { socket_.StopReadClock(); }
  ReadClock(const ReadClock&) = delete;
  ReadClock& operator=(const ReadClock&) = delete;

 private:
  Socket& socket_;
};

// Request line and headers.
Outcome ReadHead(HttpMessage& request, Socket& socket, Framing* framing) {
  ReadClock clock(socket);
  std::string line;
  if (!socket.ReadLine(&line, kLineCapacity)) return Outcome::Close();
  request.request_line = line;
  if (IsCutLine(line)) return Outcome::Refuse(414, "Request line too long");
  if (HasForbiddenByte(line)) return Outcome::Refuse(400, "Invalid character in request line");

  size_t blank = line.find(' ');
  if (blank == std::string::npos) return Outcome::Close();  // a method word alone
  request.method_name = line.substr(0, blank);
  request.method = MethodCodeOf(request.method_name);
  size_t url_start = blank + 1;
  size_t url_end = line.find(' ', url_start);
  std::string target = line.substr(url_start, url_end == std::string::npos ? std::string::npos
                                                                           : url_end - url_start);
  std::string version_text = url_end == std::string::npos ? std::string() : line.substr(url_end + 1);
  if (!ParseRequestTarget(target, request)) return Outcome::Close();
  if (version_text.empty()) {
    request.version = kHttp09;  // no headers, no body
    return Outcome::Read();
  }
  request.version = ParseVersion(version_text);
  return ReadHeaders(request, socket, framing);
}

bool TakeAddresses(HttpMessage& request, Socket& socket, bool resolve_names) {
  platform::SockAddrV4 local, peer;
  if (!socket.LocalAddress(&local) || !socket.PeerAddress(&peer)) return false;
  request.local_address = platform::format_ipv4(local.addr);
  request.remote_address = platform::format_ipv4(peer.addr);
  if (resolve_names) {
    std::string name;
    if (platform::reverse_lookup(peer.addr, &name)) request.remote_host = name;
  }
  return true;
}

// "scheme://": letters first, then letters, digits, "+", "-" and ".".
size_t AbsoluteSchemeLength(const std::string& raw) {
  size_t i = 0;
  auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  while (i < raw.size() && (alpha(raw[i]) || (i > 0 && ((raw[i] >= '0' && raw[i] <= '9') ||
                                                        raw[i] == '+' || raw[i] == '-' || raw[i] == '.'))))
    ++i;
  if (i == 0 || raw.compare(i, 3, "://") != 0) return 0;
  return i;
}

}  // namespace

uint32_t ParseVersion(const std::string& text) {
  size_t slash = text.find('/');
  if (slash == std::string::npos) return 0;
  size_t end = 0;
  uint32_t major = LeadingNumber(text, slash + 1, &end);
  uint32_t minor = 0;
  size_t dot = text.find('.', slash + 1);
  if (dot != std::string::npos) minor = LeadingNumber(text, dot + 1, nullptr);
  return major * 256 + (minor % 256);
}

bool ParseRequestTarget(const std::string& target, HttpMessage& request) {
  size_t q = target.find('?');
  std::string raw = target.substr(0, q);
  if (q != std::string::npos && q + 1 < target.size()) request.query = target.substr(q + 1);
  // Anything else, a backslash path included, is a path: normalising turns
  // "\" into "/", and the URL check refuses what has no leading slash.
  if (size_t scheme = AbsoluteSchemeLength(raw)) {
    request.scheme = raw.substr(0, scheme);
    request.absolute = true;
    std::string rest = raw.substr(scheme + 3);
    size_t slash = rest.find('/');
    request.host = rest.substr(0, slash);
    raw = "/" + (slash == std::string::npos ? std::string() : rest.substr(slash + 1));
  }
  DecodePercentInPlace(raw);
  if (raw.empty()) return false;
  NormalizePath(raw);
  if (raw.empty()) return false;
  request.path = std::move(raw);
  return true;
}

void ReadRequestHead(HttpMessage& request, Socket& socket, bool resolve_names, const BodyLimits& limits,
                     BodyReceiver* body) {
  request.parsed = 0;
  body->request_ = &request;
  if (!socket.IsValid()) return body->Finish(Outcome::Close());
  Framing framing;
  Outcome out = ReadHead(request, socket, &framing);
  if (out.kind == Outcome::kClose || !TakeAddresses(request, socket, resolve_names))
    return body->Finish(Outcome::Close());
  if (out.kind == Outcome::kRead && request.version != kHttp09) {
    bool receive = false;
    uint64_t length = 0;
    out = DecideBody(request, socket, framing, limits, &receive, &length);
    if (receive) out = body->Start(framing.has_coding, length, limits.max_bytes);
  }
  if (body->done_) body->Finish(out);
}

ReadOutcome ReadRequest(HttpMessage& request, Socket& socket, bool resolve_names,
                        const BodyLimits& limits) {
  BodyReceiver body;
  ReadRequestHead(request, socket, resolve_names, limits, &body);
  while (!body.Take(socket)) {
    if (!socket.ReceiveMore()) body.Cut();
  }
  return body.outcome();
}

ReadOutcome BodyReceiver::Start(bool chunked, uint64_t length, uint64_t max_bytes) {
  max_bytes_ = max_bytes;
  if (chunked) {
    // The file is made at the first chunk-size line within the limit, so
    // a body refused at once leaves none behind.
    stage_ = Stage::kChunkSize;
  } else {
    if (!CreateBodyFile(&file_)) return CannotStore(file_);
    stage_ = Stage::kLength;
    left_ = length;
  }
  done_ = false;
  return Outcome::Read();
}

void BodyReceiver::Finish(const ReadOutcome& out) {
  done_ = true;
  outcome_ = out;
  if (out.kind == Outcome::kRead || out.kind == Outcome::kHeld) request_->parsed = 1;
}

void BodyReceiver::Cut() {
  if (done_) return;
  // What came of a counted body is kept for the answer; a broken chunked
  // body cannot be answered in step with the client and closes silently.
  Finish(stage_ == Stage::kLength ? Outcome::Refuse(400, "Request body shorter than its Content-Length")
                                  : Outcome::Close());
}

// Stores data bytes of the body from the socket's buffer; false when they
// cannot be written.
bool BodyReceiver::Store(Socket& socket) {
  const std::string_view got = socket.Buffered();
  const size_t n = static_cast<size_t>(std::min<uint64_t>(got.size(), left_));
  if (!file_.Write(got.data(), n)) return false;
  socket.Consume(n);
  left_ -= n;
  stored_ += n;
  return true;
}

bool BodyReceiver::Take(Socket& socket) {
  while (!done_) {
    switch (stage_) {
      case Stage::kLength:
        if (socket.Buffered().empty()) return false;
        if (!Store(socket)) {
          Finish(CannotStore(file_));
        } else if (left_ == 0) {
          Finish(AdoptBody(*request_, file_) ? Outcome::Read() : CannotStore(file_));
        }
        break;
      case Stage::kChunkSize: {
        if (!socket.TakeLine(&line_, kLineCapacity)) return false;
        uint64_t size = 0;
        if (IsCutLine(line_) || !ChunkSize(line_, &size)) {
          Finish(Outcome::Close());
        } else if (max_bytes_ != 0 && size > max_bytes_ - stored_) {
          Finish(Outcome::Refuse(413, kBodyTooLarge));
        } else if (!made_ && !(made_ = CreateBodyFile(&file_))) {
          Finish(CannotStore(file_));
        } else if (size == 0) {
          if (AdoptBody(*request_, file_)) {
            stage_ = Stage::kTrailer;
          } else {
            Finish(CannotStore(file_));
          }
        } else {
          left_ = size;
          stage_ = Stage::kChunkData;
        }
        break;
      }
      case Stage::kChunkData:
        if (socket.Buffered().empty()) return false;
        if (!Store(socket)) {
          Finish(CannotStore(file_));
        } else if (left_ == 0) {
          stage_ = Stage::kChunkEnd;
        }
        break;
      case Stage::kChunkEnd:
        // The line end after a chunk's data, and nothing else.
        if (!socket.TakeLine(&line_, 3)) return false;
        if (line_.empty()) {
          stage_ = Stage::kChunkSize;
        } else {
          Finish(Outcome::Close());
        }
        break;
      case Stage::kTrailer: {
        if (!socket.TakeLine(&line_, kLineCapacity)) return false;
        Outcome out;
        if (HeaderLine(*request_, line_, nullptr, trailer_, &out)) {
          if (out.kind == Outcome::kRead) request_->Clear(kHdrTransferEncoding);
          Finish(out);
        }
        break;
      }
    }
  }
  return true;
}

}  // namespace brisvane

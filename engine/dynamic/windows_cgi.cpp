#include "engine/dynamic/windows_cgi.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/core/error_page.h"
#include "engine/core/log_writer.h"
#include "engine/core/statistics.h"
#include "engine/core/temp_file.h"
#include "engine/core/text_util.h"
#include "engine/dynamic/cgi_request_info.h"
#include "engine/dynamic/script_output.h"
#include "engine/dynamic/script_process.h"
#include "platform/profile.h"
#include "platform/scoped_handle.h"
#include "platform/system.h"

namespace brisvane {
namespace {

constexpr char kLaunchError[] = "Windows CGI Launch Error";
constexpr char kCgiVersion[] = "CGI/1.3a (Win)";
// What a profile read returns for a key that is not there.
constexpr char kAbsent[] = "----Zelt----";
constexpr size_t kProbeCapacity = 10240;
// Files one request may leave behind for its program.
constexpr size_t kMaxTempFiles = 256;
// The command line's buffer, its NUL included.
constexpr size_t kCommandLineCapacity = 10240;
// Longest form field name or raw value read from the content file.
constexpr size_t kTokenLimit = 10239;
// Longest raw value that is decoded; the rest is cut.
constexpr size_t kDecodeLimit = 8191;
// Longest value that stays in the profile itself.
constexpr size_t kLiteralLimit = 254;

// Reads the content file one delimited token at a time, without holding
// the whole body in memory.
class ContentReader {
 public:
  explicit ContentReader(platform::FileHandle file) : file_(file) {}

  // Bytes up to `delimiter` or the end (the delimiter is consumed); bytes
  // past `limit` are skipped.
  std::string Token(char delimiter, size_t limit) {
    std::string out;
    char c;
    while (Next(&c) && c != delimiter)
      if (out.size() < limit) out += c;
    return out;
  }

 private:
  bool Next(char* c) {
    if (at_ == buffer_.size()) {
      if (ended_) return false;
      buffer_.resize(65536);
      const int64_t n = platform::file_read(file_.get(), buffer_.data(), buffer_.size());
      buffer_.resize(n > 0 ? static_cast<size_t>(n) : 0);
      at_ = 0;
      if (n <= 0) {
        ended_ = true;
        return false;
      }
    }
    *c = buffer_[at_++];
    return true;
  }

  platform::ScopedFile file_;
  std::string buffer_;
  size_t at_ = 0;
  bool ended_ = false;
};

bool IsLiteral(const std::string& value) {
  if (value.size() > kLiteralLimit) return false;
  for (unsigned char c : value)
    if (c < 32 || c > 126) return false;
  return true;
}

// One program run: the profile, content and form files it is given, the
// process and its wait. Every file it made is deleted when it goes.
class WindowsCgiRunner {
 public:
  explicit WindowsCgiRunner(const CgiRequestInfo& params) : params_(params) {}

  // Runs `program` in `working_directory` (empty: the program's own) with
  // a content file holding `body`, for the output file `output_file`.
  // False with error() set when it could not be started, the wait failed
  // or the time-out ended it.
  bool Run(const std::string& program, const std::string& working_directory, MessageBody& body,
           const std::string& output_file);
  platform::os_error error() const { return error_; }

 private:
  bool Fail(platform::os_error e) {
    error_ = e;
    return false;
  }
  // A new named temporary file that goes with this runner; false once the
  // runner holds kMaxTempFiles or when none can be made.
  bool ListedTempFile(std::string* path);
  // The content file: the program opens it by name, so the body, which has
  // none, is copied into a file of the runner's.
  bool WriteContentFile(MessageBody& body);
  void WriteProfile(platform::ProfileFile& profile);
  void WriteFormFields(platform::ProfileFile& profile);
  void WriteFormField(platform::ProfileFile& profile, const std::string& name, std::string value);
  // `name`, or the first of name_1, name_2, ... that the section lacks.
  std::string UniqueKey(const platform::ProfileFile& profile, const char* section, const std::string& name);
  platform::ProcessStart Command(const std::string& program, const std::string& working_directory) const;

  const CgiRequestInfo& params_;
  std::string content_file_;
  std::string output_file_;
  std::string profile_file_;
  std::vector<TempFile> temp_files_;
  // Per section and name, the next suffix worth trying: the ones below it
  // are known to be taken, so many fields of one name cost one probe each.
  std::unordered_map<std::string, unsigned> next_suffix_;
  platform::os_error error_ = platform::err::kSuccess;
};

bool WindowsCgiRunner::ListedTempFile(std::string* path) {
  if (temp_files_.size() >= kMaxTempFiles) return false;
  TempFile file;
  if (!file.CreateNamed()) return false;
  *path = file.path();
  temp_files_.push_back(std::move(file));
  return true;
}

bool WindowsCgiRunner::WriteContentFile(MessageBody& body) {
  if (!ListedTempFile(&content_file_)) return Fail(platform::last_error());
  if (body.empty()) return true;
  TempFile& file = temp_files_.back();
  if (!file.OpenForWriting()) return Fail(file.error());
  BodyReader reader(body);
  std::string buffer(65536, '\0');
  for (;;) {
    const int64_t n = reader.Read(buffer.data(), buffer.size());
    if (n < 0) return Fail(platform::last_error());
    if (n == 0) break;
    if (!file.Write(buffer.data(), static_cast<size_t>(n))) return Fail(file.error());
  }
  // Closed, so that the program may open it however it likes.
  file.Close();
  return true;
}

std::string WindowsCgiRunner::UniqueKey(const platform::ProfileFile& profile, const char* section,
                                        const std::string& name) {
  auto present = [&](const std::string& key) {
    return profile.Read(section, key, kAbsent, kProbeCapacity) != kAbsent;
  };
  if (!present(name)) return name;
  unsigned& next = next_suffix_.try_emplace(std::string(section) + '\0' + name, 1u).first->second;
  for (;; ++next) {
    std::string key = name + "_" + std::to_string(next);
    if (!present(key)) {
      ++next;
      return key;
    }
  }
}

void WindowsCgiRunner::WriteFormField(platform::ProfileFile& profile, const std::string& name, std::string value) {
  if (value.size() > kDecodeLimit) value.resize(kDecodeLimit);
  for (char& c : value)
    if (c == '+') c = ' ';
  DecodePercentInPlace(value);
  if (IsLiteral(value)) {
    profile.Write("Form Literal", UniqueKey(profile, "Form Literal", name), value);
    return;
  }
  std::string path;
  if (!ListedTempFile(&path)) return;
  platform::ScopedFile f(platform::file_open(path, platform::kGenericWrite, 0, platform::kCreateAlways, 0));
  if (!f || platform::file_write(f.get(), value.data(), value.size()) < 0) return;
  profile.Write("Form External", UniqueKey(profile, "Form External", name),
                path + " " + std::to_string(value.size()));
}

void WindowsCgiRunner::WriteFormFields(platform::ProfileFile& profile) {
  platform::FileHandle f = platform::file_open(content_file_, platform::kGenericRead,
                                               platform::kShareRead | platform::kShareWrite | platform::kShareDelete,
                                               platform::kOpenExisting, platform::kFlagSequentialScan);
  if (f == platform::kInvalidFile) return;
  ContentReader content(f);
  for (;;) {
    const std::string name = content.Token('=', kTokenLimit);
    if (name.empty()) return;
    WriteFormField(profile, name, content.Token('&', kTokenLimit));
  }
}

void WindowsCgiRunner::WriteProfile(platform::ProfileFile& profile) {
  const CgiRequestInfo& p = params_;
  const std::pair<const char*, const std::string*> cgi[] = {
      {"Request Protocol", &p.server_protocol}, {"Request Method", &p.request_method},
      {"Executable Path", &p.script_name},      {"Document Root", &p.document_root},
      {"Logical Path", &p.path_info},           {"Physical Path", &p.path_translated},
      {"Query String", &p.query_string},        {"Referer", &p.referer},
      {"User Agent", &p.user_agent},            {"Content Type", &p.content_type},
      {"Content Length", &p.content_length},    {"Content File", &content_file_},
      {"Server Software", &p.server_software},  {"Server Name", &p.server_name},
      {"Server Port", &p.server_port},          {"Server Admin", &p.server_admin},
      {"CGI Version", nullptr},                 {"Remote Host", &p.remote_host},
      {"Remote Address", &p.remote_addr},       {"Authentication Method", &p.auth_type},
      {"Authentication Realm", &p.auth_realm},  {"Authenticated Username", &p.remote_user}};
  for (const auto& [key, value] : cgi) profile.Write("CGI", key, value ? *value : kCgiVersion);
  if (!p.password.empty()) profile.Write("CGI", "Authenticated Password", p.password);

  // Media-type parameters after ";" stay part of the key.
  for (std::string_view item : SplitList(p.accept, ",", " "))
    if (!item.empty()) profile.Write("Accept", item, "Yes");

  profile.Write("System", "GMT Offset", std::to_string(-60 * platform::time_zone_bias()));
  profile.Write("System", "Debug Mode", p.debug_mode ? "Yes" : "No");
  profile.Write("System", "Output File", output_file_);
  profile.Write("System", "Content File", content_file_);

  if (!p.cookie.empty()) profile.Write("Extra Headers", "Cookie", p.cookie);
  if (p.request_method == "POST") WriteFormFields(profile);
}

platform::ProcessStart WindowsCgiRunner::Command(const std::string& program,
                                                 const std::string& working_directory) const {
  platform::ProcessStart start;
  const std::string head =
      "\"" + program + "\" " + profile_file_ + " " + content_file_ + " " + output_file_ + " ";
  start.command_line = head + params_.query_string;
  if (start.command_line.size() >= kCommandLineCapacity) start.command_line.resize(kCommandLineCapacity - 1);
  // The same words for a POSIX program, with the query (as far as the
  // command line holds it) as one argument, whatever it contains.
  start.arguments = {program, profile_file_, content_file_, output_file_};
  if (start.command_line.size() > head.size()) start.arguments.push_back(start.command_line.substr(head.size()));
  start.working_directory = working_directory;
  start.standard_handles = false;
  return start;
}

bool WindowsCgiRunner::Run(const std::string& program, const std::string& working_directory, MessageBody& body,
                           const std::string& output_file) {
  if (program.empty() || output_file.empty()) return Fail(platform::err::kInvalidParameter);
  std::string directory = working_directory;
  if (directory.empty()) {
    const size_t sep = program.rfind(platform::kPathSeparator);
    directory = sep == std::string::npos ? program : program.substr(0, sep == 0 ? 1 : sep);
  }
  output_file_ = output_file;
  if (!WriteContentFile(body)) return false;
  if (!ListedTempFile(&profile_file_)) return Fail(platform::last_error());
  platform::ProfileFile profile(profile_file_);
  WriteProfile(profile);
  if (!profile.Flush()) return Fail(platform::last_error());

  ScriptProcess process(params_);
  if (!process.StartAs(Command(program, directory))) return Fail(process.last_error());
  if (!process.Wait()) return Fail(process.last_error());
  return true;
}

}  // namespace

StageResult LaunchWindowsCgi(RequestServices& services, RequestContext& ctx) {
  const std::string& program = ctx.mapping.physical_path;
  services.logs.Trace("[Windows CGI Launch] Executable: " + program + " Args: " + ctx.request.query +
                          " Path Info: " + ctx.mapping.path_info,
                      &ctx);
  CgiRequestInfo info;
  FillCgiRequestInfo(ctx, &info);

  // The program writes its output by name; the file goes on every path.
  TempFile output;
  bool ran = output.CreateNamed();
  platform::os_error code = ran ? platform::err::kSuccess : output.error();
  if (ran) {
    // The runner's own files are gone before the response is.
    WindowsCgiRunner runner(info);
    ran = runner.Run(program, "", ctx.request.body, output.path());
    code = runner.error();
  }
  if (!ran) {
    services.logs.Error(LaunchFailedLine("Windows CGI", program, code), &ctx);
    RespondError(ctx, 500, kLaunchError);
    return kStageStop;
  }
  services.statistics.CountCgiExec();
  // The body owns the file from here and it goes when the body does.
  return ProcessScriptOutput(services, ctx, output.TakeForReading()) ? kStageDone : kStageStop;
}

}  // namespace brisvane

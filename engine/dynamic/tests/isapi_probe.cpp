// The extension the ISAPI tests run, built against the extension header
// as any extension would be. The query string picks what it does; what it
// learns about the server's callbacks it writes back as "name=value" lines.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "engine/dynamic/isapi/brisvane_isapi.h"

namespace {

// Requests run on threads of their own, concurrently.
std::atomic<int> g_calls{0};
std::mutex g_mu;
std::string g_script_name;
// Runs this thread has served, this one included.
thread_local int t_runs_here = 0;
// What the last "done" or "hang" run saw of a write after its output ended.
std::string g_late_write = "none";

void Remember(std::string* where, const std::string& value) {
  std::lock_guard<std::mutex> lock(g_mu);
  *where = value;
}

std::string Recall(const std::string& what) {
  std::lock_guard<std::mutex> lock(g_mu);
  return what;
}

unsigned LastCode() {
#ifdef _WIN32
  return GetLastError();
#else
  return static_cast<unsigned>(errno);
#endif
}

// The test sets it after this process started: on Windows the C runtime's
// copy of the environment may not have it.
std::string Environment(const char* name) {
#ifdef _WIN32
  char value[1024];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
#else
  const char* value = std::getenv(name);
  return value ? value : "";
#endif
}

void Write(EXTENSION_CONTROL_BLOCK* ecb, const std::string& text) {
  DWORD n = static_cast<DWORD>(text.size());
  ecb->WriteClient(ecb->ConnID, const_cast<char*>(text.data()), &n, HSE_IO_SYNC);
}

std::string Variable(EXTENSION_CONTROL_BLOCK* ecb, const char* name) {
  char value[4096];
  DWORD size = sizeof value;
  return ecb->GetServerVariable(ecb->ConnID, const_cast<char*>(name), value, &size) ? value : "";
}

// One GetServerVariable call as "ok err size value".
std::string Probe(EXTENSION_CONTROL_BLOCK* ecb, HCONN conn, const char* name, DWORD buffer_size) {
  char value[4096] = "untouched";
  DWORD size = buffer_size;
  BOOL ok = ecb->GetServerVariable(conn, const_cast<char*>(name), value, &size);
  unsigned code = LastCode();
  return std::to_string(ok) + " " + std::to_string(code) + " " + std::to_string(size) + " " + (ok ? value : "-");
}

void Variables(EXTENSION_CONTROL_BLOCK* ecb) {
  std::string out = "Content-type: text/plain\r\n\r\n";
  out += "SERVER_PORT_SECURE=" + Probe(ecb, ecb->ConnID, "SERVER_PORT_SECURE", 4096) + "\n";
  out += "REMOTE_IDENT=" + Probe(ecb, ecb->ConnID, "REMOTE_IDENT", 4096) + "\n";
  out += "server_name=" + Probe(ecb, ecb->ConnID, "server_name", 4096) + "\n";
  out += "HTTP_REFERER=" + Probe(ecb, ecb->ConnID, "HTTP_REFERER", 4096) + "\n";
  const std::string software = Variable(ecb, "SERVER_SOFTWARE");
  out += "SERVER_SOFTWARE=" + Probe(ecb, ecb->ConnID, "SERVER_SOFTWARE", 4096) + "\n";
  out += "SERVER_SOFTWARE_SHORT=" +
         Probe(ecb, ecb->ConnID, "SERVER_SOFTWARE", static_cast<DWORD>(software.size())) + "\n";
  out += "SERVER_SOFTWARE_EXACT=" +
         Probe(ecb, ecb->ConnID, "SERVER_SOFTWARE", static_cast<DWORD>(software.size() + 1)) + "\n";
  HCONN stranger = reinterpret_cast<HCONN>(static_cast<uintptr_t>(0x7fff0000u));
  out += "STRANGER=" + Probe(ecb, stranger, "SERVER_SOFTWARE", 4096) + "\n";
  out += "method=" + std::string(ecb->lpszMethod) + "\n";
  out += "query=" + std::string(ecb->lpszQueryString) + "\n";
  out += "path_info=" + std::string(ecb->lpszPathInfo) + "\n";
  out += "path_translated=" + std::string(ecb->lpszPathTranslated) + "\n";
  out += "content_type=" + std::string(ecb->lpszContentType) + "\n";
  out += "cbSize=" + std::to_string(ecb->cbSize) + "\n";
  out += "status=" + std::to_string(ecb->dwHttpStatusCode) + "\n";
  char url[256] = "/elsewhere/file.txt";
  DWORD url_size = sizeof url;
  BOOL mapped = ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_MAP_URL_TO_PATH, url, &url_size, nullptr);
  out += "mapped=" + std::to_string(mapped) + " " + url + "\n";
  BOOL unknown = ecb->ServerSupportFunction(ecb->ConnID, 77, nullptr, nullptr, nullptr);
  out += "unknown_request=" + std::to_string(unknown) + " " + std::to_string(LastCode()) + "\n";
  Write(ecb, out);
}

void AsyncWrite(EXTENSION_CONTROL_BLOCK* ecb) {
  Write(ecb, "Content-type: text/plain\r\n\r\n");
  char text[] = "never sent";
  DWORD n = sizeof text - 1;
  BOOL ok = ecb->WriteClient(ecb->ConnID, text, &n, HSE_IO_ASYNC);
  Write(ecb, "async=" + std::to_string(ok) + " " + std::to_string(LastCode()) + "\n");
}

void Post(EXTENSION_CONTROL_BLOCK* ecb) {
  // The body is the byte pattern i % 251; count what arrives intact.
  unsigned long position = 0, wrong = 0;
  for (DWORD i = 0; i < ecb->cbAvailable; ++i, ++position)
    if (ecb->lpbData[i] != static_cast<unsigned char>(position % 251)) ++wrong;
  unsigned long read = 0;
  for (;;) {
    unsigned char buf[7000];
    DWORD n = sizeof buf;
    if (!ecb->ReadClient(ecb->ConnID, buf, &n) || n == 0) break;
    for (DWORD i = 0; i < n; ++i, ++position)
      if (buf[i] != static_cast<unsigned char>(position % 251)) ++wrong;
    read += n;
  }
  Write(ecb, "Content-type: text/plain\r\n\r\ntotal=" + std::to_string(ecb->cbTotalBytes) +
                 "\navailable=" + std::to_string(ecb->cbAvailable) + "\nread=" + std::to_string(read) +
                 "\nwrong=" + std::to_string(wrong) + "\n");
}

// Writes the start of an answer, then waits (at most 30 s) for the test to
// create "release" in the document root, then tries to write again.
void Hang(EXTENSION_CONTROL_BLOCK* ecb) {
  Write(ecb, "Content-type: text/plain\r\n\r\npartial");
  const std::string release = Variable(ecb, "DOCUMENT_ROOT") + "/release";
  for (int i = 0; i < 1500 && !std::ifstream(release); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  char text[] = "late";
  DWORD n = sizeof text - 1;
  BOOL ok = ecb->WriteClient(ecb->ConnID, text, &n, HSE_IO_SYNC);
  Remember(&g_late_write, std::to_string(ok));
}

// Ends the session, then goes on a while before returning.
void DoneEarly(EXTENSION_CONTROL_BLOCK* ecb) {
  Write(ecb, "Content-type: text/plain\r\n\r\ndone early");
  ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_DONE_WITH_SESSION, nullptr, nullptr, nullptr);
  char text[] = "after done";
  DWORD n = sizeof text - 1;
  BOOL ok = ecb->WriteClient(ecb->ConnID, text, &n, HSE_IO_SYNC);
  Remember(&g_late_write, std::to_string(ok));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
}

}  // namespace

HSE_EXTENSION_EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* info) {
  g_calls = 0;
  info->dwExtensionVersion = HSE_VERSION;
  std::snprintf(info->lpszExtensionDesc, sizeof info->lpszExtensionDesc, "%s", "Brisvane test probe");
  return TRUE;
}

HSE_EXTENSION_EXPORT DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  const int calls = ++g_calls;
  const int runs_here = ++t_runs_here;
  Remember(&g_script_name, Variable(ecb, "SCRIPT_NAME"));
  const std::string mode = ecb->lpszQueryString;
  if (mode == "vars") {
    Variables(ecb);
  } else if (mode == "raw") {
    char status[] = "201 Made";
    char headers[] = "Content-Type: text/plain\r\nX-Probe: raw\r\n\r\n";
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, status, nullptr,
                               reinterpret_cast<LPDWORD>(headers));
    Write(ecb, "raw body");
  } else if (mode == "parsed") {
    Write(ecb, "Content-type: text/x-probe\r\n\r\nparsed body");
  } else if (mode == "late") {
    // Not there when the server first looks: it must wait on the pipe.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Write(ecb, "Content-type: text/plain\r\n\r\nlate body");
  } else if (mode == "async") {
    AsyncWrite(ecb);
  } else if (mode == "post") {
    Post(ecb);
  } else if (mode == "hang") {
    Hang(ecb);
  } else if (mode == "done") {
    DoneEarly(ecb);
  } else if (mode == "thread") {
    Write(ecb, "Content-type: text/plain\r\n\r\nruns_here=" + std::to_string(runs_here) + "\n");
  } else if (mode == "report") {
    Write(ecb, "Content-type: text/plain\r\n\r\ncalls=" + std::to_string(calls) +
                   "\nlate_write=" + Recall(g_late_write) + "\n");
  } else {
    Write(ecb, "Content-type: text/plain\r\n\r\nhello\n");
  }
  return HSE_STATUS_SUCCESS;
}

HSE_EXTENSION_EXPORT BOOL WINAPI TerminateExtension(DWORD flags) {
  // Tells the test which library was unloaded, and how.
  const std::string marker = Environment("ISAPI_PROBE_MARKER");
  if (!marker.empty()) {
    std::ofstream out(marker, std::ios::app);
    out << "terminated " << Recall(g_script_name) << " " << flags << "\n";
  }
  return TRUE;
}

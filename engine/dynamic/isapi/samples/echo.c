/* Answers with what the server tells an extension about the request: the
 * server variables it can read, then the request body, the first part from
 * the control block and the rest through ReadClient. */
#include <stdio.h>
#include <string.h>

#include "brisvane_isapi.h"

static void Send(EXTENSION_CONTROL_BLOCK* ecb, const void* data, DWORD size) {
  ecb->WriteClient(ecb->ConnID, (LPVOID)data, &size, HSE_IO_SYNC);
}

static void SendText(EXTENSION_CONTROL_BLOCK* ecb, const char* text) { Send(ecb, text, (DWORD)strlen(text)); }

/* One "NAME: value" line for a variable the server knows. */
static void SendVariable(EXTENSION_CONTROL_BLOCK* ecb, const char* name) {
  char value[8192];
  DWORD size = sizeof value;
  if (!ecb->GetServerVariable(ecb->ConnID, (LPSTR)name, value, &size)) return;
  SendText(ecb, name);
  SendText(ecb, ": ");
  SendText(ecb, value);
  SendText(ecb, "\n");
}

HSE_EXTENSION_EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* info) {
  info->dwExtensionVersion = HSE_VERSION;
  snprintf(info->lpszExtensionDesc, sizeof info->lpszExtensionDesc, "%s", "Echo sample");
  return TRUE;
}

HSE_EXTENSION_EXPORT DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  static const char* const names[] = {
      "AUTH_TYPE",       "CONTENT_LENGTH",  "CONTENT_TYPE",       "DOCUMENT_ROOT",   "HTTP_ACCEPT",
      "HTTP_COOKIE",     "HTTP_HOST",       "HTTP_REFERER",       "HTTP_USER_AGENT", "PATH_INFO",
      "PATH_TRANSLATED", "QUERY_STRING",    "REMOTE_ADDR",        "REMOTE_HOST",     "REMOTE_USER",
      "REQUEST_METHOD",  "SCRIPT_NAME",     "SERVER_NAME",        "SERVER_PORT",     "SERVER_PORT_SECURE",
      "SERVER_PROTOCOL", "SERVER_SOFTWARE", "URL"};
  char line[64];
  DWORD got = ecb->cbAvailable;
  size_t i;
  SendText(ecb, "Content-type: text/plain\r\n\r\n");
  for (i = 0; i < sizeof names / sizeof names[0]; ++i) SendVariable(ecb, names[i]);
  snprintf(line, sizeof line, "\n%lu body bytes:\n", (unsigned long)ecb->cbTotalBytes);
  SendText(ecb, line);
  if (ecb->cbAvailable > 0) Send(ecb, ecb->lpbData, ecb->cbAvailable);
  while (got < ecb->cbTotalBytes) {
    char buffer[16384];
    DWORD size = sizeof buffer;
    if (!ecb->ReadClient(ecb->ConnID, buffer, &size) || size == 0) break;
    Send(ecb, buffer, size);
    got += size;
  }
  return HSE_STATUS_SUCCESS;
}

HSE_EXTENSION_EXPORT BOOL WINAPI TerminateExtension(DWORD flags) {
  (void)flags;
  return TRUE;
}

/* The smallest useful extension: a header line, the empty line, a page. */
#include <stdio.h>
#include <string.h>

#include "brisvane_isapi.h"

HSE_EXTENSION_EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* info) {
  info->dwExtensionVersion = HSE_VERSION;
  snprintf(info->lpszExtensionDesc, sizeof info->lpszExtensionDesc, "%s", "Hello sample");
  return TRUE;
}

HSE_EXTENSION_EXPORT DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  static const char page[] =
      "Content-type: text/html\r\n"
      "\r\n"
      "<html><head><title>Hello</title></head>\n"
      "<body><h1>Hello from an ISAPI extension</h1></body></html>\n";
  DWORD size = (DWORD)strlen(page);
  ecb->WriteClient(ecb->ConnID, (LPVOID)page, &size, HSE_IO_SYNC);
  return HSE_STATUS_SUCCESS;
}

HSE_EXTENSION_EXPORT BOOL WINAPI TerminateExtension(DWORD flags) {
  (void)flags;
  return TRUE;
}

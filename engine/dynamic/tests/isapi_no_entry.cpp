// A library that looks like an extension but lacks HttpExtensionProc.
#include "engine/dynamic/isapi/brisvane_isapi.h"

HSE_EXTENSION_EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* info) {
  info->dwExtensionVersion = HSE_VERSION;
  info->lpszExtensionDesc[0] = '\0';
  return TRUE;
}

/* The ISAPI extension interface as Brisvane hosts it: the control block,
 * the version record, the three entry points and the constants that an
 * extension and the server share. One header for extension authors and for
 * the server itself, usable from C and C++.
 *
 * Windows: the published layout and calling convention (WINAPI, that is
 * __stdcall on 32-bit x86). The types are the Win32 ones, so this header
 * may come before or after <windows.h>; error codes are read with
 * GetLastError() and their names come from <windows.h>. A 32-bit DLL must
 * export the undecorated names (mingw: link with -Wl,--kill-at, or use a
 * .def file).
 *
 * Linux and other POSIX systems: an extension is a shared library that
 * exports the entry points with C linkage (HSE_EXTENSION_EXPORT does it).
 * The fields keep the published order with fixed-size types (DWORD is
 * uint32_t, BOOL int32_t). A callback that fails sets errno to the Windows
 * code of the failure (ERROR_INVALID_PARAMETER and the others below, which
 * are not errno values), so that an extension tests the same numbers on
 * every system.
 */
#ifndef BRISVANE_ISAPI_H
#define BRISVANE_ISAPI_H

#if defined(_WIN32)

/* The calling convention of every entry point and callback. */
#define HSE_CALL __stdcall
#ifndef WINAPI
#define WINAPI __stdcall
#endif
/* The Win32 types, spelled as <windows.h> spells them. */
#ifndef _MINWINDEF_
typedef unsigned long DWORD;
typedef int BOOL;
typedef unsigned char BYTE;
typedef BYTE* LPBYTE;
typedef char* LPSTR;
typedef void* LPVOID;
typedef DWORD* LPDWORD;
#endif
#define HSE_EXPORT_DECL __declspec(dllexport)

#else /* POSIX */

#include <stdint.h>

#define HSE_CALL
#ifndef WINAPI
#define WINAPI
#endif
typedef uint32_t DWORD;
typedef int32_t BOOL;
typedef unsigned char BYTE;
typedef unsigned char* LPBYTE;
typedef char* LPSTR;
typedef void* LPVOID;
typedef uint32_t* LPDWORD;
#define HSE_EXPORT_DECL __attribute__((visibility("default")))

/* The Windows codes that callbacks leave in errno. */
#ifndef ERROR_SUCCESS
#define ERROR_SUCCESS 0
#endif
#ifndef ERROR_INVALID_PARAMETER
#define ERROR_INVALID_PARAMETER 87
#endif
#ifndef ERROR_INSUFFICIENT_BUFFER
#define ERROR_INSUFFICIENT_BUFFER 122
#endif
#ifndef ERROR_NO_DATA
#define ERROR_NO_DATA 232
#endif
#ifndef ERROR_INVALID_INDEX
#define ERROR_INVALID_INDEX 1413
#endif

#endif

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* Marks an entry point for export, with C linkage from C++. */
#ifdef __cplusplus
#define HSE_EXTENSION_EXPORT extern "C" HSE_EXPORT_DECL
#else
#define HSE_EXTENSION_EXPORT HSE_EXPORT_DECL
#endif

typedef void* HCONN;

/* The interface version an extension reports: HIWORD major, LOWORD minor. */
#define HSE_VERSION_MAJOR 2
#define HSE_VERSION_MINOR 0
#define HSE_VERSION ((DWORD)((HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR))

#define HSE_MAX_EXT_DLL_NAME_LEN 256
#define HSE_LOG_BUFFER_LEN 80

/* What HttpExtensionProc returns. The server does not examine it: the run
 * ends when the function returns (HSE_STATUS_PENDING is not supported). */
#define HSE_STATUS_SUCCESS 1
#define HSE_STATUS_SUCCESS_AND_KEEP_CONN 2
#define HSE_STATUS_PENDING 3
#define HSE_STATUS_ERROR 4

/* ServerSupportFunction requests. */
#define HSE_REQ_BASE 0
#define HSE_REQ_SEND_URL_REDIRECT_RESP 1
#define HSE_REQ_SEND_URL 2
#define HSE_REQ_SEND_RESPONSE_HEADER 3
#define HSE_REQ_DONE_WITH_SESSION 4
#define HSE_REQ_END_RESERVED 1000
#define HSE_REQ_MAP_URL_TO_PATH 1001
#define HSE_APPEND_LOG_PARAMETER 1003

/* WriteClient flags; asynchronous writes are refused. */
#define HSE_IO_SYNC 0x00000001
#define HSE_IO_ASYNC 0x00000002

/* TerminateExtension flags; the server always asks for the unload. */
#define HSE_TERM_ADVISORY_UNLOAD 0x00000001
#define HSE_TERM_MUST_UNLOAD 0x00000002

typedef struct _HSE_VERSION_INFO {
  DWORD dwExtensionVersion;
  char lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
} HSE_VERSION_INFO, *LPHSE_VERSION_INFO;

typedef struct _EXTENSION_CONTROL_BLOCK {
  DWORD cbSize;           /* the size of this structure */
  DWORD dwVersion;
  HCONN ConnID;           /* names the request in every callback */
  DWORD dwHttpStatusCode;
  char lpszLogData[HSE_LOG_BUFFER_LEN];
  LPSTR lpszMethod;
  LPSTR lpszQueryString;
  LPSTR lpszPathInfo;
  LPSTR lpszPathTranslated;
  DWORD cbTotalBytes;     /* the whole request body */
  DWORD cbAvailable;      /* how much of it lpbData holds (at most 48 KiB) */
  LPBYTE lpbData;         /* the start of the body; the rest comes from ReadClient */
  LPSTR lpszContentType;

  BOOL(HSE_CALL* GetServerVariable)(HCONN hConn, LPSTR lpszVariableName, LPVOID lpvBuffer, LPDWORD lpdwSize);
  BOOL(HSE_CALL* WriteClient)(HCONN ConnID, LPVOID Buffer, LPDWORD lpdwBytes, DWORD dwReserved);
  BOOL(HSE_CALL* ReadClient)(HCONN ConnID, LPVOID lpvBuffer, LPDWORD lpdwSize);
  BOOL(HSE_CALL* ServerSupportFunction)(HCONN hConn, DWORD dwHSERequest, LPVOID lpvBuffer, LPDWORD lpdwSize,
                                         LPDWORD lpdwDataType);
} EXTENSION_CONTROL_BLOCK, *LPEXTENSION_CONTROL_BLOCK;

/* The entry points, as the server looks them up by name. */
typedef BOOL(HSE_CALL* PFN_GETEXTENSIONVERSION)(HSE_VERSION_INFO* pVer);
typedef DWORD(HSE_CALL* PFN_HTTPEXTENSIONPROC)(EXTENSION_CONTROL_BLOCK* pECB);
typedef BOOL(HSE_CALL* PFN_TERMINATEEXTENSION)(DWORD dwFlags);

#endif /* BRISVANE_ISAPI_H */

#include "engine/core/status_text.h"

namespace brisvane {

const char* DefaultStatusText(int code) {
  switch (code) {
    case 200: return "Document Follows";
    case 201: return "Document Created";
    case 206: return "Partial Content";
    case 301:
    case 302: return "Redirection";
    case 304: return "Use Cache";
    case 400: return "Bad or corrupted request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Resource not found";
    case 405: return "Method not allowed";
    case 413: return "Request Entity Too Large";
    case 414: return "Request-URI Too Long";
    case 416: return "Requested Range not Satisfiable";
    case 421: return "Misdirected Request";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Not Available";
    default: return "Unclassified Error";
  }
}

}  // namespace brisvane

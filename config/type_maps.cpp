#include "config/type_maps.h"

#include "platform/system.h"

namespace brisvane {
namespace {

// Each media type with its endings, in the order they are searched.
struct TypeRow {
  const char* type;
  const char* endings;  // space-separated
};

constexpr TypeRow kTypeRows[] = {
    {"application/excel", ".xls"},
    {"application/octet-stream", ".dll .exe .bin"},
    {"application/msword", ".doc"},
    {"application/mac-binhex40", ".hqx"},
    {"application/rtf", ".rtf"},
    {"application/pdf", ".pdf"},
    {"application/pkcs7-mime", ".p7c"},
    {"application/pkcs7-signature", ".p7s"},
    {"application/x-pkcs7-certificates", ".p7b"},
    {"application/pkcs10", ".p10"},
    {"application/x-pkcs12", ".p12"},
    {"application/postscript", ".ai .eps .ps"},
    {"application/xml", ".xml"},
    {"application/x-arj", ".arj"},
    {"application/x-gzip", ".gz"},
    {"application/x-lzh", ".lzh"},
    {"application/x-ms-shortcut", ".lnk"},
    {"application/x-java-class", ".class"},
    {"application/x-javascript", ".js"},
    {"application/x-tar", ".tar"},
    {"application/x-shockwave-flash", ".swf .swfl"},
    {"application/x-winhelp", ".hlp"},
    {"application/x-x509-ca-cert", ".cer .cert"},
    {"application/vnd.fdf", ".fdf"},
    {"application/zip", ".zip"},
    {"audio/aiff", ".aif .aiff .aifc"},
    {"audio/basic", ".au .snd"},
    {"audio/midi", ".mid .rmi"},
    {"audio/mpeg", ".mp3"},
    {"audio/voxware", ".vox"},
    {"audio/wav", ".wav"},
    {"audio/x-pn-realaudio", ".ra .ram"},
    {"image/gif", ".gif"},
    {"image/jpeg", ".jpeg .jpg"},
    {"image/tiff", ".tif .tiff"},
    {"image/bmp", ".bmp"},
    {"image/xbm", ".xbm"},
    {"model/vrml", ".wrl .vrml"},
    {"text/plain", ".c .cpp .def .h .txt"},
    {"text/html", ".htm .html"},
    {"text/richtext", ".rtx"},
    {"text/x-java-source", ".java"},
    {"video/quicktime", ".qt .mov"},
    {"video/msvideo", ".avi"},
    {"video/mpeg", ".mpeg .mpg"},
    {"wwwserver/html-ssi", ".shtml"},
    {"wwwserver/isapi", ".asa .asp .cfm .dbm .isa .plx"},
    {"wwwserver/stdcgi", ".php .pl .cgi"},
    {"wwwserver/wincgi", ".wcgi"},
    {"wwwserver/redirection", ".url"},
};

constexpr bool kPosixPaths = platform::kPathSeparator == '/';

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

void ApplyTypeMapDefaults(ServerSettings* settings) {
  settings->type_map.clear();
  for (const TypeRow& row : kTypeRows) {
    std::string_view endings = row.endings;
    while (!endings.empty()) {
      size_t space = endings.find(' ');
      std::string_view ending = endings.substr(0, space);
      settings->type_map.push_back({row.type, std::string(ending)});
      endings = space == std::string_view::npos ? std::string_view() : endings.substr(space + 1);
    }
  }
}

void ApplyIconDefaults(ServerSettings* settings) {
  settings->icons = {{"folder", "/icons/folder.gif"},
                     {"audio", "/icons/audio.gif"},
                     {"video", "/icons/video.gif"},
                     {"image", "/icons/image.gif"},
                     {"application", "/icons/binary.gif"}};
}

void ApplyAssocMapDefaults(ServerSettings* settings) {
  const std::string php = kPosixPaths
                              ? std::string("/usr/bin/php-cgi")
                              : InstallPath(settings->install_directory,
                                            std::string("PHP") + platform::kPathSeparator + "PHP.EXE");
  const std::string perl = kPosixPaths ? "/usr/bin/perl" : "C:\\PERL\\BIN\\PERL.EXE";
  const std::string chili_asp = "C:\\WINNT\\SYSTEM32\\CHILIASP\\CAISA200.DLL";
  const std::string cold_fusion = "C:\\CFUSION\\BIN\\ISCF.DLL";
  settings->assoc_map = {{".php", php},
                         {".pl", perl},
                         {".plx", "C:\\PERL\\BIN\\PERLIS.DLL"},
                         {".cgi", perl},
                         {".asa", chili_asp},
                         {".asp", chili_asp},
                         {".cfm", cold_fusion},
                         {".dbm", cold_fusion}};
}

const NamePair* FindByEnding(const NamePairList& list, std::string_view file_name,
                             bool ending_is_second) {
  for (const NamePair& row : list) {
    std::string_view ending = ending_is_second ? row.second : row.first;
    if (ending.size() >= file_name.size()) continue;
    if (EqualIgnoringCase(ending, file_name.substr(file_name.size() - ending.size()))) return &row;
  }
  return nullptr;
}

std::string MimeTypeFor(const NamePairList& type_map, std::string_view path) {
  const NamePair* row = FindByEnding(type_map, path, true);
  return row ? row->first : std::string(kDefaultMediaType);
}

std::string AssociationFor(const NamePairList& assoc_map, std::string_view path) {
  const NamePair* row = FindByEnding(assoc_map, path, false);
  return row ? row->second : std::string();
}

std::string IconFor(const NamePairList& icons, std::string_view media_type) {
  const NamePair* best = nullptr;
  for (const NamePair& row : icons) {
    if (row.first.size() > media_type.size()) continue;
    if (best && row.first.size() <= best->first.size()) continue;
    if (EqualIgnoringCase(row.first, media_type.substr(0, row.first.size()))) best = &row;
  }
  return best ? best->second : std::string();
}

}  // namespace brisvane

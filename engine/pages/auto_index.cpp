#include "engine/pages/auto_index.h"

#include <algorithm>
#include <cstdio>

#include "base/calendar.h"
#include "base/product.h"
#include "base/text.h"
#include "config/type_maps.h"
#include "engine/core/log_writer.h"
#include "engine/core/http_date.h"
#include "engine/core/request_context.h"
#include "engine/core/text_util.h"
#include "engine/core/virtual_server.h"
#include "engine/core/error_page.h"
#include "engine/core/log_writer.h"
#include "platform/file.h"
#include "platform/system.h"

namespace brisvane {
namespace {

std::string IconOrDefault(const NamePairList& icons, std::string_view class_name) {
  std::string icon = IconFor(icons, class_name);
  return icon.empty() ? std::string(kDefaultIcon) : icon;
}

// True when `a` goes before `b` by the key alone, ascending.
bool KeyLess(const ListingEntry& a, const ListingEntry& b, char key) {
  switch (key) {
    case 'D': return a.last_write < b.last_write;
    case 'S': return a.size < b.size;
    default: return ToLower(a.name) < ToLower(b.name);  // unsigned byte order
  }
}

// "dd-Mon-yyyy hh:mm" of a file time shifted into local time.
std::string FormatListingTime(uint64_t file_time, int32_t bias_minutes) {
  const CivilTime t = CivilFromUnix(UnixFromFileTime(file_time) - static_cast<int64_t>(bias_minutes) * 60);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02u-%s-%04u %02u:%02u", static_cast<unsigned>(t.day), kMonthNames[t.month - 1],
                static_cast<unsigned>(t.year), static_cast<unsigned>(t.hour), static_cast<unsigned>(t.minute));
  return buf;
}

}  // namespace

ListingOrder ParseListingOrder(std::string_view query) {
  ListingOrder order;
  if (query.size() != 3 || query[1] != '=') return order;
  char key = ToUpper(query.substr(0, 1))[0];
  if (key != 'N' && key != 'D' && key != 'S') return order;
  order.key = key;
  order.descending = query[2] == 'D';
  return order;
}

void SortListing(std::vector<ListingEntry>* entries, ListingOrder order) {
  if (order.key == 0) return;
  std::sort(entries->begin(), entries->end(), [order](const ListingEntry& a, const ListingEntry& b) {
    if (a.is_directory != b.is_directory) return a.is_directory;
    return order.descending ? KeyLess(b, a, order.key) : KeyLess(a, b, order.key);
  });
}

bool ScanDirectory(const std::string& directory, const NamePairList& type_map,
                   const NamePairList& icons, std::vector<ListingEntry>* entries) {
  std::vector<platform::DirEntry> found;
  if (!platform::list_directory(directory, &found)) return false;
  entries->clear();
  entries->reserve(found.size());
  for (platform::DirEntry& e : found) {
    if (e.attributes & platform::kAttrHidden) continue;
    if (e.name == "." || e.name == "..") continue;
    ListingEntry entry;
    entry.is_directory = (e.attributes & platform::kAttrDirectory) != 0;
    entry.icon = entry.is_directory ? IconOrDefault(icons, "folder")
                                    : IconOrDefault(icons, MimeTypeFor(type_map, e.name));
    entry.name = std::move(e.name);
    entry.last_write = e.last_write;
    entry.size = static_cast<uint32_t>(e.size);
    entries->push_back(std::move(entry));
  }
  return true;
}

std::string FormatListingRow(const ListingEntry& entry, int32_t bias_minutes) {
  std::string row;
  char buf[128];
  if (!entry.icon.empty()) {
    row += "<IMG SRC=\"" + entry.icon;
    std::snprintf(buf, sizeof buf, "\" ALT=\"[%3s]\" HEIGHT=\"%d\" WIDTH=\"%d\">",
                  entry.is_directory ? "DIR" : "   ", 16, 16);
    row += buf;
  }
  // The link target is URL-escaped, then made safe inside the attribute.
  // The filler pads by the name as shown, so the dates still line up.
  row += " <A HREF=\"" + EscapeHtml(EscapeForUrl(entry.name)) + (entry.is_directory ? "/" : "") +
         "\">" + EscapeHtml(entry.name) + "</A>";
  row.append(entry.name.size() < 25 ? 25 - entry.name.size() : 0, ' ');
  row += ' ';
  row += FormatListingTime(entry.last_write, bias_minutes);
  if (entry.is_directory)
    std::snprintf(buf, sizeof buf, " %*s", 10, "-");
  else
    std::snprintf(buf, sizeof buf, " %*u", 10, static_cast<unsigned>(entry.size));
  row += buf;
  row += '\n';
  return row;
}

std::string BuildListingPage(const ListingRequest& request, int32_t bias_minutes,
                             EngineLogs* logs) {
  if (!(request.auto_index & 1)) return std::string();
  std::string title = EscapeHtml(ToLower(request.url_path));
  static const NamePairList kNone;
  std::vector<ListingEntry> entries;
  if (!ScanDirectory(request.directory, request.type_map ? *request.type_map : kNone,
                     request.icons ? *request.icons : kNone, &entries)) {
    if (logs) logs->Error("Auto-index engine failure: AddFiles", nullptr);
    return std::string();
  }
  ListingOrder order = ParseListingOrder(request.query);
  SortListing(&entries, order);

  std::string page = "<HTML><HEAD><TITLE>Index of " + title +
                     "</TITLE></HEAD>\n<BODY BGCOLOR=\"#FFFFFF\"><H1>Index of " + title + "</H1>\n";
  if (request.url_path != "/") page += "<a href=\"..\">[To Parent Directory]</a><br>";
  page += "<PRE> ";
  // The column the page is sorted by ascending offers the descending order.
  auto letter = [order](char key) { return order.key == key && !order.descending ? 'D' : 'A'; };
  char heading[256];
  std::snprintf(heading, sizeof heading,
                "  <a href=\"?N=%c\">Name</a>                      <a href=\"?D=%c\">Last "
                "Modified</a>           <a href=\"?S=%c\">Size</a><HR>\n",
                letter('N'), letter('D'), letter('S'));
  page += heading;
  for (const ListingEntry& entry : entries) page += FormatListingRow(entry, bias_minutes);
  page += "</PRE>\n<HR><I>";
  page += ServerSoftware(request.send_version_info);
  page += "</I></BODY></HTML>";
  return page;
}

StageResult ServeDirectoryListing(RequestServices& services, RequestContext& ctx) {
  HttpMessage& req = ctx.request;
  HttpMessage& resp = ctx.response;
  if (req.method != kMethodGet && req.method != kMethodHead) {
    RespondError(ctx, 405);
    resp.Set(kHdrAllow, "GET, HEAD");
    return kStageStop;
  }
  ListingRequest listing;
  listing.url_path = req.path;
  listing.directory = ctx.mapping.physical_path;
  listing.query = req.query;
  if (ctx.virtual_server) listing.auto_index = ctx.virtual_server->config().auto_index;
  if (ctx.snapshot) {
    listing.send_version_info = ctx.snapshot->settings.send_version_info;
    listing.type_map = &ctx.snapshot->settings.type_map;
    listing.icons = &ctx.snapshot->settings.icons;
  }
  std::string page = BuildListingPage(listing, platform::time_zone_bias(), &services.logs);
  if (page.empty()) {
    RespondError(ctx, 500, "Indexing Error");
    services.logs.Error("Auto-Indexing Error on " + ctx.mapping.physical_path, &ctx);
    return kStageStop;
  }
  resp.SetStatus(200);
  SetHtmlPage(resp, std::move(page));
  return kStageDone;
}

}  // namespace brisvane

// Directory listings: the HTML page for a directory without a default
// document, one row per entry with icon, link, date and size, under column
// headings that re-sort the list by name, date or size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/server_settings.h"
#include "engine/core/handler.h"

namespace brisvane {

class EngineLogs;

// Served for an entry whose media type has no icon class.
inline constexpr char kDefaultIcon[] = "/icons/default.gif";

struct ListingEntry {
  std::string icon;
  std::string name;          // as the file system reports it
  uint64_t last_write = 0;   // 100-ns units since 1601 (UTC)
  uint32_t size = 0;         // low 32 bits; unused for directories
  bool is_directory = false;
};

// Sort key from the query: 'N', 'D' or 'S', or 0 to keep the order of
// enumeration.
struct ListingOrder {
  char key = 0;
  bool descending = false;
};

// Only a query of three characters with "=" in the middle selects an
// order; the key letter ignores case, the direction is descending only
// for an upper-case "D".
ListingOrder ParseListingOrder(std::string_view query);

// Directories first whatever the order; then by the key, reversed for a
// descending order.
void SortListing(std::vector<ListingEntry>* entries, ListingOrder order);

// Every entry of `directory` but hidden ones, with its icon from the type
// map and the icons. False when the directory cannot be enumerated.
bool ScanDirectory(const std::string& directory, const NamePairList& type_map,
                   const NamePairList& icons, std::vector<ListingEntry>* entries);

// One row of the listing. Times are shown in local time, taken as UTC
// minus `bias_minutes` (positive west of Greenwich).
std::string FormatListingRow(const ListingEntry& entry, int32_t bias_minutes);

struct ListingRequest {
  std::string url_path;       // decoded
  std::string directory;      // physical, ending with a separator
  std::string query;
  uint32_t auto_index = 0;    // the virtual server's AutoIndex bits
  bool send_version_info = false;
  const NamePairList* type_map = nullptr;
  const NamePairList* icons = nullptr;
};

// The whole page, or an empty text when listings are off (AutoIndex bit 0
// clear) or the directory cannot be enumerated; the latter is also
// written to `logs` when given.
std::string BuildListingPage(const ListingRequest& request, int32_t bias_minutes,
                             EngineLogs* logs);

// The "wwwserver/autoindex" handler. GET and HEAD get the page with status
// 200 (kStageDone); other methods 405, and a page that cannot be built
// 500 "Indexing Error" (kStageStop).
StageResult ServeDirectoryListing(RequestServices& services, RequestContext& ctx);

}  // namespace brisvane

// The three global lists keyed by file ending or media type: their built-in
// defaults and the lookups every consumer shares, so the engine and the
// configuration module agree on which row applies to a file.
#pragma once

#include <string>
#include <string_view>

#include "config/server_settings.h"

namespace brisvane {

// Served when no row of the type map matches a file name.
inline constexpr char kDefaultMediaType[] = "text/html";

// Replaces the type map with the 78 built-in rows.
void ApplyTypeMapDefaults(ServerSettings* settings);
// Replaces the icons with the five built-in classes.
void ApplyIconDefaults(ServerSettings* settings);
// Replaces the associations with the eight built-in ones. Interpreters are
// Windows paths on Windows and Debian's on POSIX; the extension libraries
// keep their Windows paths everywhere (nothing can load them on POSIX, and
// the consumers report that).
void ApplyAssocMapDefaults(ServerSettings* settings);

// First row, in list order, whose ending (`second` when `ending_is_second`,
// else `first`) matches `file_name`: the ending is shorter than the name and
// equals its end, ignoring ASCII case. Null when none does.
const NamePair* FindByEnding(const NamePairList& list, std::string_view file_name,
                             bool ending_is_second);

// The media type of `path` from the type map, or kDefaultMediaType.
std::string MimeTypeFor(const NamePairList& type_map, std::string_view path);

// The program associated with the ending of `path`, or empty.
std::string AssociationFor(const NamePairList& assoc_map, std::string_view path);

// The icon URL of the longest class that begins `media_type`, ignoring
// ASCII case; of equally long classes the first listed. Empty when none.
std::string IconFor(const NamePairList& icons, std::string_view media_type);

}  // namespace brisvane

// The configuration module's fixed texts, shared by every front end so
// that the command line and the dialogs say the same thing.
#pragma once

namespace brisvane::admin {

inline constexpr char kBlankFields[] = "Fields can not be blank";
inline constexpr char kLastVirtualServer[] = "Must have at least one virtual server";
inline constexpr char kRealmExists[] = "Realm already exists.";
inline constexpr char kRealmNotFound[] = "The associated realm cannot be found";
inline constexpr char kAddingDefaultRealm[] =
    "No realms found, adding default realm \"Web Server\"";
inline constexpr char kRestoreWarning[] =
    "Warning: Restoring from a backup will overwrite the current configuration.  "
    "Do you wish to continue?";
inline constexpr char kRestoreDone[] =
    "Restoration successful; please restart the configuration module.";
inline constexpr char kDeleteRealmQuestion[] =
    "Deleting a realm will remove all associated users, groups and ACLs.\n"
    "Are you sure you still want to delete the realm?";

// The realm a server without realms is given, and the realm a new access
// entry proposes.
inline constexpr char kDefaultRealmName[] = "Web Server";
// The name a backup file is proposed under.
inline constexpr char kDefaultBackupName[] = "vanehost.dat";

}  // namespace brisvane::admin

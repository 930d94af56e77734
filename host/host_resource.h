// Resource names and ids of vanehost, shared by the resource script and
// the status window.
#pragma once

#define IDD_ABOUT 101

#define IDM_PROPERTIES 1
#define IDM_SHUTDOWN 101
#define IDM_PAUSE 102
#define IDM_FLUSH 103
#define IDM_RESOLVE_IP 108
#define IDM_RESET_CONFIGURATION 40006
#define IDM_IMPORT 40009
#define IDM_MASQUERADE 40010
#define IDM_ABOUT 24346

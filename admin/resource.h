// Template numbers and control ids of vaneconf's dialogs, shared by the
// resource script and the dialog code. Plain defines so windres reads them.
// Ids repeat between templates; each group belongs to the template above it.
#pragma once

// Configuration dialog.
#define IDD_CONFIGURATION 124
#define IDC_SERVER_LIST 1045
#define IDC_GLOBAL_SETTINGS 1009
#define IDC_DEFAULT_SETTINGS 1046
#define IDC_BACKUP 1011
#define IDC_RESTORE 1012
#define IDC_SERVER_ADD 103
#define IDC_SERVER_EDIT 106
#define IDC_SERVER_COPY 108
#define IDC_SERVER_DELETE 105
#define IDC_SERVER_DEFAULT 107

// Prompt dialog.
#define IDD_PROMPT 110
#define IDC_PROMPT_LABEL 1027
#define IDC_PROMPT_TEXT 101

// Global sheet: Network.
#define IDD_NETWORK 102
#define IDC_NET_PORT 1000
#define IDC_NET_SSL_PORT 1001
#define IDC_NET_RECV 11
#define IDC_NET_SEND 12
#define IDC_NET_PERSIST 13
#define IDC_NET_CGI 16
#define IDC_NET_KEEPALIVE 15
#define IDC_NET_RESOLVE 104
#define IDC_NET_VERSION 105

// System.
#define IDD_SYSTEM 125
#define IDC_SYS_THREADS 17
#define IDC_SYS_CONNECTIONS 18
#define IDC_SYS_BODY 19
#define IDC_SYS_LOW 109
#define IDC_SYS_MEDIUM 108
#define IDC_SYS_HIGH 107
#define IDC_SYS_CRITICAL 106

// Logging.
#define IDD_LOGGING 103
#define IDC_LOG_USE_ACCESS 104
#define IDC_LOG_USE_ERROR 105
#define IDC_LOG_USE_TRACE 108
#define IDC_LOG_ACCESS 101
#define IDC_LOG_ERROR 102
#define IDC_LOG_TRACE 107

// Pair list (eight pages).
#define IDD_PAIRS 108
#define IDC_PAIR_LIST 800
#define IDC_PAIR_VIRTUAL 101
#define IDC_PAIR_ACTUAL 102
#define IDC_PAIR_ADD 103
#define IDC_PAIR_REPLACE 104
#define IDC_PAIR_DELETE 105

// Dynamic IP.
#define IDD_DYNAMIC 130
#define IDC_DYN_ENABLE 1005
#define IDC_DYN_REFRESH 106
#define IDC_DYN_SITE 101
#define IDC_DYN_PORT 102
#define IDC_DYN_NONE 1008
#define IDC_DYN_MONOLITH 1009
#define IDC_DYN_DYNDNS 1010
#define IDC_DYN_DYNIP 1011
#define IDC_DYN_LOGIN 103
#define IDC_DYN_PASSWORD 104
#define IDC_DYN_HOST 105
#define IDC_DYN_SERVICE_GROUP 1012

// Advanced.
#define IDD_ADVANCED 107
#define IDC_ADV_SSI 105
#define IDC_ADV_SSI_SECURE 109
#define IDC_ADV_EXTERNAL 104
#define IDC_ADV_PATH_INFO 106
#define IDC_ADV_CGI_DEBUG 107
#define IDC_ADV_WINCGI_PASSWORD 108

// Virtual-server sheet: Server.
#define IDD_SERVER 104
#define IDC_SRV_IP 104
#define IDC_SRV_NAME 101
#define IDC_SRV_ROOT 102
#define IDC_SRV_INDEX 103
#define IDC_SRV_EMAIL 111
#define IDC_SRV_DYNAMIC 1005
#define IDC_SRV_USE_TEMPLATE 1001
#define IDC_SRV_TEMPLATE 112
#define IDC_SRV_USE_SSL 1006
#define IDC_SRV_CERTIFICATE 113
#define IDC_SRV_PRIVATE_KEY 114
#define IDC_SRV_REDIRECT_SSL 1007

// Security.
#define IDD_SECURITY 111
#define IDC_SEC_READ_ONLY 1002
#define IDC_SEC_MASTER_KEY 1003
#define IDC_SEC_USER_DIR 1004
#define IDC_SEC_NAME 102
#define IDC_SEC_PASSWORD 103

// Indexing.
#define IDD_INDEXING 109
#define IDC_IDX_BROWSE 105
#define IDC_IDX_ICONS 104

// Users and Groups.
#define IDD_USERS_GROUPS 112
#define IDC_UG_REALM 101
#define IDC_UG_LIST 102
#define IDC_UG_NEW_USER 103
#define IDC_UG_NEW_GROUP 1014
#define IDC_UG_PROPERTIES 1015
#define IDC_UG_REMOVE 1013
#define IDC_UG_DELETE_REALM 1022
#define IDC_UG_NEW_REALM 1023

// User dialog.
#define IDD_USER 121
#define IDC_USER_NAME 1016
#define IDC_USER_PASSWORD 1017
#define IDC_USER_COMMENT 1018

// Group dialog.
#define IDD_GROUP 126
#define IDC_GROUP_NAME 1019
#define IDC_GROUP_COMMENT 1018
#define IDC_GROUP_MEMBERS 1020
#define IDC_GROUP_NOT_MEMBERS 1008
#define IDC_GROUP_ADD 1021
#define IDC_GROUP_REMOVE 1013

// Access Control List page.
#define IDD_ACCESS_LIST 120
#define IDC_ACL_LIST 1007
#define IDC_ACL_NEW 1009
#define IDC_ACL_REMOVE 1013
#define IDC_ACL_PROPERTIES 1015

// Access-entry sheet: entry page.
#define IDD_ENTRY 122
#define IDC_ENTRY_PATH 1028
#define IDC_ENTRY_REALM 1029
#define IDC_ENTRY_OR 1030
#define IDC_ENTRY_NO_INDEX 1031

// User Permissions.
#define IDD_PERMISSIONS 127
#define IDC_PERM_LIST 1038
#define IDC_PERM_NEW 1009
#define IDC_PERM_REMOVE 1013
#define IDC_PERM_PROPERTIES 1015

// Site Permissions.
#define IDD_SITES 123
#define IDC_SITE_ALLOW_FIRST 1035
#define IDC_SITE_DENY_FIRST 1036
#define IDC_SITE_ALLOW_LIST 1033
#define IDC_SITE_ALLOW_ADD 1010
#define IDC_SITE_ALLOW_REMOVE 1037
#define IDC_SITE_DENY_LIST 1034
#define IDC_SITE_DENY_ADD 1009
#define IDC_SITE_DENY_REMOVE 1012

// Principal dialog.
#define IDD_PRINCIPAL 128
#define IDC_PRIN_NAME 1044
#define IDC_PRIN_GROUP 1039
#define IDC_PRIN_GET 1040
#define IDC_PRIN_POST 1042
#define IDC_PRIN_PUT 1041
#define IDC_PRIN_DELETE 1043

// Resource ids of Kelvane.exe, shared by the code and the .rc files.
#pragma once

// Icon groups.
#define IDI_MODE_ON 101
#define IDI_MODE_OFF 102

// Strings.
#define IDS_TIP_OFF 103
#define IDS_TIP_ON 104
#define IDS_TITLE 106
#define IDS_LABEL_OFF 107
#define IDS_LABEL_ON 108
#define IDS_LINK_ABOUT 110
#define IDS_MENU_SET_MODE 111
#define IDS_MENU_ABOUT 112
#define IDS_MENU_STARTUP 113
#define IDS_MENU_HIDE 114
#define IDS_ABOUT_TITLE 121
#define IDS_ABOUT_DESCRIPTION 122
#define IDS_ABOUT_ON_TEXT 123
#define IDS_ABOUT_OFF_TEXT 124
#define IDS_VERSION 127
#define IDS_FONT_FACE 128

// PNG pictures (resource type "PNG").
#define IDP_RADIO_SELECTED 116
#define IDP_RADIO_UNSELECTED 119
#define IDP_CHECKBOX_EMPTY 123
#define IDP_CHECKBOX_CHECKED 124
#define IDP_CLOSE_NORMAL 125
#define IDP_CLOSE_PRESSED 126
#define IDP_CLOSE_HOVER 128
#define IDP_MINIMIZE_NORMAL 129
#define IDP_MINIMIZE_PRESSED 130
#define IDP_MINIMIZE_HOVER 131
#define IDP_PANEL_BACKGROUND 135
#define IDP_ABOUT_BACKGROUND 136

// Menu 107, never shown.
#define IDM_DEBUG 107

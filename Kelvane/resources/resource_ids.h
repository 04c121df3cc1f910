// Resource ids of the tray program, shared by its code and Kelvane.rc.
// Plain defines, so that the resource compiler reads them too.
#ifndef KELVANE_RESOURCE_IDS_H
#define KELVANE_RESOURCE_IDS_H

// Icon groups.
#define IDI_MODE_ON                 101
#define IDI_MODE_OFF                102
#define IDI_MODE_STATIONARY         103
#define IDI_MODE_MOBILE             104
#define IDI_MODE_AUTO               105

// Strings. Every language carries all of them; the capacities are those of
// the buffers that load them, in UTF-16 units with the terminator.
#define IDS_TIP_OFF                 103  // notification tooltip, 128
#define IDS_TIP_ON                  104  // 128
#define IDS_TIP_AUTO                105  // 128, not shown
#define IDS_APP_TITLE               106  // About window title, 100
#define IDS_MODE_OFF                107  // panel label and About heading, 20
#define IDS_MODE_ON                 108  // 20
#define IDS_MODE_AUTO               109  // 20, not shown
#define IDS_ABOUT_LINK              110  // the panel's link, 20
#define IDS_MENU_SET_MODE           111  // context menu, 100
#define IDS_MENU_ABOUT              112  // 100
#define IDS_SHOW_AT_STARTUP         113  // context menu and About check box, 100
#define IDS_MENU_HIDE               114  // 100
#define IDS_INFO_TIP                115  // Control Panel tooltip, under 260
#define IDS_ABOUT_TITLE             121  // 100
#define IDS_ABOUT_DESCRIPTION       122  // 500
#define IDS_ABOUT_ON_TEXT           123  // 500
#define IDS_ABOUT_OFF_TEXT          124  // 500
#define IDS_ABOUT_AUTO_TEXT         125  // 500, not shown
#define IDS_ABOUT_IDLE_ICON_TEXT    126  // 500, not shown
#define IDS_VERSION                 127  // 100
#define IDS_FONT_FACE               128  // 100, "Arial" in every language
#define IDS_MINIMIZE_BUTTON         129  // accessible names of the About window's buttons, 100
#define IDS_CLOSE_BUTTON            130  // 100
#define IDS_ACTION_PRESS            131  // accessible default actions of the drawn elements, 100
#define IDS_ACTION_CHECK            132  // 100
#define IDS_ACTION_UNCHECK          133  // 100
#define IDS_ACTION_JUMP             134  // 100
#define IDS_SET_BY_ORGANIZATION     135  // the mode panel's line under an enforced mode, 100

// Pictures, of the named resource type "PNG".
#define IDP_RADIO_SELECTED          116
#define IDP_RADIO_UNSELECTED        119
#define IDP_CHECKBOX_UNCHECKED      123  // 20 x 20, drawn into 18 x 18
#define IDP_CHECKBOX_CHECKED        124
#define IDP_CLOSE_NORMAL            125
#define IDP_CLOSE_PRESSED           126
#define IDP_CLOSE_HOVER             128
#define IDP_MINIMIZE_NORMAL         129
#define IDP_MINIMIZE_PRESSED        130
#define IDP_MINIMIZE_HOVER          131
#define IDP_NOTEBOOK_STATIONARY     132  // opaque, never loaded
#define IDP_NOTEBOOK_MOBILE         133  // opaque, never loaded
#define IDP_NOTEBOOK_BOTH           134  // opaque, never loaded
#define IDP_PANEL_BACKGROUND        135
#define IDP_ABOUT_BACKGROUND        136

// The twelve drawn pictures again at double size, for display scales above
// 125 %: each id is its picture's id plus 100.
#define IDP_RADIO_SELECTED_2X       216
#define IDP_RADIO_UNSELECTED_2X     219
#define IDP_CHECKBOX_UNCHECKED_2X   223
#define IDP_CHECKBOX_CHECKED_2X     224
#define IDP_CLOSE_NORMAL_2X         225
#define IDP_CLOSE_PRESSED_2X        226
#define IDP_CLOSE_HOVER_2X          228
#define IDP_MINIMIZE_NORMAL_2X      229
#define IDP_MINIMIZE_PRESSED_2X     230
#define IDP_MINIMIZE_HOVER_2X       231
#define IDP_PANEL_BACKGROUND_2X     235
#define IDP_ABOUT_BACKGROUND_2X     236

// The debug menu; never shown.
#define IDM_DEBUG                   107
#define ID_POSTWMISTATIONARY        40005
#define ID_POSTWMIMOBILE            40006

#endif

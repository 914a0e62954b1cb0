#pragma once
// Resource numbers of the pictures embedded in OrvexUpdater.exe (shared by the .rc file and the code).

#define IDI_ORVEX 1

// The main window's background, 800 x 599; its top-left pixel is the key colour of the skin.
#define IDB_MAIN_BACKGROUND 100
// The options window's background, 220 x 300.
#define IDB_OPTIONS_BACKGROUND 101

// Picture buttons: base + 0 normal, + 1 hover, + 2 pressed, + 3 disabled. Each picture is opaque, of
// its button's size, and already shows the main background beneath the button, so it can be drawn
// as it is; its bottom-left colour occurs only where it equals that background, so leaving that
// colour out changes nothing either. The disabled picture is the pressed one.
#define IDB_BTN_PLAY 110
#define IDB_BTN_CHECK 120
#define IDB_BTN_CANCEL 130
#define IDB_BTN_CLOSE 140
#define IDB_BTN_OPTIONS 150
#define IDB_STATE_NORMAL 0
#define IDB_STATE_HOVER 1
#define IDB_STATE_PRESSED 2
#define IDB_STATE_DISABLED 3

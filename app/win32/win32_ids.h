// Numbers shared by the Win32 window, its resource script and the programs that drive the window from outside:
// the window class, the controls' identifiers (GetDlgCtrlID) and the picture resources. Plain macros: windres reads
// this file too.
#pragma once

// Window classes: the main window, the scrolling device list, one device row, an image.
#define NERID_WINDOW_CLASS L"TfrmNeridProgrammer"
#define NERID_ROWLIST_CLASS L"NeridRowList"
#define NERID_ROW_CLASS L"NeridRowPanel"
#define NERID_IMAGE_CLASS L"NeridImage"

// Control identifiers of the main window's children.
#define IDC_GROUPBOX1 101
#define IDC_LBLCDEVICES 102
#define IDC_LBLSTATEC 103
#define IDC_LBLSTATE 104
#define IDC_BTNPROG 105
#define IDC_BTNCANCEL 106
#define IDC_PGBMAIN 107
#define IDC_IMGLOGOEN 108
#define IDC_IMGLOGORU 109
#define IDC_IMGDEV 110
#define IDC_PNLDATA 111
#define IDC_SHAPE1 112
#define IDC_SHAPE2 113
// Inside a row panel.
#define IDC_ROWIMAGE 201
#define IDC_ROWCHECK 202

// PNG pictures (RCDATA).
#define IDR_LOGO_EN 301
#define IDR_LOGO_RU 302
#define IDR_DEVICE 303
// The program's icon (ICON, app/win32/product.rc.in): the first icon group, the one Explorer shows for the file.
#define IDI_PRODUCT 1

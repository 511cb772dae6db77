/* Identifiers of the module's dialogs, controls and icons. Plain preprocessor: included by the
   resource compiler and by C++. */
#pragma once

/* Icons */
#define IDI_FLOPPY 2
#define IDI_VOLUME 5
#define IDI_ROM_FILE 6
#define IDI_ADF_FILE 7
#define IDI_HDF_FILE 8
#define IDI_OVERWRITE 9
#define IDI_QUESTION_MARK 10
#define IDI_WARNING_SIGN 12

/* Overwrite question */
#define IDD_CONFIRM_OVERWRITE 203
#define IDC_CONFIRM_YES 224
#define IDC_CONFIRM_YES_TO_ALL 225
#define IDC_CONFIRM_NO 226
#define IDC_CONFIRM_CANCEL 227
#define IDC_CONFIRM_NAME 228
#define IDC_CONFIRM_MESSAGE 229
#define IDC_CONFIRM_ICON 230

/* Yes/no question */
#define IDD_YES_NO 205
#define IDC_YES_NO_MESSAGE 429
#define IDC_YES_NO_YES 430
#define IDC_YES_NO_NO 431
#define IDC_YES_NO_ICON 432

/* Progress window */
#define IDD_PROGRESS 200
#define IDC_PROGRESS_BAR 416
#define IDC_PROGRESS_TEXT 418
#define IDC_PROGRESS_ANIMATION 419

/* Progress animations */
#define IDA_COPY_TO_PC 300
#define IDA_COPY_TO_AMIGA 301
#define IDA_DELETE 302
#define IDA_COPY_ON_AMIGA 303

/* The menu of a drop made with the right mouse button */
#define IDR_DROP_MENU 102
#define IDM_DROP_COPY_HERE 650
#define IDM_DROP_MOVE_HERE 651
#define IDM_DROP_CANCEL 652

/* The view: header sort arrows for older common controls, and its accelerators */
#define IDB_SORT_UP 148
#define IDB_SORT_DOWN 149
#define IDR_VIEW_ACCELERATORS 304

/* Menus: the view's Edit and View popups, the item menu's texts, the background menu and the
   File entries when nothing is selected */
#define IDR_VIEW_MENUS 100
#define IDR_ITEM_MENU 101
#define IDR_BACKGROUND_MENU 103
#define IDR_FILE_MENU 104

/* Commands of the menus, the toolbar and the accelerators; each one's help text is the string
   with the same number. */
#define IDM_REFRESH 150
#define IDM_NEW_FOLDER 151
#define IDM_OPEN 152
#define IDM_EXPLORE 153
#define IDM_DELETE 154
#define IDM_RENAME 155
#define IDM_PROPERTIES 156
#define IDM_FORMAT 157
#define IDM_CUT 158
#define IDM_COPY 159
#define IDM_PASTE 160
#define IDM_SELECT_ALL 401
#define IDM_INVERT_SELECTION 402
#define IDM_LARGE_ICONS 403
#define IDM_SMALL_ICONS 404
#define IDM_LIST 405
#define IDM_DETAILS 406
#define IDM_ARRANGE_BY_NAME 407
#define IDM_ARRANGE_BY_SIZE 408
#define IDM_ARRANGE_BY_TYPE 409
#define IDM_ARRANGE_BY_DATE 410
#define IDM_ARRANGE_BY_ATTRIBUTES 411
#define IDM_ARRANGE_BY_COMMENT 412

/* The properties window's summary page, until the item pages take its place */
#define IDD_ITEM_SUMMARY 217
#define IDC_SUMMARY_NAME 440
#define IDC_SUMMARY_TYPE 441
#define IDC_SUMMARY_LOCATION 442
#define IDC_SUMMARY_CONTAINS 443

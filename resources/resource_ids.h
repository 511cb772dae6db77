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

/* The properties window's summary page, until the item pages take its place */
#define IDD_ITEM_SUMMARY 217
#define IDC_SUMMARY_NAME 440
#define IDC_SUMMARY_TYPE 441
#define IDC_SUMMARY_LOCATION 442
#define IDC_SUMMARY_CONTAINS 443

/* Format dialog */
#define IDD_FORMAT 214
#define IDC_FORMAT_DEVICE 800
#define IDC_FORMAT_VOLUME 801
#define IDC_FORMAT_CAPACITY 802
#define IDC_FORMAT_NEW_NAME 803
#define IDC_FORMAT_FFS 805
#define IDC_FORMAT_INTERNATIONAL 807
#define IDC_FORMAT_DIR_CACHE 808
#define IDC_FORMAT_START 809
#define IDC_FORMAT_QUICK 810
#define IDC_FORMAT_PROGRESS 811
#define IDC_FORMAT_BOOTABLE 812

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

/* Settings sheet: About, Connection and Options pages */
#define IDD_SETTINGS_ABOUT 201
#define IDC_ABOUT_PRODUCT 1070
#define IDC_ABOUT_VERSION 1071
#define IDC_ABOUT_LINK 422
#define IDD_SETTINGS_CONNECTION 202
#define IDC_CONN_TYPE 414
#define IDC_CONN_ADDRESS 433
#define IDC_CONN_PASSWORD 434
#define IDC_CONN_CONFIRM 435
#define IDC_CONN_SPEED 1053
#define IDC_CONN_PORT 1054
#define IDC_CONN_PORT_LABEL 1060
#define IDC_CONN_SPEED_LABEL 1061
#define IDC_CONN_ADDRESS_LABEL 1062
#define IDC_CONN_PASSWORD_LABEL 1063
#define IDC_CONN_CONFIRM_LABEL 1064
#define IDD_SETTINGS_OPTIONS 206
#define IDC_OPT_PACKET_SIZE 420
#define IDC_OPT_MAX_RETRIES 421
#define IDC_OPT_LOG_PATH 423
#define IDC_OPT_LOG_BROWSE 424
#define IDC_OPT_LOG_ENABLE 427
#define IDC_OPT_DESKTOP_ICON 1052
#define IDM_WHATS_THIS 1080

/* Item property pages ("General"), one dialog per kind of selection */
#define IDD_ITEM_FILE 207
#define IDD_ITEM_SEVERAL 208
#define IDD_ITEM_DRAWER 209
#define IDD_ITEM_ROM 210
#define IDD_ITEM_ADF 211
#define IDD_ITEM_VOLUME 212
#define IDD_ITEM_SEVERAL_ROOT 213
#define IDD_ITEM_HDF 216
#define IDC_ITEM_ICON 700
#define IDC_ITEM_NAME 701
#define IDC_ITEM_TYPE 702
#define IDC_ITEM_LOCATION 703
#define IDC_ITEM_SIZE 704
#define IDC_ITEM_MODIFIED 705
#define IDC_ITEM_COMMENT 706
#define IDC_ITEM_READABLE 707
#define IDC_ITEM_WRITABLE 708
#define IDC_ITEM_EXECUTABLE 709
#define IDC_ITEM_DELETABLE 710
#define IDC_ITEM_SCRIPT 711
#define IDC_ITEM_ARCHIVED 712
#define IDC_ITEM_PURE 713
#define IDC_ITEM_HOLD 714
#define IDC_ITEM_CONTAINS 715
#define IDC_ITEM_USED 716
#define IDC_ITEM_FREE 717
#define IDC_ITEM_CAPACITY 718
#define IDC_ITEM_FULL 719
#define IDC_ITEM_DEVICE 720
#define IDC_ITEM_MOUNT_UAE 721
#define IDC_ITEM_MOUNT_MOUNTLIST 722
#define IDC_ITEM_MOUNT_TEXT 723

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

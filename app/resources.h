// The program's resources: the string table (product name, menu labels, prompts, status
// texts and every message), dialog template 101, menu 200, menu-bar description 200 and
// icon group 100. They are plain data; the window system builds windows from them once
// RegisterResources has been given the module.
#pragma once

#include "handheld/window/window.h"

// Resource and control identifiers.
constexpr WORD IDD_MAIN = 101;
constexpr int IDC_ABOUT = 103;
constexpr int IDC_CREDIT = 104;
constexpr int IDC_STATUS = 105;
constexpr int IDC_PROGRESS = 106;
constexpr WORD IDR_MENU = 200;
constexpr WORD IDR_MENUBAR = 200;
constexpr WORD IDI_PROGRAM = 100;

// Commands.
constexpr WORD IDM_EXIT = 201;
constexpr WORD IDM_ACTIONS = 202;
constexpr WORD IDM_FIRST_JOB = 203;  // 203..209: the seven data commands
constexpr WORD IDM_SAVE_CALLS = 209;

// Strings.
constexpr UINT IDS_PRODUCT = 102;
constexpr UINT IDS_ACTIONS = 300;
constexpr UINT IDS_EXIT = 301;
constexpr UINT IDS_EXIT_QUESTION = 400;
constexpr UINT IDS_ABOUT = 401;
constexpr UINT IDS_PREPARING = 402;
constexpr UINT IDS_FILTER = 403;
constexpr UINT IDS_SAVE_TITLE = 404;
constexpr UINT IDS_LOAD_TITLE = 405;
// Per-kind messages: base + ItemKind.
constexpr UINT IDS_SAVING = 500;
constexpr UINT IDS_LOADING = 505;
constexpr UINT IDS_REMOVING = 510;
constexpr UINT IDS_EXPORT_DONE = 515;
constexpr UINT IDS_IMPORT_DONE = 520;
constexpr UINT IDS_REMOVE_QUESTION = 525;
constexpr UINT IDS_WORK_ERROR = 530;
constexpr UINT IDS_REMOVE_ERROR = 535;
constexpr UINT IDS_NOTHING_TO_SAVE = 540;
constexpr UINT IDS_CREATE_ERROR = 545;
// Failures.
constexpr UINT IDS_CANNOT_RUN = 600;
constexpr UINT IDS_FOLDER_ERROR = 601;
constexpr UINT IDS_ITEMS_ERROR = 602;
constexpr UINT IDS_THREAD_ERROR = 603;
constexpr UINT IDS_OPEN_ERROR = 604;
constexpr UINT IDS_READ_ERROR = 605;
constexpr UINT IDS_NOT_UNICODE = 606;
constexpr UINT IDS_WRITE_ERROR = 607;
constexpr UINT IDS_NO_APP = 608;
constexpr UINT IDS_NO_INFORMATION = 609;
// After a load that dropped fields longer than their columns take: how many.
constexpr UINT IDS_FIELDS_DROPPED = 610;

extern const ResourceModule QuillmoteResources;

// The program's resources: the string table (product name, menu labels, prompts, status
// texts and every message; their ids are in worker/stringids.h), dialog template 101,
// menu 200, menu-bar description 200 and icon group 100. They are plain data; the window
// system builds windows from them once RegisterResources has been given the module.
#pragma once

#include "handheld/window/window.h"
#include "worker/stringids.h"

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

extern const ResourceModule QuillmoteResources;

// The ids of the program's strings, which the shell shows and the worker names in its
// notices. The texts are the shell's resources; per-kind messages are a base plus the
// ItemKind.
#pragma once

#include <cstdint>

using StringId = uint32_t;

constexpr StringId IDS_PRODUCT = 102;
constexpr StringId IDS_ACTIONS = 300;
constexpr StringId IDS_EXIT = 301;
constexpr StringId IDS_EXIT_QUESTION = 400;
constexpr StringId IDS_ABOUT = 401;
constexpr StringId IDS_PREPARING = 402;
constexpr StringId IDS_FILTER = 403;
constexpr StringId IDS_SAVE_TITLE = 404;
constexpr StringId IDS_LOAD_TITLE = 405;
// Per kind: base + ItemKind.
constexpr StringId IDS_SAVING = 500;
constexpr StringId IDS_LOADING = 505;
constexpr StringId IDS_REMOVING = 510;
constexpr StringId IDS_EXPORT_DONE = 515;
constexpr StringId IDS_IMPORT_DONE = 520;
constexpr StringId IDS_REMOVE_QUESTION = 525;
constexpr StringId IDS_WORK_ERROR = 530;
constexpr StringId IDS_REMOVE_ERROR = 535;
constexpr StringId IDS_NOTHING_TO_SAVE = 540;
constexpr StringId IDS_CREATE_ERROR = 545;
// Failures.
constexpr StringId IDS_CANNOT_RUN = 600;
constexpr StringId IDS_FOLDER_ERROR = 601;
constexpr StringId IDS_ITEMS_ERROR = 602;
constexpr StringId IDS_THREAD_ERROR = 603;
constexpr StringId IDS_OPEN_ERROR = 604;
constexpr StringId IDS_READ_ERROR = 605;
constexpr StringId IDS_NOT_UNICODE = 606;
constexpr StringId IDS_WRITE_ERROR = 607;
constexpr StringId IDS_NO_APP = 608;
constexpr StringId IDS_NO_INFORMATION = 609;
// After a load that dropped fields longer than their columns take: how many.
constexpr StringId IDS_FIELDS_DROPPED = 610;
// After a save that wrote values the file does not carry: how many.
constexpr StringId IDS_VALUES_NOT_SAVED = 611;
// After a save that ended early: where its records are (the chosen file is unchanged).
constexpr StringId IDS_PARTIAL_KEPT = 612;
// After a load stopped by an error: how many records it saved before.
constexpr StringId IDS_LOADED_BEFORE_STOP = 613;

#include "worker/jobcontext.h"

JobContextFields JobContext = {
    KindContacts,         ModeStop, ModeStop, {0}, nullptr, nullptr, nullptr,
    INVALID_HANDLE_VALUE, {},       0,        0,   nullptr,
};

// The worker's shared working storage. Zero-initialised at start-up; only the worker
// thread touches it while a job runs.
#include "format/linebuffer.h"

char16_t LineBuffer[kLineBufferChars + 1];
int32_t RunFault = FaultNone;
DatePartSet DateParts = {};
DATE BuiltDate = 0;

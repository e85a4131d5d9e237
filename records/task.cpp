// Placeholder until the task record lands.
#include "records/task.h"

void WriteTaskRecord(int32_t) {}
int32_t TaskColumnLimit(int32_t) { return 1024; }
bool TaskRecordStarted() { return false; }
bool StartTaskRecord() { return false; }
void ApplyTaskColumn(int32_t) {}
void EndTaskRecord() {}

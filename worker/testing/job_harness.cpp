#include "worker/testing/job_harness.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>

#include "handheld/files.h"
#include "handheld/messages.h"
#include "handheld/testing/sandbox.h"
#include "handheld/threads.h"
#include "platform/calllog.h"
#include "worker/jobprep.h"

namespace worker_testing {
namespace {

// The dialog stand-in: queues what the worker posts and, when asked, sets the stop flag
// as a chosen notice is posted.
class RecordingWindow final : public handheld::MessageSink {
 public:
  RecordingWindow(int stopAtNotice, std::atomic<uint8_t>* stopFlag)
      : stopAt_(stopAtNotice), stopFlag_(stopFlag), window_(handheld::AttachMessageSink(this)) {}
  ~RecordingWindow() { handheld::DetachMessageSink(window_); }
  RecordingWindow(const RecordingWindow&) = delete;
  RecordingWindow& operator=(const RecordingWindow&) = delete;

  HWND window() const { return window_; }
  void Deliver(const MSG& message) override {
    if (message.message == WM_JOBNOTIFY && posted_++ == stopAt_) stopFlag_->store(1);
    queue_.Deliver(message);
  }
  bool Take(MSG* message, std::chrono::milliseconds timeout) {
    return queue_.Take(message, timeout);
  }

 private:
  const int stopAt_;
  std::atomic<uint8_t>* const stopFlag_;
  std::atomic<int> posted_{0};
  handheld::MessageQueue queue_;
  HWND window_;
};

// The launch's steps for the job, without its dialogs. 0, or the refusing step's message.
StringId Prepare(Job& job, const JobOrder& order, const StoreSession& store) {
  if (order.mode == ModeExport) {
    if (StringId failure = OpenExportSource(job, store)) return failure;
    return CreateExportFile(job);
  }
  if (StringId failure = OpenImportFile(job)) return failure;
  if (StringId failure = OpenImportTarget(job, store)) return failure;
  if (order.purgeFirst && job.itemCount != 0) {
    job.mode = ModePurge;
    job.nextMode = ModeImport;
  }
  return 0;
}

}  // namespace

std::string Describe(const std::vector<Notice>& notices) {
  std::string text;
  for (const Notice& notice : notices) {
    if (!text.empty()) text += ' ';
    text += std::to_string(notice.code) + '/';
    if (notice.code == NotifyDone || notice.code == NotifyStoppedCount) {
      text += std::to_string(DoneStringId(notice.value)) + '+' +
              std::to_string(DoneCount(notice.value));
    } else {
      text += std::to_string(notice.value);
    }
  }
  return text;
}

JobRun RunJobInOpenStore(const JobOrder& order, const StoreSession& store) {
  JobRun run;
  CallLog library;  // the call-log library, as the dialog keeps it
  if (order.kind == KindCalls) LoadCallLogLibrary(library);
  WorkerLink link;
  RecordingWindow window(order.stopAtNotice, &link.stopFlag);
  auto job = std::make_unique<Job>();
  job->dialog = window.window();
  job->kind = order.kind;
  job->mode = order.mode;
  job->callLog.library = library.library;
  const std::u16string path = handheld::testing::U16(order.path);
  path.copy(job->path, std::min(path.size(), static_cast<size_t>(kPathChars - 1)));

  run.launchFailure = static_cast<int32_t>(Prepare(*job, order, store));
  if (run.launchFailure == 0) run.launchFailure = static_cast<int32_t>(StartWorker(job, link));
  if (run.launchFailure != 0) {
    ReleaseJob(*job);
    UnloadCallLogLibrary(library);
    return run;
  }

  for (;;) {
    MSG message{};
    if (!window.Take(&message, std::chrono::seconds(120))) {
      // The worker has gone quiet for too long: stop it the way the exit command does.
      SuspendThread(link.worker);
      link.stopFlag.store(1);
      ResumeThread(link.worker);
      continue;
    }
    if (message.message != WM_JOBNOTIFY) continue;
    run.notices.push_back({static_cast<int64_t>(message.wParam), message.lParam});
    if (message.wParam == NotifyEnded) break;
  }
  WaitForSingleObject(link.worker, INFINITE);
  CloseHandle(link.worker);
  UnloadCallLogLibrary(library);
  return run;
}

JobRun RunJob(const JobOrder& order) {
  StoreSession store;
  if (!OpenStore(store)) {
    ADD_FAILURE() << "the store cannot be opened: " << store.failure;
    JobRun run;
    run.launchFailure = IDS_CANNOT_RUN;
    return run;
  }
  JobRun run = RunJobInOpenStore(order, store);
  CloseStore(store);
  return run;
}

}  // namespace worker_testing

#include "worker/testing/job_harness.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>

#include "handheld/files.h"
#include "handheld/messages.h"
#include "handheld/testing/sandbox.h"
#include "handheld/threads.h"
#include "platform/calllog.h"
#include "platform/store.h"
#include "worker/worker.h"

namespace worker_testing {
namespace {

constexpr LONG kFolderIds[] = {olFolderContacts, olFolderCalendar, olFolderTasks};

// The dialog stand-in: queues what the worker posts and, when asked, sets stopFlag as
// a chosen notice is posted.
class RecordingWindow final : public handheld::MessageSink {
 public:
  explicit RecordingWindow(int stopAtNotice)
      : stopAt_(stopAtNotice), window_(handheld::AttachMessageSink(this)) {}
  ~RecordingWindow() { handheld::DetachMessageSink(window_); }
  RecordingWindow(const RecordingWindow&) = delete;
  RecordingWindow& operator=(const RecordingWindow&) = delete;

  HWND window() const { return window_; }
  void Deliver(const MSG& message) override {
    if (message.message == WM_JOBNOTIFY && posted_++ == stopAt_) JobContext.stopFlag.store(1);
    queue_.Deliver(message);
  }
  bool Take(MSG* message, std::chrono::milliseconds timeout) {
    return queue_.Take(message, timeout);
  }

 private:
  const int stopAt_;
  std::atomic<int> posted_{0};
  handheld::MessageQueue queue_;
  HWND window_;
};

// Opens the kind's folder and items and counts them. 0, or the launch's message id.
int32_t OpenFolder(IPOutlookApp* app, ItemKind kind) {
  if (FAILED(app->GetDefaultFolder(kFolderIds[kind], &JobContext.folder))) {
    JobContext.folder = nullptr;
    return 601;
  }
  if (FAILED(JobContext.folder->get_Items(&JobContext.items))) {
    JobContext.items = nullptr;
    return 602;
  }
  INT count = 0;
  JobContext.items->get_Count(&count);
  JobContext.itemCount = count;
  return 0;
}

int32_t PrepareExport(const Job& job) {
  if (job.kind == KindCalls) {
    const int32_t count = CountCallLog();
    if (count == -1) return 602;
    if (count == 0) return 540 + job.kind;
    JobContext.itemCount = count;
  } else {
    IPOutlookApp* app = GetStoreApp();
    if (app == nullptr) return 601;
    const int32_t failure = OpenFolder(app, job.kind);
    app->Release();
    if (failure != 0) return failure;
    if (JobContext.itemCount == 0) return 540 + job.kind;
  }
  switch (StartSavedFile()) {
    case SaveStarted:
      return 0;
    case SaveCannotOpen:
      return 604;
    default:
      return 607;
  }
}

int32_t PrepareImport(const Job& job) {
  JobContext.file = CreateFileW(JobContext.path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (JobContext.file == INVALID_HANDLE_VALUE) return 604;
  int64_t size = 0;
  if (!GetFileSizeEx(JobContext.file, &size)) return 605;
  JobContext.fileSize = static_cast<uint64_t>(size);
  BYTE mark[2] = {0, 0};
  DWORD read = 0;
  if (!ReadFile(JobContext.file, mark, 2, &read, nullptr)) return 605;
  if (read != 2 || mark[0] != 0xFF || mark[1] != 0xFE) return 606;
  JobContext.app = GetStoreApp();
  if (JobContext.app == nullptr) return 608;
  const int32_t failure = OpenFolder(JobContext.app, job.kind);
  if (failure != 0) return failure;
  if (job.purgeFirst && JobContext.itemCount != 0) {
    JobContext.mode = ModePurge;
    JobContext.nextMode = ModeImport;
  }
  return 0;
}

}  // namespace

std::string Describe(const std::vector<Notice>& notices) {
  std::string text;
  for (const Notice& notice : notices) {
    if (!text.empty()) text += ' ';
    text += std::to_string(notice.code) + '/';
    if (notice.code == NotifyDone) {
      text += std::to_string(DoneStringId(notice.value)) + '+' +
              std::to_string(DoneCount(notice.value));
    } else {
      text += std::to_string(notice.value);
    }
  }
  return text;
}

JobRun RunJobInOpenStore(const Job& job) {
  JobRun run;
  const bool loadedHere = job.kind == KindCalls && !CallLogLibraryLoaded();
  if (loadedHere) LoadCallLogLibrary();

  ResetJobContext(job.kind, job.mode);
  JobContext.worker = nullptr;
  const std::u16string path = handheld::testing::U16(job.path);
  const size_t length = std::min(path.size(), static_cast<size_t>(kPathChars - 1));
  path.copy(JobContext.path, length);
  JobContext.path[length] = 0;

  run.launchFailure = job.mode == ModeExport ? PrepareExport(job) : PrepareImport(job);
  RecordingWindow window(job.stopAtNotice);
  if (run.launchFailure == 0) {
    JobContext.stopFlag.store(0);
    JobContext.worker = CreateThread(nullptr, 0, WorkerThreadProc, window.window(), 0, nullptr);
    if (JobContext.worker == nullptr) run.launchFailure = 603;
  }
  if (run.launchFailure != 0) {
    FinishSavedFile(SaveFailed);
    ReleaseJobReferences();
    JobContext.mode = ModeStop;
    if (loadedHere) UnloadCallLogLibrary();
    return run;
  }

  for (;;) {
    MSG message{};
    if (!window.Take(&message, std::chrono::seconds(120))) {
      // The worker has gone quiet for too long: stop it the way the exit command does.
      SuspendThread(JobContext.worker);
      JobContext.stopFlag.store(1);
      ResumeThread(JobContext.worker);
      continue;
    }
    if (message.message != WM_JOBNOTIFY) continue;
    run.notices.push_back({static_cast<int64_t>(message.wParam), message.lParam});
    if (message.wParam == NotifyEnded) break;
  }
  WaitForSingleObject(JobContext.worker, INFINITE);
  CloseHandle(JobContext.worker);
  JobContext.worker = nullptr;
  run.ended = true;
  if (loadedHere) UnloadCallLogLibrary();
  return run;
}

namespace {

// Runs `use` with a logged-on application object of its own.
void WithStore(const std::function<void(IPOutlookApp*)>& use) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    ADD_FAILURE() << "COM cannot start";
    return;
  }
  IPOutlookApp* app = nullptr;
  if (FAILED(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp,
                              reinterpret_cast<void**>(&app)))) {
    ADD_FAILURE() << "no store application";
  } else {
    if (FAILED(app->Logon(0))) {
      ADD_FAILURE() << "store logon: " << handheld::LastStoreError();
    } else {
      use(app);
      app->Logoff();
    }
    app->Release();
  }
  CoUninitialize();
}

void SetText(IContact* contact, HRESULT (IContact::*setter)(BSTR), const std::u16string& text) {
  if (text.empty()) return;
  BSTR value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  (contact->*setter)(value);
  SysFreeString(value);
}

std::u16string GetText(IContact* contact, HRESULT (IContact::*getter)(BSTR*)) {
  BSTR value = nullptr;
  if (FAILED((contact->*getter)(&value))) return u"<unreadable>";
  std::u16string text(value == nullptr ? u"" : std::u16string(value, SysStringLen(value)));
  SysFreeString(value);
  return text;
}

}  // namespace

void SaveContacts(const std::vector<ContactText>& contacts) {
  WithStore([&](IPOutlookApp* app) {
    for (const ContactText& text : contacts) {
      IDispatch* item = nullptr;
      if (FAILED(app->CreateItem(olContactItem, &item))) {
        ADD_FAILURE() << "CreateItem failed";
        return;
      }
      auto* contact = static_cast<IContact*>(item);
      SetText(contact, &IContact::put_Title, text.title);
      SetText(contact, &IContact::put_FirstName, text.firstName);
      SetText(contact, &IContact::put_LastName, text.lastName);
      SetText(contact, &IContact::put_Body, text.body);
      if (FAILED(contact->Save())) ADD_FAILURE() << "Save failed";
      contact->Release();
    }
  });
}

void SaveNumberedContacts(int count, const std::string& stem) {
  std::vector<ContactText> contacts(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    contacts[static_cast<size_t>(i)].firstName =
        handheld::testing::U16(stem + std::to_string(i + 1));
  }
  SaveContacts(contacts);
}

std::vector<ContactText> StoredContacts() {
  std::vector<ContactText> contacts;
  WithStore([&](IPOutlookApp* app) {
    IFolder* folder = nullptr;
    IPOutlookItemCollection* items = nullptr;
    if (FAILED(app->GetDefaultFolder(olFolderContacts, &folder))) {
      ADD_FAILURE() << "no Contacts folder";
      return;
    }
    if (SUCCEEDED(folder->get_Items(&items))) {
      INT count = 0;
      items->get_Count(&count);
      for (INT i = 1; i <= count; ++i) {
        IDispatch* item = nullptr;
        if (FAILED(items->Item(i, &item))) {
          ADD_FAILURE() << "Item " << i << " failed";
          break;
        }
        auto* contact = static_cast<IContact*>(item);
        contacts.push_back(
            {GetText(contact, &IContact::get_Title), GetText(contact, &IContact::get_FirstName),
             GetText(contact, &IContact::get_LastName), GetText(contact, &IContact::get_Body)});
        contact->Release();
      }
      items->Release();
    }
    folder->Release();
  });
  return contacts;
}

JobRun RunJob(const Job& job) {
  JobRun run;
  if (!OpenStore()) {
    ADD_FAILURE() << "the store cannot be opened";
    run.launchFailure = 600;
    return run;
  }
  run = RunJobInOpenStore(job);
  CloseStore();
  return run;
}

}  // namespace worker_testing

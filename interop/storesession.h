// One folder of the stand-in's store, opened for a tool: COM started, the store logged on
// (the file that HANDHELD_STORE names, or the default), the folder's items listed, and
// batches of changes (storebatch.h) for the tools that save or remove many items.
//
// Contract: Open gives false with the reason in *error (no program name in front); the
// destructor drops a batch left open and releases everything in reverse order, so that
// the census ends at zero. EndBatch(keep) keeps or drops the open batch; Checkpoint keeps
// the open batch's changes and opens the next one, so that a long import holds one
// transaction of a bounded size at a time.
//
// Hold and Undo are for a caller that tries changes and takes them back (the fuzz
// targets, an import per input): from Hold on, the session's batches are parts of one
// batch of the store that stays open; Undo drops it, whatever was kept since, and opens
// the next. A batch dropped while held (EndBatch(false)) drops all of it, as Undo does.
// The destructor drops a held batch too.
#pragma once

#include <string>

#include "handheld/pimstore.h"
#include "handheld/storebatch.h"

namespace interop {

// "0x80004005"
std::string Hex(HRESULT hr);

class StoreSession {
 public:
  StoreSession() = default;
  StoreSession(const StoreSession&) = delete;
  StoreSession& operator=(const StoreSession&) = delete;
  ~StoreSession();

  bool Open(LONG folder, std::string* error);

  IPOutlookApp* app() const { return app_; }
  IPOutlookItemCollection* items() const { return items_; }
  INT count() const { return count_; }  // the folder's items when it was opened

  bool BeginBatch(std::string* error);
  bool Checkpoint(std::string* error);
  // One more change of a long import: every 1,000 changes the open batch is kept and the
  // next one opened (Checkpoint). False, with the reason, when that fails.
  bool CountChange(std::string* error);
  // Removes every item counted at Open, from the last down, each a counted change (items
  // saved since stay); false, with the reason (the items named by `noun`), when one
  // cannot be removed. The store keeps them in a removed-items file first; when it
  // cannot, none is removed (the store tells why on standard error).
  bool RemoveAll(const char* noun, std::string* error);
  bool EndBatch(bool keep, std::string* error);

  bool Hold(std::string* error);
  bool Undo(std::string* error);

 private:
  bool comStarted_ = false;
  bool loggedOn_ = false;
  IPOutlookApp* app_ = nullptr;
  IStoreBatch* batch_ = nullptr;
  bool inBatch_ = false;
  bool held_ = false;  // the store's batch stays open across the session's batches
  IFolder* folder_ = nullptr;
  IPOutlookItemCollection* items_ = nullptr;
  INT count_ = 0;
  long changes_ = 0;
};

}  // namespace interop

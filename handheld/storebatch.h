// Batches of changes: the stand-in store's own addition to the object model, for tools
// that save or remove many items at once.
//
// Contract:
// - The application object answers QueryInterface(IID_IStoreBatch) once logged on.
// - Between BeginBatch and EndBatch every Save and Remove made through that application
//   (and every identifier kept, itemidentity.h) is part of one transaction instead of one
//   each: nothing of it is seen by other programs, nor survives a crash, before
//   EndBatch(VARIANT_TRUE), which keeps all of it; EndBatch(VARIANT_FALSE) drops all of
//   it. The application sees its own changes at once, as outside a batch.
// - BeginBatch fails (E_FAIL) while a batch is open or when the store is locked by
//   another program; EndBatch fails without an open batch, and EndBatch(VARIANT_TRUE)
//   fails when the changes could not be kept (then none of them is). Logoff with a batch
//   open drops it.
#pragma once

#include "handheld/com.h"
#include "handheld/oledate.h"

extern const IID IID_IStoreBatch;

struct IStoreBatch : IUnknown {
  virtual HRESULT BeginBatch() = 0;
  virtual HRESULT EndBatch(VARIANT_BOOL keep) = 0;

 protected:
  ~IStoreBatch() = default;
};

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

// Grouped adds: offered by a store whose one-item add is a slow call into another
// program (Evolution Data Server), for a load of many new items.
//
// Contract:
// - The application object answers QueryInterface(IID_IStoreAddGroups) once logged on.
// - Between GroupAdds and KeepAdds a Save of a new item may be held and made later with
//   others in one call. At most a group of them is held at once; the Save that fills a
//   group makes it, and fails when the store did not take the group whole.
// - Changes, removals and every read first make what is held, so the application sees
//   its own adds as outside a group.
// - KeepAdds makes what is still held and ends the grouping. *kept is how many of the
//   items added since GroupAdds the store holds: S_OK when it took every one, E_FAIL
//   when not (the store's reason is on standard error). Logoff first makes what is held.
// - GroupAdds fails with E_NOTIMPL on a store that keeps every Save at once, and with
//   E_FAIL while adds are grouped or a batch is open.
extern const IID IID_IStoreAddGroups;

struct IStoreAddGroups : IUnknown {
  virtual HRESULT GroupAdds() = 0;
  virtual HRESULT KeepAdds(LONG* kept) = 0;

 protected:
  ~IStoreAddGroups() = default;
};

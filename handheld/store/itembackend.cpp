// Choosing the backend of the store's items by what HANDHELD_STORE names.
#include "handheld/store/itembackend.h"

#include <dlfcn.h>

#include "handheld/modules.h"
#include "handheld/pimstore.h"
#include "handheld/store/storefile.h"

namespace handheld::store {

std::u16string ItemBackend::NewUid() {
  return NewItemUid();
}

std::unique_ptr<ItemBackend> OpenItemBackend(std::string* error) {
  std::string path = StorePath();
  if (path.rfind("eds:", 0) != 0) return StoreFile::Open(error);
  void* module = LoadResidentModule("edsstore.so", error);
  if (module == nullptr) return nullptr;
  auto open = reinterpret_cast<EdsStoreFactory>(dlsym(module, kEdsStoreFactory));
  if (open == nullptr) {
    *error = "edsstore.so has no " + std::string(kEdsStoreFactory);
    return nullptr;
  }
  return std::unique_ptr<ItemBackend>(open(path, error));
}

}  // namespace handheld::store

// The stand-in's call log (phone.so): the entries kept in the store file.
#include "handheld/phone/source.h"

namespace handheld::phone {

std::optional<std::vector<CallEntryData>> LoadCallLog(std::string* error) {
  return LoadCallEntries(error);
}

}  // namespace handheld::phone

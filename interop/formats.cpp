#include "interop/formats.h"

#include <glib.h>

#include <vector>

#include "interop/ical_transfer.h"
#include "interop/vcard.h"
#include "interop/vdir.h"

namespace interop {
namespace {

const ForeignFormat kFormats[] = {
    {"contacts", olFolderContacts, olContactItem, ".vcf", "contacts", "contact", "cards", "card", "load-contacts",
     "save-contacts", &ExportContacts, &ImportContacts, nullptr},
    {"calendar", olFolderCalendar, olAppointmentItem, ".ics", "appointments", "appointment", "events", "event",
     "load-calendar", "save-calendar", &ExportCalendar, &ImportCalendar, &HoldsEvents},
    {"tasks", olFolderTasks, olTaskItem, ".ics", "tasks", "task", "to-dos", "to-do", "load-tasks", "save-tasks",
     &ExportTasks, &ImportTasks, &HoldsTasks},
    {"calls", 0, 0, nullptr, "calls", "call", nullptr, nullptr, nullptr, "save-calls", nullptr,
     nullptr, nullptr},
};

bool HasFormat(const ForeignFormat& format) {
  return format.extension != nullptr;
}

bool HasExtension(std::string_view path, std::string_view extension) {
  return path.size() > extension.size() &&
         g_ascii_strncasecmp(path.data() + path.size() - extension.size(), extension.data(),
                             extension.size()) == 0;
}

}  // namespace

const ForeignFormat* KindNamed(std::string_view kind) {
  for (const ForeignFormat& format : kFormats) {
    if (kind == format.kind) return &format;
  }
  return nullptr;
}

const ForeignFormat* FormatForKind(std::string_view kind) {
  const ForeignFormat* format = KindNamed(kind);
  return format != nullptr && HasFormat(*format) ? format : nullptr;
}

const ForeignFormat* FormatForPath(const std::string& path, std::string_view fallback) {
  if (IsFolderPath(path)) {
    for (const ForeignFormat& format : kFormats) {
      if (!HasFormat(format)) continue;
      std::vector<std::string> files;
      std::string error;
      if (ListFolder(path, format.extension, &files, &error) && !files.empty() &&
          (format.holds == nullptr || format.holds(path))) {
        return &format;
      }
    }
    return FormatForKind(fallback);
  }
  for (const ForeignFormat& format : kFormats) {
    if (HasFormat(format) && HasExtension(path, format.extension) && (format.holds == nullptr || format.holds(path))) {
      return &format;
    }
  }
  return nullptr;
}

std::string FormatKinds() {
  std::string kinds;
  for (const ForeignFormat& format : kFormats) {
    if (!HasFormat(format)) continue;
    if (!kinds.empty()) kinds += ", ";
    kinds += format.kind;
  }
  return kinds;
}

}  // namespace interop

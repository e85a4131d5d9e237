# The mapping between the store's items and vCard/iCalendar: contacts as vCards, and
# appointments and tasks as iCalendar components, with the helpers they share. It needs
# only the store's interfaces (handheld/ headers), libical and Evolution's
# libebook-contacts, and it sits below both of its users: the stand-in store (which keeps
# the items a purge removes as vCard or iCalendar, handheld/store/removeditems.cpp) and
# interop's transfer side (exports and imports of files and folders). Its one copy of
# the code is compiled into the shared stand-in library; interop reaches it from there.
#
# Included from the top level before the stand-in, so that both can use it.
find_package(PkgConfig REQUIRED)
pkg_check_modules(EBOOK_CONTACTS REQUIRED IMPORTED_TARGET libebook-contacts-1.2)
pkg_check_modules(LIBICAL REQUIRED IMPORTED_TARGET libical)

# The mapping's files in interop/, and its headers that have no source file of their own
# (scripts/layers.sh reads both lists: one name a line, up to the closing parenthesis).
set(INTEROP_MAPPING_HEADERS
  handoff
  ical_losses
  itemvalues
)
set(INTEROP_MAPPING
  ical_event
  ical_item
  ical_merge
  ical_recurrence
  ical_store
  ical_stream
  ical_time
  ical_todo
  identity
  itemstore
  losses
  vcardcontact
  vcardreader
)
list(TRANSFORM INTEROP_MAPPING PREPEND ${CMAKE_CURRENT_LIST_DIR}/ OUTPUT_VARIABLE
  INTEROP_MAPPING_SOURCES)
list(TRANSFORM INTEROP_MAPPING_SOURCES APPEND .cpp)

add_library(interop_mapping OBJECT ${INTEROP_MAPPING_SOURCES})
target_include_directories(interop_mapping PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(interop_mapping PUBLIC PkgConfig::LIBICAL PkgConfig::EBOOK_CONTACTS)
target_compile_definitions(interop_mapping PRIVATE QUILLMOTE_VERSION="${PROJECT_VERSION}")
# The library's headers use deprecated GLib types of their own.
target_compile_options(interop_mapping PRIVATE -Wno-deprecated-declarations)
# Unlike the rest of the stand-in library, the mapping reports its coverage to the fuzz
# targets: the vCard and iCalendar targets steer by their readers and mapping. (The
# backup-file targets reach it only through a purge's removed-items file, one in 1,000
# inputs.)

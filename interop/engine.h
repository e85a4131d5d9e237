// One transfer loop for every file format: exports of the store's items into one file or a
// folder of item files, and imports of a file or a folder into the store. A format (vCard
// for contacts, iCalendar for appointments and tasks) only reads and writes its files'
// text; where the files lie, the store's batches, the UIDs, the reading thread, losses and
// the report are the loop's, the same for every format.
//
// Contract:
// - ExportItems writes every item of the session's folder, in the store's order, to PATH.
//   A folder (vdir.h: IsFolderPath) gets one file per item (Format::Text whole), made when
//   missing; an item's existing file (found by the UID inside it) is merged with
//   (Format::File) so that what the store does not own stays, and a file with nothing to
//   change is not touched; nothing else in the folder is touched. Any other PATH becomes
//   one file (Head, every item, Tail), written whole or not at all; an existing file that
//   holds exactly that is left alone, any other one the format can read keeps what the
//   store does not hold (a note says how many of its items), and one it cannot read is
//   written anew. A file that cannot be read to its end stops the export. An item the
//   format cannot write is named in the problems and left out. Identifiers made at a
//   first export are kept in one transaction.
// - ImportItems reads one file, or every file of a folder with the format's extension in
//   name order (each must open before the store is changed), and saves one item per item
//   of the files. With `replace`, every item of the store is removed first; a removal that
//   fails stops the import and changes nothing. A file's item whose UID an item of the
//   store holds updates it when anything differs (its saved version kept first) and
//   leaves it alone otherwise; any other adds an item under the file's UID; result counts
//   them. Items that cannot be read or made are named by file and line in the problems and
//   skipped; pieces of other kinds are counted in one note each; a file that holds nothing
//   (or a folder without files) is told in a note. The files are read on a thread of their
//   own while this one saves, or, with Reading::kInline, on the calling thread.
// - Both stop at the first store or file failure, with the reason in result->error ("FILE:
//   line N: the store could not save the contact (0x...)", "cannot read \"FILE\": ...");
//   what was saved before it stays saved. Losses are counted per item.
//
// What a format implements (a template parameter: the loop is compiled for each format,
// so that the reading and saving of an item costs no call through a table):
//
//   struct Format {
//     static constexpr const char* kExtension = ".vcf";  // of its files
//     static constexpr int kUidDepth = 1;    // where its items' UIDs lie (vdir.h UidsInText)
//     const char* noun() const;              // the store's item: "contact"
//
//     // Export. One store item as the format writes it:
//     using Stored = ...;
//     // Reads the folder's item i (1-based) with its UID; FAILED stops the export,
//     // S_FALSE leaves the item out with *why.
//     HRESULT Load(StoreSession&, INT i, Stored*, Losses*, std::string* why);
//     const std::string& Uid(const Stored&) const;
//     // Its text as one item of a many-item file, or `whole` as a file of its own; what
//     // the file cannot keep is noted in `losses`.
//     std::string Text(const Stored&, bool whole, Losses*);
//     std::string Head() const, Tail() const;  // of a many-item file
//     // An existing file's text with the store's items merged into it.
//     class File {
//       explicit File(Format&);
//       bool Load(std::string text);  // false: not a file of this format
//       void Merge(const Stored&, const std::string& text, Losses*);  // text: Text(.., false)
//       bool Changed(std::string* text) const;  // the new text, when anything changed
//       long Others() const;                    // its items that no Merge took
//     };
//     std::string KeptNote(const std::string& path, long others) const;
//
//     // Import. What the reading thread makes of one item of a file:
//     using Item = ...;
//     class Reader {  // on the reading thread, one file after another
//       explicit Reader(const Format&);
//       bool Open(const std::string& path, std::string* error);  // false stops the import
//       Entry Next(Decoded<Item>*);  // kItem ... kFailed, then the next file
//     };
//     // Makes the store item of a decoded one (new, not saved) and gives its UID (may be
//     // empty); FAILED with *why skips it as a problem, FAILED without stops the import.
//     HRESULT Make(StoreSession&, Decoded<Item>&, Losses*, IDispatch** item,
//                  std::string_view* uid, std::string* why);
//     HRESULT SaveNew(IDispatch* item) const;  // an item without UID
//     std::string EmptyNote(const std::string& path) const;   // "no cards in \"PATH\""
//     std::string LeftOutNote(const std::string& name, long count) const;
//   };
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "handheld/itemidentity.h"
#include "handheld/itemkeeping.h"
#include "interop/handoff.h"
#include "interop/identity.h"
#include "interop/losses.h"
#include "interop/storesession.h"
#include "interop/transfer.h"
#include "interop/vdir.h"

namespace interop {

// What a format's reader hands out for each piece of a file.
enum class Entry : unsigned char {
  kItem,     // an item to save
  kGroup,    // a piece that makes no item (a group card); only its losses count
  kSkipped,  // an item of another kind: `text` names it ("VTODO")
  kProblem,  // a piece that cannot be read: `text` is "FILE: line N: reason"
  kFileEnd,  // the end of the file
  kFailed,   // the file cannot be read (to its end): `text` says so; the import stops
};

// One piece of a file as the reading thread hands it to the saving one. Slots are used
// again (handoff.h), so a reader sets what its entry needs and leaves the rest.
template <class Item>
struct Decoded {
  Entry entry = Entry::kFileEnd;
  long line = 0;               // where the piece begins
  std::string text;            // see Entry
  Losses lost{"item", "items"};  // what the store cannot keep of it, counted (item ended)
  Item item;
};

// The text of an existing regular file at `path` (through a link): false when there is
// none (or something else); false with *error when it cannot be read to its end.
bool ReadExistingFile(const std::string& path, std::string* text, std::string* error);
// Whether every file opens for reading (without waiting on a FIFO); false with the reason.
bool AllOpen(const std::vector<std::string>& files, std::string* error);
// Writes `text` to `target` unless `before` (its text, when it was read) is the same.
bool WriteItemFile(const std::string& target, const std::string& text, const std::string* before,
                   std::string* error);
std::string SaveFailure(const std::string& where, const char* noun, std::string_view uid,
                        HRESULT hr);

template <class Format>
void ExportItems(Format& format, StoreSession& session, const std::string& path, Losses* losses,
                 TransferResult* result) {
  const bool folder = IsFolderPath(path);
  FolderIndex index;
  AtomicFile file;
  std::string old;
  bool had = false;
  if (folder) {
    // Files are found by the UID inside them, whatever their names.
    if (!MakeFolder(path, &result->error) ||
        !index.Build(path, Format::kExtension, Format::kUidDepth, &result->error)) {
      return;
    }
  } else {
    if (!file.Open(path, &result->error, true)) return;
    had = ReadExistingFile(path, &old, &result->error);
    if (!result->error.empty()) return;
  }
  // The file an earlier export of an unchanged store wrote is only read along; any other
  // existing file is merged with.
  const std::string head = format.Head(), tail = format.Tail();
  bool along = had && old.compare(0, head.size(), head) == 0;
  size_t offset = head.size();
  typename Format::File existing(format);
  bool merging = had && !along && existing.Load(old);
  if (!folder && !along && !merging) file.Write(head);
  if (!session.BeginBatch(&result->error)) return;
  typename Format::Stored stored;
  // Goes through the items; true when the file turned out not to be what they write.
  auto run = [&] {
    for (INT i = 1; i <= session.count(); ++i) {
      std::string why;
      const HRESULT hr = format.Load(session, i, &stored, losses, &why);
      if (hr != S_OK) {
        losses->EndItem();
        const std::string which = std::string(format.noun()) + " " + std::to_string(i) + ": ";
        if (FAILED(hr)) {
          result->error = which + "the store could not read it (" + Hex(hr) + ")";
          return false;
        }
        result->problems.push_back(which + why);
        continue;
      }
      const std::string text = format.Text(stored, folder, losses);
      bool written = true;
      if (folder) {
        const std::string& uid = format.Uid(stored);
        const std::string* found = index.Find(uid);
        const std::string target = found != nullptr ? *found : index.PathForNew(uid);
        std::string before, merged;
        // A file that went or became something else since the folder was read is replaced.
        const bool read = found != nullptr && ReadItemFile(target, &before, &why);
        const std::string* out = &text;
        if (read && before != text) {
          typename Format::File own(format);
          if (own.Load(before)) {
            own.Merge(stored, format.Text(stored, false, losses), losses);
            if (!own.Changed(&merged)) {
              losses->EndItem();
              ++result->items;
              continue;
            }
            out = &merged;
          }
        }
        written = WriteItemFile(target, *out, read ? &before : nullptr, &result->error);
      } else if (along) {
        if (old.compare(offset, text.size(), text) != 0) {
          losses->EndItem();
          return true;
        }
        offset += text.size();
      } else if (merging) {
        existing.Merge(stored, text, losses);
      } else {
        file.Write(text);
      }
      losses->EndItem();
      if (!written) return false;
      ++result->items;
    }
    return along && old.compare(offset, std::string::npos, tail) != 0;
  };
  const Losses before = *losses;
  if (run()) {
    *losses = before;
    result->items = 0;
    result->problems.clear();
    along = false;
    merging = existing.Load(old);
    if (!merging) file.Write(head);
    run();
  }
  std::string error;
  if (!session.EndBatch(true, &error) && result->error.empty()) result->error = error;
  if (folder || along || !result->error.empty()) return;
  if (merging) {
    if (const long others = existing.Others(); others > 0) {
      result->notes.push_back(format.KeptNote(path, others));
    }
    // A file that nothing changed stays as it was (the new copy is dropped).
    std::string text;
    if (!existing.Changed(&text)) return;
    file.Write(text);
  } else {
    file.Write(tail);
  }
  file.Commit(&result->error);
}

// What the saving side does with each entry the reader hands out, whichever thread read it.
template <class Format>
class ImportSaver {
 public:
  using Read = Decoded<typename Format::Item>;

  ImportSaver(Format& format, StoreSession& session, const std::vector<std::string>& files,
              Losses* losses, TransferResult* result)
      : format_(format), session_(session), files_(files), losses_(losses), result_(result) {}

  // Saves or counts one entry; false when the import stops (the last file ended, or a
  // failure).
  bool Take(Read& read) {
    ++pieces_;
    switch (read.entry) {
      case Entry::kItem: {
        losses_->Absorb(read.lost);
        IDispatch* item = nullptr;
        std::string_view uid;
        std::string why;
        HRESULT hr = format_.Make(session_, read, losses_, &item, &uid, &why);
        LONG outcome = handheld::kItemAdded;
        if (SUCCEEDED(hr)) {
          hr = uid.empty() ? format_.SaveNew(item) : SaveItemAsUid(item, uid, &outcome);
        }
        if (item != nullptr) item->Release();
        losses_->EndItem();
        if (FAILED(hr)) {
          const std::string where = files_[f_] + ": line " + std::to_string(read.line) + ": ";
          if (why.empty()) {
            result_->error = SaveFailure(where, format_.noun(), uid, hr);
            return false;
          }
          result_->problems.push_back(where + why);
          return true;
        }
        result_->Count(static_cast<handheld::SaveOutcome>(outcome));
        return session_.CountChange(&result_->error);
      }
      case Entry::kGroup:
        losses_->Absorb(read.lost);
        return true;
      case Entry::kSkipped:
        ++leftOut_[read.text];
        return true;
      case Entry::kProblem:
        result_->problems.push_back(read.text);
        return true;
      case Entry::kFileEnd:
        if (pieces_ == 1) result_->notes.push_back(format_.EmptyNote(files_[f_]));
        pieces_ = 0;
        return ++f_ < files_.size();
      case Entry::kFailed:
        result_->error = read.text;
        return false;
    }
    return false;
  }

  // The notes of the pieces left out, once the import is over.
  void Finish() {
    for (const auto& [name, count] : leftOut_) {
      result_->notes.push_back(format_.LeftOutNote(name, count));
    }
  }

 private:
  Format& format_;
  StoreSession& session_;
  const std::vector<std::string>& files_;
  Losses* losses_;
  TransferResult* result_;
  std::map<std::string, long> leftOut_;
  size_t f_ = 0;
  long pieces_ = 0;  // of the current file
};

// The reader's next entry of the file it opened (`open`), or the failure to open it.
template <class Format>
void ReadEntry(typename Format::Reader& reader, bool open, std::string* error,
               Decoded<typename Format::Item>* read) {
  if (!open) {
    read->entry = Entry::kFailed;
    read->text = std::move(*error);
    return;
  }
  if (!read->lost.empty()) read->lost = Losses("item", "items");
  read->entry = reader.Next(read);
}

template <class Format>
void ImportItems(Format& format, StoreSession& session, const std::string& path, bool replace,
                 Losses* losses, TransferResult* result, Reading reading = Reading::kThread) {
  using Read = Decoded<typename Format::Item>;
  std::vector<std::string> files;
  if (!FilesAt(path, Format::kExtension, &files, &result->error)) return;
  // Every file must open before the store is changed; each is opened again in its turn
  // (a folder may hold more files than a process may have open).
  if (!AllOpen(files, &result->error)) return;
  if (!session.BeginBatch(&result->error)) return;
  // A purge that failed leaves the folder as it was (the batch is dropped).
  if (replace && !session.RemoveAll(format.noun(), &result->error)) return;

  ImportSaver<Format> saver(format, session, files, losses, result);
  if (files.empty()) {
    result->notes.push_back(format.EmptyNote(path));
  } else if (reading == Reading::kInline) {
    typename Format::Reader reader(format);
    std::string error;
    Read read;
    bool more = true;
    for (size_t f = 0; more && f < files.size(); ++f) {
      const bool open = reader.Open(files[f], &error);
      do {
        ReadEntry<Format>(reader, open, &error, &read);
        more = saver.Take(read);
      } while (more && read.entry != Entry::kFileEnd);
    }
  } else {
    // The files are read on a thread of their own while this one saves: reading and
    // saving take about as long as each other.
    Handoff<Read> handoff;
    std::thread thread([&] {
      typename Format::Reader reader(format);
      std::string error;
      for (const std::string& name : files) {
        const bool open = reader.Open(name, &error);
        for (;;) {
          Read* read = handoff.Next();
          if (read == nullptr) return;
          ReadEntry<Format>(reader, open, &error, read);
          if (read->entry == Entry::kFailed) {
            handoff.Flush();
            return;
          }
          if (read->entry == Entry::kFileEnd) break;
        }
      }
      handoff.Flush();
    });
    for (bool more = true; more;) {
      typename Handoff<Read>::Batch* batch = handoff.Take();
      if (batch == nullptr) break;
      for (size_t i = 0; i < batch->used && more; ++i) more = saver.Take(batch->slots[i]);
      handoff.Give(batch);
    }
    handoff.Stop();
    thread.join();
  }
  saver.Finish();
  std::string error;
  if (!session.EndBatch(true, &error) && result->error.empty()) result->error = error;
}

}  // namespace interop

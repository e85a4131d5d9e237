#include "handheld/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"

namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::SandboxTest;
using handheld::testing::U16;
using handheld::testing::WriteFileBytes;

class Files : public SandboxTest {
 protected:
  std::u16string Path(const char* name) { return U16(sandbox().path(name)); }

  HANDLE Create(const std::u16string& path) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  HANDLE Open(const std::u16string& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  }
  static BOOL Write(HANDLE file, std::string_view bytes, DWORD* written) {
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), written, nullptr);
  }
  static std::string ReadAll(HANDLE file, DWORD chunk) {
    std::string all;
    std::string part(chunk, '\0');
    DWORD read = 0;
    while (ReadFile(file, part.data(), chunk, &read, nullptr) && read > 0) {
      all.append(part, 0, read);
    }
    return all;
  }
};

TEST_F(Files, WriteThenReadBack) {
  std::u16string path = Path("data.txt");
  HANDLE file = Create(path);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(Write(file, "\xFF\xFEhello", &written));
  EXPECT_EQ(written, 7u);
  // Nothing waits in a buffer: the bytes are in the file before it is closed.
  EXPECT_EQ(ReadFileBytes(sandbox().path("data.txt")), "\xFF\xFEhello");
  EXPECT_EQ(GetFileSize(file, nullptr), 7u);
  EXPECT_EQ(handheld::CensusReport(), "file=1");
  char byte;
  DWORD read = 9;
  EXPECT_FALSE(ReadFile(file, &byte, 1, &read, nullptr));  // opened for writing only
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(read, 0u);
  ASSERT_TRUE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  file = Open(path);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(file, &high), 7u);
  EXPECT_EQ(high, 0u);
  int64_t size = 0;
  EXPECT_TRUE(GetFileSizeEx(file, &size));
  EXPECT_EQ(size, 7);
  EXPECT_EQ(ReadAll(file, 2), "\xFF\xFEhello");
  read = 9;
  EXPECT_TRUE(ReadFile(file, &byte, 1, &read, nullptr));  // end of file: success, nothing
  EXPECT_EQ(read, 0u);
  EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));  // opened for reading only
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CloseHandle(file));
}

TEST_F(Files, ReadsInSmallAndLargePiecesAgree) {
  std::string bytes;
  for (int i = 0; i < 300000; ++i) bytes += static_cast<char>(i * 7 % 251);
  WriteFileBytes(sandbox().path("big.bin"), bytes);
  for (DWORD chunk : {1u, 2u, 4095u, 65536u, 200000u}) {
    HANDLE file = Open(Path("big.bin"));
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadAll(file, chunk), bytes) << chunk;
    CloseHandle(file);
  }
  // Small reads followed by a large one continue where the small ones stopped.
  HANDLE file = Open(Path("big.bin"));
  std::string mixed(3, '\0');
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(file, mixed.data(), 3, &read, nullptr));
  mixed.resize(bytes.size());
  ASSERT_TRUE(ReadFile(file, mixed.data() + 3, static_cast<DWORD>(bytes.size()), &read, nullptr));
  EXPECT_EQ(read, bytes.size() - 3);
  EXPECT_EQ(mixed, bytes);
  CloseHandle(file);
}

TEST_F(Files, CreateAlwaysEmptiesAnExistingFile) {
  WriteFileBytes(sandbox().path("old.txt"), "previous contents");
  HANDLE file = Create(Path("old.txt"));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(file, nullptr), 0u);
  Write(file, "new", nullptr);
  CloseHandle(file);
  EXPECT_EQ(ReadFileBytes(sandbox().path("old.txt")), "new");
}

TEST_F(Files, NoSharing) {
  std::u16string path = Path("shared.txt");
  WriteFileBytes(sandbox().path("shared.txt"), "keep");
  HANDLE reader = Open(path);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(path), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  // A refused create must not have emptied the file.
  EXPECT_EQ(Create(path), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ReadFileBytes(sandbox().path("shared.txt")), "keep");
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  CloseHandle(reader);

  // Another process holding the file (its lock) keeps us out too.
  int other = open(sandbox().path("shared.txt").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Create(path), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ReadFileBytes(sandbox().path("shared.txt")), "keep");
  close(other);

  HANDLE writer = Create(path);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  CloseHandle(writer);
  EXPECT_TRUE(DeleteFileW(path.c_str()));
}

TEST_F(Files, PipesDevicesAndFoldersAreRefusedWithoutBlocking) {
  std::string fifo = sandbox().path("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string folder = sandbox().path("folder");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (const std::string& path :
       {fifo, folder, std::string("/dev/null"), std::string("/dev/full")}) {
    std::u16string wide = U16(path);
    EXPECT_EQ(Create(wide), INVALID_HANDLE_VALUE) << path;
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << path;
    EXPECT_EQ(Open(wide), INVALID_HANDLE_VALUE) << path;
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << path;
  }
  EXPECT_EQ(GetFileAttributesW(U16(fifo).c_str()), FILE_ATTRIBUTE_DEVICE);
  EXPECT_EQ(GetFileAttributesW(U16(folder).c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(u"/dev/null"), FILE_ATTRIBUTE_DEVICE);

  // Delete removes regular files only.
  EXPECT_FALSE(DeleteFileW(U16(fifo).c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFileW(U16(folder).c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  std::string link = sandbox().path("link");
  ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
  EXPECT_FALSE(DeleteFileW(U16(link).c_str()));
  struct stat info;
  EXPECT_EQ(lstat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(lstat(folder.c_str(), &info), 0);
  EXPECT_EQ(lstat(link.c_str(), &info), 0);
}

TEST_F(Files, AttributesDeleteAndNames) {
  std::u16string missing = Path("missing.txt");
  EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(missing), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(DeleteFileW(missing.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Create(Path("no/such/folder.txt")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  // Names are UTF-16, outside the basic plane included.
  std::u16string name = Path("Контакты 20070515 \U0001F600.txt");
  HANDLE file = Create(name);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(GetFileAttributesW(name.c_str()), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(access(sandbox().path("Контакты 20070515 \U0001F600.txt").c_str(), F_OK), 0);
  EXPECT_TRUE(DeleteFileW(name.c_str()));
  EXPECT_EQ(GetFileAttributesW(name.c_str()), INVALID_FILE_ATTRIBUTES);

  std::u16string broken = Path("x");
  broken += u'\xD800';  // an unpaired surrogate names no file
  EXPECT_EQ(Create(broken), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
}

TEST_F(Files, InjectedWriteAndReadFaults) {
  ASSERT_TRUE(handheld::ArmFaults("write:2,shortwrite:4,readfile:3", nullptr));
  HANDLE file = Create(Path("faults.txt"));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 99;
  EXPECT_TRUE(Write(file, "ab", &written));
  EXPECT_FALSE(Write(file, "cd", &written));  // fails, writes nothing
  EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(Write(file, "ef", &written));
  EXPECT_TRUE(Write(file, "gh", &written));  // one byte short, reported as such
  EXPECT_EQ(written, 1u);
  EXPECT_TRUE(Write(file, "ij", &written));
  EXPECT_EQ(written, 2u);
  CloseHandle(file);
  EXPECT_EQ(ReadFileBytes(sandbox().path("faults.txt")), "abefgij");

  file = Open(Path("faults.txt"));
  char pair[2];
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(file, pair, 2, &read, nullptr));
  EXPECT_TRUE(ReadFile(file, pair, 2, &read, nullptr));
  EXPECT_FALSE(ReadFile(file, pair, 2, &read, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_READ_FAULT);
  EXPECT_EQ(read, 0u);
  EXPECT_TRUE(ReadFile(file, pair, 2, &read, nullptr));  // the read after goes on
  EXPECT_EQ(std::string(pair, read), "gi");
  CloseHandle(file);
}

TEST_F(Files, BadHandlesAndPerThreadErrors) {
  DWORD written = 5;
  EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(written, 0u);
  int local = 0;
  EXPECT_FALSE(ReadFile(&local, &local, 1, &written, nullptr));
  EXPECT_EQ(GetFileSize(nullptr, nullptr), INVALID_FILE_SIZE);
  EXPECT_FALSE(CloseHandle(nullptr));

  SetLastError(ERROR_DISK_FULL);
  DWORD seen = 1;
  std::thread other([&] { seen = GetLastError(); });
  other.join();
  EXPECT_EQ(seen, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
}

}  // namespace

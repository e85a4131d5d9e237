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
#include "handheld/threads.h"

namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::U16;
using handheld::testing::WriteFileBytes;

class Files : public handheld::testing::SandboxTest {
 protected:
  HANDLE Create(const std::string& path) {
    return CreateFileW(U16(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  }
  HANDLE Open(const std::string& path) {
    return CreateFileW(U16(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  static BOOL Write(HANDLE file, std::string_view bytes, DWORD* written = nullptr) {
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), written, nullptr);
  }
  static std::string ReadAll(HANDLE file, DWORD chunk) {
    std::string all, part(chunk, '\0');
    DWORD read = 0;
    while (ReadFile(file, part.data(), chunk, &read, nullptr) && read > 0) {
      all.append(part, 0, read);
    }
    return all;
  }
};

TEST_F(Files, WritesReachTheFileAtOnceAndReadBack) {
  std::string path = sandbox().path("Контакты \U0001F600.txt");
  WriteFileBytes(path, "previous contents");
  HANDLE file = Create(path);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(GetFileSize(file, nullptr), 0u);  // an existing file is emptied
  DWORD written = 0;
  ASSERT_TRUE(Write(file, "\xFF\xFEhello", &written));
  EXPECT_EQ(written, 7u);
  EXPECT_EQ(ReadFileBytes(path), "\xFF\xFEhello");  // no buffering before close
  EXPECT_EQ(handheld::CensusReport(), "file=1");
  ASSERT_TRUE(CloseHandle(file));

  std::string big;
  for (int i = 0; i < 150000; ++i) big += static_cast<char>(i * 7 % 251);
  WriteFileBytes(path, big);
  for (DWORD chunk : {4095u, 100000u}) {  // across the read-ahead, and past it
    file = Open(path);
    EXPECT_EQ(ReadAll(file, chunk), big) << chunk;
    CloseHandle(file);
  }
  // A write after a short read lands right after the bytes handed out, not after the
  // read-ahead, and the read after it goes on from there. (The size and the end of a
  // file: every load of a backup file.)
  file = CreateFileW(U16(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char two[2];
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(file, two, 2, &read, nullptr));
  ASSERT_TRUE(Write(file, "AB"));
  ASSERT_TRUE(ReadFile(file, two, 2, &read, nullptr));
  EXPECT_EQ(std::string(two, 2), big.substr(4, 2));
  CloseHandle(file);
  EXPECT_EQ(ReadFileBytes(path), big.substr(0, 2) + "AB" + big.substr(4));
}

TEST_F(Files, NoSharingInThisProcessOrWithAnother) {
  std::string path = sandbox().path("shared.txt");
  WriteFileBytes(path, "keep");
  HANDLE reader = Open(path);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(Write(reader, "x"));  // opened for reading only
  EXPECT_EQ(Open(path), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(Create(path), INVALID_HANDLE_VALUE);  // refused before emptying anything
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(DeleteFileW(U16(path).c_str()));
  CloseHandle(reader);
  EXPECT_EQ(ReadFileBytes(path), "keep");

  int other = open(path.c_str(), O_RDONLY | O_CLOEXEC);  // as another process would hold it
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Create(path), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ReadFileBytes(path), "keep");
  close(other);
  HANDLE writer = Create(path);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE);
  CloseHandle(writer);
  EXPECT_TRUE(DeleteFileW(U16(path).c_str()));
  EXPECT_EQ(GetFileAttributesW(U16(path).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(Files, OnlyRegularFilesAreOpenedOrDeleted) {
  std::string fifo = sandbox().path("pipe"), folder = sandbox().path("folder");
  std::string link = sandbox().path("link");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
  auto denied = [](bool refused, const std::string& path) {
    EXPECT_TRUE(refused) << path;
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << path;
  };
  // An open that blocked on the pipe would hang here.
  for (const std::string& path : {fifo, folder, link, std::string("/dev/full")}) {
    denied(Create(path) == INVALID_HANDLE_VALUE, path);
    denied(Open(path) == INVALID_HANDLE_VALUE, path);
    denied(!DeleteFileW(U16(path).c_str()), path);
  }
  struct stat info;
  EXPECT_TRUE(lstat(fifo.c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
  EXPECT_TRUE(lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode));
  EXPECT_TRUE(lstat(link.c_str(), &info) == 0 && S_ISLNK(info.st_mode));
  EXPECT_EQ(GetFileAttributesW(U16(fifo).c_str()), FILE_ATTRIBUTE_DEVICE);
  EXPECT_EQ(GetFileAttributesW(U16(folder).c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(Create(sandbox().path("no/such/file")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

// A failed or short write: the fault matrix's saves, which keep the whole lines written.
// A failed read consumes nothing.
TEST_F(Files, AnInjectedReadFaultConsumesNothing) {
  WriteFileBytes(sandbox().path("faults.txt"), "abcdef");
  ASSERT_TRUE(handheld::ArmFaults("readfile:2", nullptr));
  HANDLE file = Open(sandbox().path("faults.txt"));
  char pair[2];
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(file, pair, 2, &read, nullptr));
  EXPECT_FALSE(ReadFile(file, pair, 2, &read, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_READ_FAULT);
  EXPECT_TRUE(ReadFile(file, pair, 2, &read, nullptr));
  EXPECT_EQ(std::string(pair, read), "cd");
  CloseHandle(file);
}

// Each thread remembers the last handle it found; closing, opening or a handle of
// another kind must never let a remembered one through.
TEST_F(Files, AClosedHandleFailsOnEveryThreadThatUsedIt) {
  HANDLE file = Create(sandbox().path("first.txt"));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  auto onThread = [](auto call) { std::thread(call).join(); };
  ASSERT_TRUE(Write(file, "m"));
  onThread([&] { EXPECT_TRUE(Write(file, "t")); });
  onThread([&] { EXPECT_TRUE(CloseHandle(file)); });  // the handle this thread used last
  EXPECT_FALSE(Write(file, "x"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  onThread([&] { EXPECT_FALSE(Write(file, "x")); });

  // A new file, whatever address it gets, is found; the old value still is not, unless
  // it is the new handle itself. A thread handle is not a file, even right after it was
  // looked up as one.
  HANDLE second = Create(sandbox().path("second.txt"));
  EXPECT_TRUE(Write(second, "2"));
  if (second != file) {
    EXPECT_FALSE(Write(file, "x"));
  }
  EXPECT_TRUE(Write(second, "2"));
  HANDLE thread = CreateThread(
      nullptr, 0, [](void*) -> DWORD { return 0; }, nullptr, 0, nullptr);
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(Write(thread, "x"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  WaitForSingleObject(thread, INFINITE);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_FALSE(Write(second, "x"));
  EXPECT_EQ(ReadFileBytes(sandbox().path("first.txt")), "mt");
  EXPECT_EQ(ReadFileBytes(sandbox().path("second.txt")), "22");
}

}  // namespace

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "sieve/private_cleanup.h"
#include "support/test_support.h"

#include "sieve/private_folder.h"

namespace sieve {
namespace {
namespace fs = std::filesystem;

TEST(PrivateFolder, OwnerOnlyUniqueNamesAndRemovedWithItsOwner) {
  std::string path;
  {
    PrivateFolder folder;
    EXPECT_EQ(folder.Path(), "");
    ASSERT_TRUE(folder.Ensure());
    path = folder.Path();
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const std::string first = folder.NewFilePath("sms.db");
    std::ofstream(first) << "x";
    const std::string second = folder.NewFilePath("sms.db");
    const std::string third = folder.NewFilePath("sms.db");
    EXPECT_NE(first, second);
    EXPECT_NE(second, third);
    EXPECT_EQ(fs::path(second).filename(), "sms-2.db");
    // Names from a database can never leave the folder.
    EXPECT_EQ(fs::path(folder.NewFilePath("../../etc/passwd")).parent_path(), fs::path(path));
    EXPECT_EQ(fs::path(folder.NewFilePath("..")).parent_path(), fs::path(path));

    folder.Clear();
    EXPECT_TRUE(fs::exists(path));
    EXPECT_FALSE(fs::exists(first));
    // Two readers never share a folder.
    PrivateFolder other;
    ASSERT_TRUE(other.Ensure());
    EXPECT_NE(other.Path(), path);
  }
  EXPECT_FALSE(fs::exists(path));
}

// A child makes a private folder holding a decrypted copy and a file being written,
// then is killed by each signal: nothing of it may stay behind.
TEST(PrivateFolder, SignalsRemoveWhatAProcessWasWriting) {
  test::TempDir dir;
  ASSERT_EQ(::setenv("TMPDIR", dir.Path().c_str(), 1), 0);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const std::string partial = dir.Join("partial-" + std::to_string(signal));
    const pid_t child = ::fork();
    if (child == 0) {
      RemovePrivateDataOnSignal();
      PrivateFolder folder;
      folder.Ensure();
      ::mkdir((folder.Path() + "/pictures").c_str(), 0700);
      std::ofstream(folder.Path() + "/pictures/a.jpg") << "decrypted";
      std::ofstream(folder.NewFilePath("sms.db")) << "decrypted";
      PrivatePath writing(partial);
      std::ofstream(partial) << "half written";
      const char byte = 1;
      if (::write(ready[1], &byte, 1) != 1) ::_exit(3);
      ::pause();
      ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(::kill(child, signal), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "ends as the signal would end it";
    EXPECT_TRUE(fs::is_empty(dir.Path())) << "a folder or file of the child is left";
    EXPECT_FALSE(fs::exists(partial));
  }
  ::unsetenv("TMPDIR");
}

TEST(PrivateFolder, StaleFoldersOfEndedProcessesAreSweptAway) {
  test::TempDir dir;
  ASSERT_EQ(::setenv("TMPDIR", dir.Path().c_str(), 1), 0);
  // A process that has ended: its pid is free once it is reaped.
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
  const std::string stale = dir.Join("sieve-" + std::to_string(ended) + "-abcdef");
  const std::string alive = dir.Join("sieve-" + std::to_string(::getpid()) + "-ghijkl");
  const std::string other = dir.Join("sieve-notapid");
  for (const std::string& folder : {stale, alive, other}) {
    fs::create_directories(folder + "/inner");
    std::ofstream(folder + "/inner/copy.db") << "x";
  }
  EXPECT_EQ(RemoveStalePrivateFolders(), 1);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(alive + "/inner/copy.db"));
  EXPECT_TRUE(fs::exists(other));
  ::unsetenv("TMPDIR");
}

}  // namespace
}  // namespace sieve

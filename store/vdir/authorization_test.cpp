#include "store/vdir/authorization.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "tests/temp_folder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

// States that hold whoever runs the test; those that depend on permission
// bits need a user other than root and are checked end to end.
class AuthorizationStoreTest : public testing::Test {
 protected:
  test::TempFolder temp_;
  const fs::path dir_ = temp_.path();
};

TEST_F(AuthorizationStoreTest, StatusFollowsWhatIsThere) {
  EXPECT_EQ(authorizationStatusOf(dir_ / "corvane", dir_),
            AuthorizationStatus::kNotDetermined);
  // Only the folders below the one that must exist are ever made.
  EXPECT_EQ(authorizationStatusOf(dir_ / "a" / "b" / "corvane", dir_),
            AuthorizationStatus::kNotDetermined);
  EXPECT_EQ(authorizationStatusOf(dir_ / "a" / "b" / "corvane", dir_ / "a"),
            AuthorizationStatus::kRestricted);
  EXPECT_EQ(authorizationStatusOf(dir_, dir_.parent_path()),
            AuthorizationStatus::kAuthorized);
  std::ofstream(dir_ / "file") << "x";
  EXPECT_EQ(authorizationStatusOf(dir_ / "file", dir_),
            AuthorizationStatus::kDenied);
  // Nothing can ever be made below a regular file.
  EXPECT_EQ(authorizationStatusOf(dir_ / "file" / "corvane", dir_),
            AuthorizationStatus::kRestricted);
}

TEST_F(AuthorizationStoreTest, CreateRootMakesPrivateFolders) {
  const fs::path root = dir_ / "data" / "corvane";
  ASSERT_FALSE(createRoot(root, dir_ / "data").ok());
  EXPECT_FALSE(fs::exists(dir_ / "data"));
  ASSERT_TRUE(createRoot(root, dir_).ok());
  struct stat info;
  ASSERT_EQ(::stat(root.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  EXPECT_EQ(authorizationStatusOf(root, dir_),
            AuthorizationStatus::kAuthorized);
  // Making it again changes nothing and is no failure.
  EXPECT_TRUE(createRoot(root, dir_).ok());
}

TEST_F(AuthorizationStoreTest, CreateRootUnderAFileFails) {
  std::ofstream(dir_ / "file") << "x";
  Outcome outcome = createRoot(dir_ / "file" / "corvane", dir_);
  ASSERT_FALSE(outcome.ok());
  EXPECT_NE(outcome.reason(), "");
  EXPECT_FALSE(fs::exists(dir_ / "file" / "corvane"));
}

}  // namespace
}  // namespace corvane

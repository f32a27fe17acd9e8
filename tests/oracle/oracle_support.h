// What the oracle tests share: the fixture disks built by mkfs.fat and mtools with their manifests, ".KDL"
// images made of them, and mounts of `kdl mount` that are always taken down again.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kdloracle {

// One line of a fixture manifest (tests/fixtures/README.md).
struct ManifestEntry {
  char kind;         // 'f' file, 'd' directory, 'v' volume label
  std::string path;  // "/"-separated display names
  uint64_t size;
  std::string mtime;  // "YYYY-MM-DD HH:MM:SS" as stored in the entry
  int attribute;
  unsigned cluster;  // first cluster
};
std::vector<ManifestEntry> ReadManifest(const std::filesystem::path& file);

// "YYYY-MM-DD HH:MM:SS" of a host time in local time, as the manifest writes entry times.
std::string LocalTimeText(std::time_t t);

// The eight fixture disks the fixture script built (shared by every test program, never written to), and a
// temporary folder for what a test makes of them.
class FixtureDisks {
 public:
  FixtureDisks();
  bool built() const { return built_; }
  const std::filesystem::path& dir() const { return dir_.path(); }
  // "type<N><suffix>": ".img", ".manifest", ".files", ".mdir".
  std::filesystem::path Fixture(int type, const std::string& suffix) const;
  // The disk of `type` as a compressed ".KDL" with free clusters left out, written as `name` in the folder.
  std::filesystem::path PackedKdl(int type, const std::string& name) const;

 private:
  kdltest::TempDir dir_;
  bool built_ = false;
};

// True when FUSE file systems can be mounted here; tests that need it skip otherwise.
bool FuseUsable();
#define KDL_SKIP_WITHOUT_FUSE()                                                                   \
  do {                                                                                            \
    if (!kdloracle::FuseUsable()) GTEST_SKIP() << "needs /dev/fuse (FUSE is not available here)"; \
  } while (false)

// A test suite over the fixture disks, built once for the whole suite.
template <typename Base = ::testing::Test>
class FixtureSuite : public Base {
 protected:
  static void SetUpTestSuite() { disks_ = new FixtureDisks(); }
  static void TearDownTestSuite() {
    delete disks_;
    disks_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(disks_->built()) << "the fixture script failed"; }
  static inline FixtureDisks* disks_ = nullptr;
};

// A `kdl mount` of `source` on a fresh folder, unmounted (fusermount3 -u) when the object goes.
class KdlMount {
 public:
  KdlMount(const std::string& kdl, const std::filesystem::path& source, const std::string& extra = "");
  ~KdlMount();
  KdlMount(const KdlMount&) = delete;
  KdlMount& operator=(const KdlMount&) = delete;
  bool ok() const { return ok_; }
  const std::string& output() const { return output_; }
  const std::filesystem::path& path() const { return point_; }
  std::filesystem::path operator/(const std::string& rel) const { return point_ / rel; }

 private:
  kdltest::TempDir dir_;
  std::filesystem::path point_;
  bool ok_ = false;
  std::string output_;
};

}  // namespace kdloracle

// The disks that mkfs.fat and mtools build are the reference: for every media type, what `kdl ls -R` lists
// and what `kdl copy` writes must match what mtools put on the disk, read from the raw disk and from ".KDL"
// images made of it with every kind of stored unit and with free clusters left out.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "browse/fat.h"
#include "codec/codec.h"
#include "common/sjis.h"
#include "image/track_encode.h"
#include "oracle/oracle_support.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

using kdloracle::LocalTimeText;
using kdloracle::ManifestEntry;
using kdloracle::ReadManifest;
using kdltest::ReadFile;
using kdltest::RunCommand;
using kdltest::ShellQuote;

// "1998-02-03 04:05:06" -> "98-02-03 04:05", the listing's date text.
std::string ListDate(const std::string& mtime) { return mtime.substr(2, 14); }

struct Listed {
  std::string type;  // "file", "dir", "label"
  uint64_t size = 0;
  std::string date;
};

// Parses `kdl ls -R`: "\DIR:" headers, then "caption  type  date" lines; the date is the last 14 characters
// and the type text the 12 or 18 before it.
std::map<std::string, Listed> ParseListing(const std::string& text) {
  std::map<std::string, Listed> out;
  std::string dir;
  std::stringstream ss(text);
  for (std::string line; std::getline(ss, line);) {
    if (line.empty()) continue;
    if (line.back() == ':' && line[0] == '\\') {
      dir = line.substr(0, line.size() - 1);
      std::replace(dir.begin(), dir.end(), '\\', '/');
      if (dir == "/") dir.clear();
      if (!dir.empty()) dir = dir.substr(1) + "/";
      continue;
    }
    Listed item;
    item.date = line.substr(line.size() - 14);
    std::string rest = line.substr(0, line.size() - 16);
    std::string caption;
    if (rest.size() >= 12 && (rest.ends_with("  [Label]   ") || rest.ends_with("  <DIR>     "))) {
      item.type = rest.ends_with("  [Label]   ") ? "label" : "dir";
      caption = rest.substr(0, rest.size() - 14);
    } else {
      item.type = "file";
      const std::string type = rest.substr(rest.size() - 18);
      item.size = std::stoull(type.substr(4, 8));
      caption = rest.substr(0, rest.size() - 20);
    }
    // A plain short name keeps its fixed-width form (12 Shift-JIS bytes, "." at 8); anything else was
    // padded with spaces to 12 columns.
    const auto sjis = kdl::Utf8ToSjis(caption);
    if (sjis && sjis->size() == 12 && (*sjis)[8] == '.') {
      kdl::NormalizeListName(caption);
    } else {
      while (!caption.empty() && caption.back() == ' ') caption.pop_back();
    }
    if (caption == "..") continue;
    out[dir + caption] = item;
  }
  return out;
}

class MtoolsOracle : public ::testing::TestWithParam<int> {
 protected:
  static void SetUpTestSuite() {
    dir_ = new kdltest::TempDir();
    const auto r =
        RunCommand("bash " + ShellQuote(std::string(KDL_SOURCE_DIR) + "/tests/fixtures/make_floppies.sh") +
                   " " + ShellQuote(dir_->path().string()) + " >/dev/null 2>&1");
    ASSERT_EQ(r.status, 0) << "the fixture script failed";
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  fs::path Fixture(const std::string& suffix) const {
    return dir_->path() / ("type" + std::to_string(GetParam()) + suffix);
  }

  // The raw disk and the .KDL images made of it, by name.
  std::map<std::string, fs::path> Images() {
    std::map<std::string, fs::path> images{{"raw", Fixture(".img")}};
    const std::vector<uint8_t> raw = ReadFile(Fixture(".img"));
    kdl::TrackCodec codec;
    codec.CodecInit();
    struct Variant {
      const char* name;
      bool compress, omit;
    };
    for (const Variant v :
         {Variant{"packed", true, true}, Variant{"plain", false, true}, Variant{"whole", true, false}}) {
      kdl::KdlWriteOptions options;
      options.compress = v.compress;
      options.omitUnused = v.omit;
      auto kdlImage = kdl::KdlFromRawImage(kdl::ByteView(raw.data(), raw.size()), options, codec);
      EXPECT_TRUE(kdlImage) << v.name;
      if (!kdlImage) continue;
      const fs::path path = dir_->path() / ("type" + std::to_string(GetParam()) + "-" + v.name + ".KDL");
      kdltest::WriteFile(path, *kdlImage);
      images[v.name] = path;
      if (std::string(v.name) == "packed") CheckUnitKinds(*kdlImage);
    }
    return images;
  }

  // The packed image must hold units of all three kinds, so that every reader path is exercised.
  void CheckUnitKinds(const std::vector<uint8_t>& image) {
    auto header = kdl::ParseKdlHeader(kdl::ByteView(image.data(), image.size()));
    auto directory = kdl::ParseTrackDirectory(kdl::ByteView(image.data() + 256, 1280));
    ASSERT_TRUE(header && directory);
    std::set<int> kinds;
    for (int t = 0; t < header->geometry.cylinders; ++t)
      kinds.insert((*directory)[static_cast<size_t>(t)].kind);
    EXPECT_EQ(kinds, (std::set<int>{0, 1, 2}));
    EXPECT_EQ(header->omitUnused, kdl::CanOmitUnused(GetParam()) ? 1 : 0);
  }

  static kdltest::TempDir* dir_;
};

kdltest::TempDir* MtoolsOracle::dir_ = nullptr;

TEST_P(MtoolsOracle, ListingShowsWhatMtoolsWrote) {
  const std::vector<ManifestEntry> manifest = ReadManifest(Fixture(".manifest"));
  ASSERT_GT(manifest.size(), 20u);
  for (const auto& [variant, image] : Images()) {
    SCOPED_TRACE(variant);
    const auto r = RunCommand(std::string(KDL_BINARY) + " ls -R " + ShellQuote(image.string()));
    ASSERT_EQ(r.status, 0) << r.output;
    std::map<std::string, Listed> listed = ParseListing(r.output);
    for (const ManifestEntry& m : manifest) {
      auto it = listed.find(m.path);
      if (m.kind == 'v') {
        // The label's caption is its fixed-width name; it is enough that one label item is listed.
        EXPECT_TRUE(
            std::any_of(listed.begin(), listed.end(), [](auto& p) { return p.second.type == "label"; }));
        continue;
      }
      ASSERT_NE(it, listed.end()) << m.path << " is missing from the listing";
      EXPECT_EQ(it->second.type, m.kind == 'd' ? "dir" : "file") << m.path;
      if (m.kind == 'f') {
        EXPECT_EQ(it->second.size, m.size) << m.path;
      }
      EXPECT_EQ(it->second.date, ListDate(m.mtime)) << m.path;
      listed.erase(it);
    }
    for (auto it = listed.begin(); it != listed.end();)
      it = it->second.type == "label" ? listed.erase(it) : ++it;
    EXPECT_TRUE(listed.empty()) << "listed but not on the disk: " << listed.begin()->first;
  }
}

TEST_P(MtoolsOracle, CopyGivesTheBytesAndTimesMtoolsGives) {
  const std::vector<ManifestEntry> manifest = ReadManifest(Fixture(".manifest"));
  const fs::path reference = Fixture(".files");
  for (const auto& [variant, image] : Images()) {
    SCOPED_TRACE(variant);
    kdltest::TempDir out;
    const auto r = RunCommand(std::string(KDL_BINARY) + " copy " + ShellQuote(image.string()) + " --to " +
                              ShellQuote(out.path().string()) + " </dev/null");
    ASSERT_EQ(r.status, 0);
    size_t files = 0;
    // Files mtools names differently (it cannot show Shift-JIS short names) are matched by content instead.
    std::multiset<std::vector<uint8_t>> unmatchedOurs, unmatchedTheirs;
    for (const ManifestEntry& m : manifest) {
      if (m.kind == 'v') continue;
      const fs::path ours = out.path() / m.path;
      struct stat st {};
      ASSERT_EQ(lstat(ours.c_str(), &st), 0) << m.path << " was not copied";
      if (m.kind == 'd') {
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << m.path;
        // Folders get their entry's time as mcopy -m gives it, once everything inside is written.
        EXPECT_EQ(LocalTimeText(st.st_mtime), m.mtime) << m.path;
        continue;
      }
      ++files;
      ASSERT_TRUE(S_ISREG(st.st_mode)) << m.path;
      // Stored times have 2-second resolution and are local times.
      EXPECT_EQ(LocalTimeText(st.st_mtime), m.mtime) << m.path;
      EXPECT_EQ((st.st_mode & 0222) == 0, (m.attribute & kdl::kAttrReadOnly) != 0) << m.path;
      const std::vector<uint8_t> bytes = ReadFile(ours);
      EXPECT_EQ(bytes.size(), m.size) << m.path;
      const fs::path theirs = reference / m.path;
      if (fs::exists(theirs)) {
        EXPECT_TRUE(bytes == ReadFile(theirs)) << m.path << " differs from mcopy's copy";
      } else {
        unmatchedOurs.insert(bytes);
      }
    }
    // Every file mcopy wrote under a name we could not place must have its twin among ours.
    for (const auto& e : fs::recursive_directory_iterator(reference)) {
      if (!e.is_regular_file()) continue;
      const std::string rel = fs::relative(e.path(), reference).string();
      if (std::none_of(manifest.begin(), manifest.end(),
                       [&](const ManifestEntry& m) { return m.path == rel; }))
        unmatchedTheirs.insert(ReadFile(e.path()));
    }
    EXPECT_TRUE(unmatchedOurs == unmatchedTheirs) << unmatchedOurs.size() << " of ours against "
                                                  << unmatchedTheirs.size() << " of mcopy's have no twin";
    EXPECT_FALSE(unmatchedOurs.empty()) << "the Shift-JIS names should be among them";
    EXPECT_GT(files, 20u);
  }
}

INSTANTIATE_TEST_SUITE_P(AllMediaTypes, MtoolsOracle, ::testing::Range(0, 8));

}  // namespace

// Volumes read by many threads at once through a unit cache far smaller than what they read, for every media
// type: every byte must be the disk's, a damaged unit must be unreadable for exactly its bytes, and a chain
// that breaks off must end what can be read where it ends.
#include "collection/volume.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "support/image_builder.h"

namespace {

using kdltest::FatDiskBuilder;
constexpr uint16_t kRoot = FatDiskBuilder::kRoot;

struct TestDisk {
  explicit TestDisk(int type) : disk(type) {}
  FatDiskBuilder disk;
  std::map<std::string, std::vector<uint8_t>> files;  // path as the volume names it -> bytes
  uint16_t bigCluster = 0;
  size_t brokenKept = 0;  // bytes BROKEN.BIN's chain still covers
};

// A disk with a file over many units, a fragmented file, one in a subdirectory with a long name, and one
// whose chain breaks off after two of its four clusters.
std::unique_ptr<TestDisk> MakeDisk(int type) {
  auto t = std::make_unique<TestDisk>(type);
  FatDiskBuilder& d = t->disk;
  const size_t cluster = static_cast<size_t>(d.geometry().clusterSize);
  const size_t clusters = static_cast<size_t>(d.geometry().lastCluster - 1);
  t->files["BIG.BIN"] = kdltest::NoiseBytes(cluster * clusters / 3 + 77, 1);
  t->bigCluster = d.AddFile(kRoot, "BIG     BIN", t->files["BIG.BIN"]);
  t->files["TEXT.TXT"] = kdltest::TextBytes(3000, 2);
  d.AddFile(kRoot, "TEXT    TXT", t->files["TEXT.TXT"]);
  const uint16_t sub = d.AddDirectory(kRoot, "SUB        ");
  t->files["SUB/Inner file.txt"] = kdltest::TextBytes(5 * cluster + 3, 3);
  kdltest::EntryOptions named;
  named.longName = u"Inner file.txt";
  d.AddFile(sub, "INNER   TXT", t->files["SUB/Inner file.txt"], named);
  const std::vector<int> free = d.FreeClusters(8);
  t->files["FRAG.BIN"] = kdltest::NoiseBytes(5 * cluster + 7, 4);
  d.AddFileAt(kRoot, "FRAG    BIN", t->files["FRAG.BIN"],
              {free[6], free[0], free[4], free[2], free[5], free[1]});
  const std::vector<int> more = d.FreeClusters(4);
  const std::vector<uint8_t> broken = kdltest::NoiseBytes(4 * cluster, 5);
  d.AddFileAt(kRoot, "BROKEN  BIN", broken, more);
  // The chain ends after its second cluster; the last two are free.
  d.SetFat(more[1], 0xFFF);
  d.SetFat(more[2], 0);
  d.SetFat(more[3], 0);
  t->brokenKept = 2 * cluster;
  t->files["BROKEN.BIN"] = broken;
  return t;
}

kdltest::KdlImage Packed(const TestDisk& t) {
  kdltest::KdlOptions options;
  options.omitUnused = kdl::CanOmitUnused(t.disk.mediaType());
  return kdltest::MakeKdl(t.disk.bytes(), t.disk.mediaType(), options);
}

const kdl::VolumeEntry* Find(const kdl::VolumeDirectory& dir, const std::string& name) {
  for (const kdl::VolumeEntry& e : dir.entries) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

class VolumeTest : public ::testing::TestWithParam<int> {
 protected:
  void Open(const std::vector<uint8_t>& image, size_t cacheBytes) {
    path_ = bench_.Write("disk.KDL", image);
    cache_ = std::make_unique<kdl::UnitCache>(cacheBytes);
    volume_ = kdl::Volume::Open(kdl::VolumeSource{path_, 0, false, "disk.KDL"}, *cache_, prompter_);
    ASSERT_NE(volume_, nullptr);
    const auto root = volume_->Directory(0);
    const auto sub = volume_->Directory(Find(*root, "SUB")->firstCluster);
    for (const auto& [path, content] : disk_->files) {
      const bool inSub = path.rfind("SUB/", 0) == 0;
      const kdl::VolumeEntry* e = Find(inSub ? *sub : *root, inSub ? path.substr(4) : path);
      ASSERT_NE(e, nullptr) << path;
      EXPECT_EQ(e->size, content.size()) << path;
      maps_[path] = volume_->MapFile(*e);
    }
  }

  std::unique_ptr<TestDisk> disk_ = MakeDisk(GetParam());
  kdltest::ImageBench bench_;
  kdltest::ScriptedPrompter prompter_;
  std::string path_;
  std::unique_ptr<kdl::UnitCache> cache_;
  std::shared_ptr<kdl::Volume> volume_;
  std::map<std::string, kdl::FileMap> maps_;
};

TEST_P(VolumeTest, ManyThreadsReadTheDiskThroughACacheOfOneUnit) {
  Open(Packed(*disk_).bytes, 1);
  const size_t cluster = static_cast<size_t>(disk_->disk.geometry().clusterSize);
  std::vector<std::string> paths;
  for (const auto& [path, bytes] : disk_->files) paths.push_back(path);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(static_cast<unsigned>(t));
      std::vector<uint8_t> buffer(4 * cluster);
      for (int i = 0; i < 400; ++i) {
        const std::string& path = paths[random() % paths.size()];
        const std::vector<uint8_t>& bytes = disk_->files.at(path);
        const size_t readable = path == "BROKEN.BIN" ? disk_->brokenKept : bytes.size();
        const size_t offset = random() % (readable + 1), size = 1 + random() % buffer.size();
        const int64_t got = volume_->Read(maps_.at(path), offset, size, buffer.data());
        const size_t want = std::min(size, readable - offset);
        // At the end of what can be read: 0 at the end of the file, -1 where the chain broke off.
        const int64_t expected = want > 0 ? static_cast<int64_t>(want) : (offset < bytes.size() ? -1 : 0);
        if (got != expected || (got > 0 && !std::equal(buffer.begin(), buffer.begin() + got,
                                                       bytes.begin() + static_cast<ptrdiff_t>(offset))))
          ++wrong;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  // The cache never held more than the one unit just loaded.
  EXPECT_LE(cache_->stats().units, 1u);
  EXPECT_GT(cache_->stats().misses, 100u);
  EXPECT_FALSE(volume_->Readable(maps_.at("BROKEN.BIN")));
  EXPECT_EQ(maps_.at("BROKEN.BIN").readable, disk_->brokenKept);
  for (const char* whole : {"BIG.BIN", "FRAG.BIN", "SUB/Inner file.txt"})
    EXPECT_TRUE(volume_->Readable(maps_.at(whole)));
  EXPECT_TRUE(volume_->DamagedUnits().empty());
  EXPECT_TRUE(prompter_.asks.empty());
}

TEST_P(VolumeTest, DamagedUnitIsUnreadableForExactlyItsBytes) {
  const kdl::MediaGeometry& g = disk_->disk.geometry();
  const std::vector<uint8_t>& big = disk_->files.at("BIG.BIN");
  // BIG.BIN lies in consecutive clusters; the unit of its middle byte is damaged.
  const auto unitOf = [&](size_t offset) {
    const size_t sector = static_cast<size_t>(disk_->bigCluster - 2) * g.sectorsPerCluster + g.dataStart +
                          offset / static_cast<size_t>(g.sectorSize);
    return static_cast<int>(sector / static_cast<size_t>(g.sectorsPerTrack));
  };
  const int damaged = unitOf(big.size() / 2);
  kdltest::KdlImage image = Packed(*disk_);
  const kdl::TrackEntry& entry = image.directory[static_cast<size_t>(damaged)];
  ASSERT_NE(entry.kind, kdl::kTrackSameByte);
  image.bytes[static_cast<size_t>(entry.offset + entry.storedLength / 2)] ^= 0x5A;
  Open(image.bytes, 64u << 10);

  const kdl::FileMap& map = maps_.at("BIG.BIN");
  size_t firstBad = big.size();
  std::vector<uint8_t> buffer(static_cast<size_t>(g.sectorSize));
  for (size_t at = big.size(); at-- > 0;) {
    if (at % static_cast<size_t>(g.sectorSize) != 0) continue;
    const int64_t got = volume_->Read(map, at, buffer.size(), buffer.data());
    if (unitOf(at) == damaged) {
      EXPECT_EQ(got, -1) << at;
      firstBad = at;
    } else {
      const size_t want = std::min(buffer.size(), big.size() - at);
      ASSERT_EQ(got, static_cast<int64_t>(want)) << at;
      EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + got, big.begin() + static_cast<ptrdiff_t>(at)));
    }
  }
  // One read across the damage stops right before it.
  std::vector<uint8_t> all(big.size());
  EXPECT_EQ(volume_->Read(map, 0, all.size(), all.data()), static_cast<int64_t>(firstBad));
  std::vector<std::pair<uint64_t, uint64_t>> readable;
  const std::vector<uint8_t> whole = volume_->ReadAll(map, readable);
  ASSERT_EQ(readable.size(), 2u);
  EXPECT_EQ(readable[0], std::make_pair(uint64_t{0}, uint64_t{firstBad}));
  EXPECT_EQ(readable[1].second, big.size());
  EXPECT_FALSE(volume_->Readable(map));
  EXPECT_TRUE(volume_->Readable(maps_.at("TEXT.TXT")) || unitOf(0) == damaged);
  EXPECT_EQ(volume_->DamagedUnits(), std::vector<int32_t>{damaged});
  // The damage is told once, however often its bytes are asked for.
  EXPECT_EQ(prompter_.asks.size(), 1u);
  EXPECT_NE(prompter_.asks[0].text.find("disk.KDL: TRK:"), std::string::npos) << prompter_.asks[0].text;
}

INSTANTIATE_TEST_SUITE_P(AllMediaTypes, VolumeTest, ::testing::Range(0, 8));

}  // namespace

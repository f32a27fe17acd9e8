// What an edit refuses, and what a write that fails leaves behind: nothing. The file systems written here are
// judged by mtools and fsck.fat in tests/oracle/edit_oracle_test.cpp; these tests check the refusals, the
// questions and the failure paths, reading results back through the volume.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>

#include "edit/edit_ops.h"
#include "edit/format_image.h"
#include "edit/image_edit.h"
#include "edit/put.h"
#include "fat/format.h"
#include "image/image_writer.h"
#include "support/image_builder.h"

namespace fs = std::filesystem;

namespace kdltest {
namespace {

using kdl::Answer;

struct EditBench : ImageBench {
  // Writes a formatted disk of `type` as image `name` (a ".KDL" image or a raw one by its name).
  std::string MakeImage(const std::string& name, int type, const std::string& from = "") {
    kdl::FormatOptions o;
    o.mediaType = type;
    if (!from.empty()) o.from = from;
    const std::string path = (dir / name).string();
    EXPECT_GE(kdl::FormatImage(image, path, o), 0);
    return path;
  }
  // Opens `path` and begins an edit; false when either fails.
  bool Begin(kdl::ImageEdit& edit, const std::string& path) {
    work.dialogMode = kdl::HasKdlExtension(path) ? kdl::kModeCreate : kdl::kModeOpenRaw;
    work.rawImagePath = path;
    const bool open = image.OpenImage(path) >= 0;
    work.dialogMode = kdl::kModeCreate;
    if (open && edit.Begin(path)) return true;
    image.CloseImage();
    return false;
  }
  std::string HostFile(const std::string& name, size_t size, int minute = 0) {
    const fs::path p = dir / "host" / name;
    fs::create_directories(p.parent_path());
    WriteFile(p, TextBytes(size, static_cast<uint32_t>(size + 1)));
    const std::time_t t = 946684800 + minute * 60;  // 2000-01-01 00:00 UTC
    struct timespec times[2] = {{t, 0}, {t, 0}};
    utimensat(AT_FDCWD, p.c_str(), times, 0);
    return p.string();
  }
  bool LastMessageHas(const std::string& text) const {
    return !prompter.asks.empty() && prompter.asks.back().text.find(text) != std::string::npos;
  }
  // Files in the folder other than the host files: a failed write must leave no temporary file behind.
  std::vector<std::string> Leftovers(const std::string& keep) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) {
      const std::string n = e.path().filename().string();
      if (n != keep && n != "host") names.push_back(n);
    }
    return names;
  }
};

class EditEveryType : public ::testing::TestWithParam<std::tuple<int, std::string>> {};

// Every write of a commit, from the first to the rename, made to fail in turn: the image stays byte-identical
// and no temporary file is left; with every write passing, the change is there.
TEST_P(EditEveryType, AFailureAtAnyWriteLeavesTheImageAsItWas) {
  const auto [type, name] = GetParam();
  EditBench b;
  const std::string path = b.MakeImage(name, type);
  const std::string host = b.HostFile("new file.bin", 5000);
  const std::vector<uint8_t> before = ReadFile(path);
  const auto change = [&](const std::string& image, const kdl::WriteGate& gate) {
    kdl::ImageEdit edit(b.image);
    if (!b.Begin(edit, image)) return false;
    edit.writeGate = gate;
    const bool changed = kdl::MakeDirectories(edit, {"/DIR"}) &&
                         kdl::PutHostFiles(b.image, edit.volume(), kdl::kRootDirectory, {host}, {});
    return changed && edit.Commit();
  };
  int writes = 0;
  const std::string counted = (b.dir / ("count-" + std::string(name))).string();
  fs::copy_file(path, counted);
  ASSERT_TRUE(change(counted, [&] { return ++writes, true; })) << b.prompter.Texts().back();
  fs::remove(counted);
  ASSERT_GT(writes, 3);
  for (int failAt = 1; failAt <= writes; ++failAt) {
    SCOPED_TRACE("writes fail from " + std::to_string(failAt));
    int n = 0;
    EXPECT_FALSE(change(path, [&] { return ++n < failAt; }));
    EXPECT_TRUE(ReadFile(path) == before);
    EXPECT_EQ(b.Leftovers(name), std::vector<std::string>{});
  }
  EXPECT_TRUE(change(path, nullptr));
  EXPECT_FALSE(ReadFile(path) == before);
  kdl::ImageEdit edit(b.image);
  ASSERT_TRUE(b.Begin(edit, path));
  EXPECT_TRUE(edit.volume().Resolve("/new file.bin"));
  EXPECT_TRUE(edit.volume().ResolveDirectory("/DIR"));
  b.image.CloseImage();
}

INSTANTIATE_TEST_SUITE_P(KdlAndRaw, EditEveryType,
                         ::testing::Combine(::testing::Range(0, 8),
                                            ::testing::Values(std::string("DISK.KDL"),
                                                              std::string("disk.img"))));

// Damage in the file system that writing would spread: the edit is refused with what is wrong and where.
TEST(Edit, DamagedChainsAreNotWrittenOn) {
  struct Damage {
    const char* what;
    std::function<void(kdl::FatVolume&, int32_t a, int32_t b)> spoil;
  };
  const Damage cases[] = {
      {"ループ", [](kdl::FatVolume& v, int32_t a, int32_t) { v.fat().Set(a + 1, static_cast<uint16_t>(a)); }},
      {"重なって", [](kdl::FatVolume& v, int32_t a, int32_t b) { v.fat().Set(b, static_cast<uint16_t>(a)); }},
      {"途中で切れて", [](kdl::FatVolume& v, int32_t a, int32_t) { v.fat().Set(a + 1, 0); }},
      {"サイズより短く", [](kdl::FatVolume& v, int32_t a, int32_t) { v.fat().Set(a + 1, kdl::kFatEnd); }},
  };
  for (const Damage& d : cases) {
    SCOPED_TRACE(d.what);
    EditBench b;
    std::vector<uint8_t> disk = kdl::FormatDisk(2, 1);
    kdl::FatVolume v(disk, kdl::MediaGeometryOf(2));
    kdl::FatNode first, second;
    const std::vector<uint8_t> content = TextBytes(1500);
    ASSERT_EQ(v.CreateFile(0, "FIRST.TXT", kdl::ByteView(content.data(), 1500), {}, &first),
              kdl::FatStatus::kOk);
    ASSERT_EQ(v.CreateFile(0, "SECOND.TXT", kdl::ByteView(content.data(), 600), {}, &second),
              kdl::FatStatus::kOk);
    ASSERT_FALSE(v.FindDamage());
    d.spoil(v, first.entry.FirstCluster(), second.entry.FirstCluster());
    const std::string path = b.Write("damaged.img", disk);
    kdl::ImageEdit edit(b.image);
    EXPECT_FALSE(b.Begin(edit, path));
    EXPECT_TRUE(b.LastMessageHas(d.what)) << b.prompter.asks.back().text;
    EXPECT_TRUE(b.LastMessageHas("FIRST.TXT") || b.LastMessageHas("SECOND.TXT"));
  }
}

// Images that may not be changed at all: a file nobody may write, and an image with a unit that cannot be
// read.
TEST(Edit, ReadOnlyFilesAndUnreadableUnitsAreRefused) {
  EditBench b;
  const std::string path = b.MakeImage("DISK.KDL", 3);
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  kdl::ImageEdit edit(b.image);
  EXPECT_FALSE(b.Begin(edit, path));
  EXPECT_TRUE(b.LastMessageHas("読み込み専用"));
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);

  // The root sits in unit 0, which is stored compressed: a flipped stored byte fails its CRC.
  std::vector<uint8_t> bytes = ReadFile(path);
  bytes[kdl::kTrackDataOffset + 20] ^= 0x55;
  WriteFile(path, bytes);
  EXPECT_FALSE(b.Begin(edit, path));
  EXPECT_TRUE(b.LastMessageHas("読めないトラック"));
  EXPECT_TRUE(ReadFile(path) == bytes);
}

// Refusals of one change: the name, the room, the root, the kind of an existing entry, a directory below
// itself. Nothing is committed, so each leaves the image as it was.
TEST(Edit, RefusedChangesSayWhy) {
  EditBench b;
  const std::string path = b.MakeImage("disk.img", 7);  // DMF: a root of 16 entries
  const std::vector<uint8_t> before = ReadFile(path);
  struct Refusal {
    const char* message;
    std::function<bool(kdl::ImageEdit&)> change;
  };
  const Refusal cases[] = {
      {"ＤＯＳのファイル名にできません",
       [&](kdl::ImageEdit& e) {
         return kdl::PutHostFiles(b.image, e.volume(), 0, {b.HostFile("a:b", 10)}, {});
       }},
      // 838 clusters of 2,048 bytes are free; one byte more takes another cluster.
      {"BIG.BIN が入りません（1718272 バイト必要、空きは 1716224 バイト）",
       [&](kdl::ImageEdit& e) {
         return kdl::PutHostFiles(b.image, e.volume(), 0, {b.HostFile("BIG.BIN", 1716225)}, {});
       }},
      {"ルートディレクトリが一杯です",
       [&](kdl::ImageEdit& e) {
         std::vector<std::string> dirs;
         for (int i = 0; i < 17; ++i) dirs.push_back("/D" + std::to_string(i));
         return kdl::MakeDirectories(e, dirs);
       }},
      {"すでに存在します",
       [&](kdl::ImageEdit& e) { return kdl::MakeDirectories(e, {"/X"}) && kdl::MakeDirectories(e, {"/x"}); }},
      {"すでに存在します",
       [&](kdl::ImageEdit& e) {
         return kdl::MakeDirectories(e, {"/SAME.BIN"}) &&
                kdl::PutHostFiles(b.image, e.volume(), 0, {b.HostFile("SAME.BIN", 10)}, {});
       }},
      {"それ自身の中へは移動できません",
       [&](kdl::ImageEdit& e) {
         return kdl::MakeDirectories(e, {"/A", "/A/B"}) && kdl::MovePath(e, "/A", "/A/B");
       }},
      {"が見つかりません", [&](kdl::ImageEdit& e) { return kdl::RemovePaths(e, {"/NOPE"}, true); }},
      {"ディレクトリです",
       [&](kdl::ImageEdit& e) {
         return kdl::MakeDirectories(e, {"/D"}) && kdl::RemovePaths(e, {"/D"}, false);
       }},
      {"ボリュームラベルにできません",
       [&](kdl::ImageEdit& e) { return kdl::ChangeVolumeLabel(e, "TOO LONG NAME"); }},
  };
  for (const Refusal& r : cases) {
    SCOPED_TRACE(r.message);
    kdl::ImageEdit edit(b.image);
    ASSERT_TRUE(b.Begin(edit, path));
    EXPECT_FALSE(r.change(edit));
    EXPECT_TRUE(b.LastMessageHas(r.message)) << b.prompter.asks.back().text;
    b.image.CloseImage();
    EXPECT_TRUE(ReadFile(path) == before);
  }
}

// The overwrite policies in the direction into the image, and the read-only question on top of them.
TEST(Edit, ExistingEntriesFollowThePolicy) {
  EditBench b;
  const std::string path = b.MakeImage("DISK.KDL", 5);
  const std::string older = b.HostFile("FILE.TXT", 100, 10);
  struct Case {
    kdl::OverwritePolicy policy;
    int minute;  // the host file's time; the entry has minute 10
    std::deque<Answer> answers;
    bool readOnly;
    bool replaced;
    size_t questions;
  };
  const Case cases[] = {
      {kdl::OverwritePolicy::kNewer, 11, {}, false, true, 0},
      {kdl::OverwritePolicy::kNewer, 10, {}, false, false, 0},
      {kdl::OverwritePolicy::kNewer, 9, {}, false, false, 0},
      {kdl::OverwritePolicy::kAll, 9, {}, false, true, 0},
      {kdl::OverwritePolicy::kSkip, 11, {}, false, false, 0},
      {kdl::OverwritePolicy::kAsk, 11, {Answer::kYes}, false, true, 1},
      {kdl::OverwritePolicy::kAsk, 11, {Answer::kNo}, false, false, 1},
      {kdl::OverwritePolicy::kAll, 11, {Answer::kNo}, true, false, 1},
      {kdl::OverwritePolicy::kAll, 11, {Answer::kYes}, true, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.policy)) + " minute " + std::to_string(c.minute));
    kdl::ImageEdit edit(b.image);
    ASSERT_TRUE(b.Begin(edit, path));
    ASSERT_TRUE(kdl::PutHostFiles(b.image, edit.volume(), 0, {older}, {}));
    if (c.readOnly) {
      ASSERT_TRUE(kdl::ChangeAttributes(edit, "/FILE.TXT", kdl::kAttrReadOnly, 0, nullptr));
    }
    const std::string newer = b.HostFile("new/FILE.TXT", 200, c.minute);
    b.prompter.Clear();
    b.prompter.answers = c.answers;
    kdl::PutOptions o;
    o.policy = c.policy;
    ASSERT_TRUE(kdl::PutHostFiles(b.image, edit.volume(), 0, {newer}, o));
    EXPECT_EQ(b.prompter.asks.size(), c.questions);
    EXPECT_EQ(edit.volume().Resolve("/FILE.TXT")->entry.Size(), c.replaced ? 200u : 100u);
    b.image.CloseImage();
  }
}

// DOS attributes come from the extended attribute a copy-out leaves, else from the host file's write bits.
TEST(Edit, HostAttributesAndTimesReachTheEntry) {
  EditBench b;
  const std::string path = b.MakeImage("disk.img", 2);
  const std::string kept = b.HostFile("KEPT.SYS", 10, 0);
  const uint8_t attribute = kdl::kAttrHidden | kdl::kAttrSystem;
  const bool haveXattr = setxattr(kept.c_str(), "user.dos.attrib", &attribute, 1, 0) == 0;
  const std::string locked = b.HostFile("LOCKED.TXT", 10, 61);
  fs::permissions(locked, fs::perms::owner_read);
  kdl::ImageEdit edit(b.image);
  ASSERT_TRUE(b.Begin(edit, path));
  ASSERT_TRUE(kdl::PutHostFiles(b.image, edit.volume(), 0, {kept, locked}, {}));
  if (haveXattr) {
    EXPECT_EQ(edit.volume().Resolve("/KEPT.SYS")->entry.Attribute(), attribute);
  }
  const kdl::DirectoryEntry e = edit.volume().Resolve("/LOCKED.TXT")->entry;
  EXPECT_EQ(e.Attribute(), kdl::kAttrArchive | kdl::kAttrReadOnly);
  const std::time_t t = 946684800 + 61 * 60;
  EXPECT_EQ((static_cast<uint32_t>(e.Date()) << 16) | e.Time(), kdl::HostTimeToDos(t));
  b.image.CloseImage();
}

}  // namespace
}  // namespace kdltest

// An addition that does not complete, wherever it stops, leaves every earlier image and the count intact, and
// the next addition succeeds. Stops are made at every write the addition makes: by killing a child process
// just before the write, and by failing the write and every one after it (a full or failing disk).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "archive/archive_rig.h"
#include "image/create.h"
#include "support/fake_drive.h"

namespace kdltest {
namespace {

// An archive of two images and a third image file to add to it.
struct TwoImages {
  ArchiveRig rig;
  std::vector<std::string> sources;
  std::string third;
  std::vector<uint8_t> base;  // the archive's bytes

  TwoImages() {
    KdlOptions packed;
    packed.omitUnused = true;
    const std::vector<uint8_t> type5 = ReadFile(Floppies() / "type5.img");
    sources.push_back(rig.Write("one.KDL", MakeKdl(type5, 5, packed).bytes));
    sources.push_back(rig.Write("two.img", ReadFile(Floppies() / "blank/type5.img")));
    // Stored plainly, so that it takes many pieces to copy.
    KdlOptions plain;
    plain.compress = false;
    third = rig.Write("three.KDL", MakeKdl(ReadFile(Floppies() / "type4.img"), 4, plain).bytes);
    EXPECT_EQ(rig.AddFiles("A.KDZ", sources, true), 2);
    base = ReadFile(rig.Path("A.KDZ"));
  }

  // Puts the two-image archive back as `name`.
  std::string Fresh(const std::string& name) {
    WriteFile(rig.dir / name, base);
    return rig.Path(name);
  }

  // The archive `name` holds the third image complete behind its record, but the count was not raised: it is
  // not appended to (that would write over the image), says so, and `repair` adopts the image.
  void ExpectThirdAdoptedByRepair(const std::string& name) {
    const std::string path = rig.Path(name);
    EXPECT_TRUE(rig.List(name).empty());
    EXPECT_TRUE(rig.prompter.Asked(path + " : ヘッダーのイメージ数 2 とエントリーの数 3 が一致しません"));
    const std::vector<uint8_t> before = ReadFile(path);
    EXPECT_EQ(rig.AddFiles(name, {third}, false), -1);
    EXPECT_TRUE(ReadFile(path) == before);
    rig.prompter.answers = {kdl::Answer::kYes};
    EXPECT_EQ(kdl::RepairArchive(rig.archive, path), 3);
    EXPECT_EQ(rig.List(name).size(), 3u);
    EXPECT_EQ(rig.Report(name), 0);
    EXPECT_TRUE(rig.Extract(name, 2) == ReadFile(third));
  }

  // The archive `name` still holds exactly the two images, readable, and takes the third one next.
  void ExpectIntactAndAppendable(const std::string& name) {
    const std::vector<std::string> lines = rig.List(name);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 8), "DISK1   ");
    EXPECT_EQ(lines[1].substr(0, 8), "DISK2   ");
    EXPECT_EQ(rig.Report(name), 0);
    EXPECT_TRUE(rig.Extract(name, 0) == ReadFile(sources[0]));
    EXPECT_EQ(rig.Extract(name, 1).size(), ReadFile(sources[1]).size() + 1536);
    ASSERT_EQ(rig.AddFiles(name, {third}, false), 1);
    EXPECT_EQ(rig.List(name).size(), 3u);
    EXPECT_TRUE(rig.Extract(name, 2) == ReadFile(third));
    EXPECT_EQ(rig.Report(name), 0);
  }
};

// The writes the addition of `file` to `archive` makes, counted on a copy.
int CountWrites(TwoImages& t) {
  const std::string path = t.Fresh("count.KDZ");
  int writes = 0;
  t.rig.archive.writeGate = [&] { return ++writes, true; };
  EXPECT_EQ(t.rig.AddFiles("count.KDZ", {t.third}, false), 1);
  t.rig.archive.writeGate = nullptr;
  return writes;
}

TEST(ArchiveCrash, KilledBeforeAnyWriteOfAnAdditionTheArchiveStaysWhole) {
  TwoImages t;
  const int writes = CountWrites(t);
  // The zero record, the image in 16 KiB pieces, the new terminator, the record, the header.
  const size_t imageLength = ReadFile(t.third).size();
  ASSERT_EQ(writes, static_cast<int>(1 + (imageLength + 16383) / 16384 + 3));
  for (int stop = 1; stop <= writes + 1; ++stop) {
    SCOPED_TRACE("killed before write " + std::to_string(stop));
    const std::string name = "k" + std::to_string(stop) + ".KDZ";
    const std::string path = t.Fresh(name);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      kdl::SilentPrompter quiet;
      kdl::ImageWork work;
      work.prompter = &quiet;
      kdl::ImageState image(work);
      kdl::ArchiveState archive(work);
      int calls = 0;
      archive.writeGate = [&] {
        if (++calls == stop) _exit(7);
        return true;
      };
      FileAdder adder({t.third});
      kdl::AddFloppies(archive, image, path, kdl::kOpenArchiveFirst, {}, adder);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (stop > writes) {
      EXPECT_EQ(WEXITSTATUS(status), 0);
      EXPECT_EQ(t.rig.List(name).size(), 3u);
      continue;
    }
    ASSERT_EQ(WEXITSTATUS(status), 7);
    // Nothing before the old terminator was touched.
    const std::vector<uint8_t> after = ReadFile(path);
    ASSERT_GE(after.size(), t.base.size());
    EXPECT_TRUE(std::equal(t.base.begin(), t.base.end() - 32, after.begin()));
    // Killed before the header, the last write: the record of the complete third image is in the chain.
    if (stop == writes) {
      t.ExpectThirdAdoptedByRepair(name);
    } else {
      t.ExpectIntactAndAppendable(name);
    }
  }
}

TEST(ArchiveCrash, FailingWritesEndTheAdditionAndLoseNothing) {
  TwoImages t;
  const int writes = CountWrites(t);
  for (int fail = 1; fail <= writes; ++fail) {
    SCOPED_TRACE("writes fail from write " + std::to_string(fail));
    const std::string name = "f" + std::to_string(fail) + ".KDZ";
    t.Fresh(name);
    int calls = 0;
    t.rig.archive.writeGate = [&] { return ++calls < fail; };
    t.rig.prompter.Clear();
    EXPECT_EQ(t.rig.AddFiles(name, {t.third}, false), 0);
    t.rig.archive.writeGate = nullptr;
    EXPECT_TRUE(t.rig.prompter.Asked("ファイル出力エラー"));
    if (fail == writes) {
      // Only the header could not be written (nor the record put back): the third image is complete.
      t.ExpectThirdAdoptedByRepair(name);
      continue;
    }
    // What the failed addition wrote past the terminator is cut off again.
    EXPECT_EQ(ReadFile(t.rig.Path(name)).size(), t.base.size());
    t.ExpectIntactAndAppendable(name);
  }
}

TEST(ArchiveCrash, FloppyThatFailsHalfwayLeavesTheArchiveAsItWas) {
  TwoImages t;
  const std::string path = t.Fresh("d.KDZ");
  FakeDisk disk;
  disk.bytes = ReadFile(Floppies() / "type3.img");
  disk.MakeUnreadable(40 * 9216, 512);
  FakeDrives source{{&disk}};
  kdl::DriveLayer drives(source, &t.rig.prompter);
  struct DriveAdder : kdl::ImageAdder {
    kdl::DriveLayer& drives;
    explicit DriveAdder(kdl::DriveLayer& d) : drives(d) {}
    int64_t AddImage(kdl::ArchiveState& archive, kdl::ImageState& image) override {
      std::string typeLabel;
      return kdl::CreateImage(image, drives, archive.work().currentImagePath, 1, {}, typeLabel);
    }
  } adder(drives);
  EXPECT_EQ(kdl::AddFloppies(t.rig.archive, t.rig.image, path,
                             kdl::kOpenArchiveFirst | kdl::kCloseArchiveAfter, {}, adder),
            0);
  EXPECT_TRUE(t.rig.prompter.Asked("Drv Read Err"));
  EXPECT_TRUE(ReadFile(path) == t.base);
  t.ExpectIntactAndAppendable("d.KDZ");
}

TEST(ArchiveCrash, CancellingTheFirstFloppyOfANewArchiveLeaves160Bytes) {
  ArchiveRig rig;
  struct Cancelled : kdl::ImageAdder {
    int64_t AddImage(kdl::ArchiveState&, kdl::ImageState&) override { return -1; }
  } adder;
  EXPECT_EQ(kdl::AddFloppies(rig.archive, rig.image, rig.Path("N.KDZ"),
                             kdl::kCreateArchive | kdl::kCloseArchiveAfter, {}, adder),
            0);
  const std::vector<uint8_t> bytes = ReadFile(rig.Path("N.KDZ"));
  ASSERT_EQ(bytes.size(), 160u);
  EXPECT_EQ(bytes[94], 0);
}

}  // namespace
}  // namespace kdltest

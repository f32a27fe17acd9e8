// Independent LHA tools as judges: lhasa must list, test and extract every stream the compressor
// writes (wrapped in a one-member archive), and the expander must restore every stream that jlha,
// a separate -lh5- encoder, writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec/lzh_archive.h"
#include "codec/test_data.h"
#include "support/test_support.h"

namespace {

using kdltest::RunCommand;
using kdltest::ShellQuote;

struct Input {
  std::string name;
  std::vector<uint8_t> bytes;
};

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t offset, size_t length) {
  if (offset >= v.size()) return {};
  size_t n = std::min(length, v.size() - offset);
  return std::vector<uint8_t>(v.begin() + static_cast<long>(offset),
                              v.begin() + static_cast<long>(offset + n));
}

// A 1.44 MB FAT12 image with some text files and a program on it, made by mkfs.fat and mcopy.
std::vector<uint8_t> MakeFatImage(const kdltest::TempDir& dir) {
  std::string img = (dir / "disk.img").string();
  std::string cmd =
      "mkfs.fat -C " + ShellQuote(img) + " 1440 >/dev/null 2>&1 && MTOOLS_SKIP_CHECK=1 mcopy -i " +
      ShellQuote(img) + " " + ShellQuote(kdltest::DataPath("lh5-vectors/gpl3_21504.in").string()) + " " +
      ShellQuote(kdltest::DataPath("lh5-vectors/records_21504.in").string()) + " /bin/ls ::/ >/dev/null 2>&1";
  if (RunCommand(cmd).status != 0) return {};
  return kdltest::ReadFile(img);
}

std::vector<Input> OracleInputs(const kdltest::TempDir& dir) {
  std::vector<Input> inputs;
  std::vector<uint8_t> fat = MakeFatImage(dir);
  if (fat.empty()) fat = kdltest::VectorInput("fatdir_21504");  // no mkfs.fat/mcopy here
  // Cylinders of 9, 18 and 21 sectors per track: boot sector and FATs, root directory, file data.
  for (size_t unit : {9216u, 18432u, 21504u}) {
    for (size_t cyl : {0u, 1u, 3u}) {
      std::vector<uint8_t> c = Slice(fat, cyl * unit, unit);
      if (!c.empty()) inputs.push_back({"fat" + std::to_string(unit) + "_" + std::to_string(cyl), c});
    }
  }
  std::vector<uint8_t> ls = kdltest::ReadFile("/bin/ls");
  inputs.push_back({"ls_0", Slice(ls, 0, 18432)});
  inputs.push_back({"ls_1", Slice(ls, 18432 * 2, 18432)});
  inputs.push_back({"text", kdltest::VectorInput("gpl3_18432")});
  inputs.push_back({"words", kdltest::VectorInput("words_21504")});
  inputs.push_back({"multiblock", kdltest::VectorInput("multiblock_gpl_60000")});
  inputs.push_back({"equal", std::vector<uint8_t>(18432, 0xF6)});
  inputs.push_back({"pattern", kdltest::Pattern(18432, {'K', 'D', 'L', 0, 1})});
  inputs.push_back({"spaces", std::vector<uint8_t>(9216, ' ')});
  inputs.push_back({"random", kdltest::RandomBytes(18432, 11)});
  return inputs;
}

// Lines of a listing between its two rules of dashes: one per member.
int ListedMembers(const std::string& listing) {
  int rules = 0, members = 0;
  size_t start = 0;
  while (start < listing.size()) {
    size_t end = listing.find('\n', start);
    if (end == std::string::npos) end = listing.size();
    std::string line = listing.substr(start, end - start);
    if (line.rfind("----", 0) == 0) {
      ++rules;
    } else if (rules == 1 && !line.empty()) {
      ++members;
    }
    start = end + 1;
  }
  return rules == 2 ? members : -1;
}

TEST(LhasaOracle, ListsTestsAndExtractsEveryCompressedTrack) {
  if (!kdltest::HaveTool("lhasa")) GTEST_SKIP() << "lhasa is not installed";
  kdltest::TempDir dir;
  kdl::TrackCodec codec;
  int judged = 0;
  for (const Input& input : OracleInputs(dir)) {
    SCOPED_TRACE(input.name);
    const std::vector<uint8_t>& in = input.bytes;
    std::vector<uint8_t> out(in.size());
    int n = codec.CompressTrack(in.data(), out.data(), static_cast<int32_t>(in.size()));
    std::vector<uint8_t> stream;
    if (n >= 0) {
      stream.assign(out.begin(), out.begin() + n);
    } else {
      // Not kept, but the full stream of such data must be just as valid.
      EXPECT_EQ(n, -1);
      stream = kdl::Lh5CompressUnbounded(in.data(), in.size());
    }
    std::string archive = (dir / (input.name + ".lzh")).string();
    kdltest::WriteFile(archive, kdltest::MakeLzhArchive(input.name + ".bin", in, stream));

    kdltest::CommandResult list = RunCommand("lhasa l " + ShellQuote(archive), true);
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(ListedMembers(list.output), 1) << list.output;
    kdltest::CommandResult test = RunCommand("lhasa t " + ShellQuote(archive), true);
    EXPECT_EQ(test.status, 0) << test.output;
    EXPECT_NE(test.output.find("Tested"), std::string::npos) << test.output;
    kdltest::CommandResult print = RunCommand("lhasa pq " + ShellQuote(archive));
    EXPECT_EQ(print.status, 0);
    EXPECT_TRUE(print.output == std::string(in.begin(), in.end())) << "extracted bytes differ";
    ++judged;
  }
  EXPECT_GE(judged, 15);

  // Empty input: never kept.
  uint8_t none[1] = {0};
  EXPECT_EQ(codec.CompressTrack(none, none, 0), -1);
}

// A wrong checksum makes lhasa list nothing while still exiting 0: the member count must catch it.
TEST(LhasaOracle, ListingDetectsABrokenHeader) {
  if (!kdltest::HaveTool("lhasa")) GTEST_SKIP() << "lhasa is not installed";
  kdltest::TempDir dir;
  std::vector<uint8_t> in = kdltest::VectorInput("short_text_300");
  std::vector<uint8_t> archive =
      kdltest::MakeLzhArchive("t.bin", in, kdltest::VectorStream("short_text_300"));
  archive[1] = static_cast<uint8_t>(archive[1] + 1);
  std::string path = (dir / "bad.lzh").string();
  kdltest::WriteFile(path, archive);
  EXPECT_NE(ListedMembers(RunCommand("lhasa l " + ShellQuote(path), true).output), 1);
}

TEST(JlhaOracle, ExpandTrackRestoresJlhaStreams) {
  if (!kdltest::HaveTool("jlha")) GTEST_SKIP() << "jlha is not installed";
  kdltest::TempDir dir;
  std::vector<Input> inputs = OracleInputs(dir);
  std::string files;
  for (const Input& input : inputs) {
    kdltest::WriteFile(dir / input.name, input.bytes);
    files += " " + ShellQuote(input.name);
  }
  // One archive for all inputs: a single Java start-up keeps this test short.
  kdltest::CommandResult made =
      RunCommand("cd " + ShellQuote(dir.path().string()) + " && jlha c0o5q out.lzh" + files, true);
  ASSERT_EQ(made.status, 0) << made.output;
  std::vector<kdltest::LzhMember> members = kdltest::ParseLzhArchive(kdltest::ReadFile(dir / "out.lzh"));
  ASSERT_EQ(members.size(), inputs.size());

  kdl::TrackCodec codec;
  ASSERT_EQ(codec.CodecInit(), 0);
  int expanded = 0;
  for (const kdltest::LzhMember& m : members) {
    SCOPED_TRACE(m.name);
    const Input* input = nullptr;
    for (const Input& i : inputs) {
      if (i.name == m.name) input = &i;
    }
    ASSERT_NE(input, nullptr);
    ASSERT_EQ(m.originalSize, input->bytes.size());
    EXPECT_EQ(m.crc, kdltest::Crc16Arc(input->bytes));
    if (m.method != "-lh5-") continue;  // stored plainly
    std::vector<uint8_t> out(m.originalSize);
    ASSERT_EQ(codec.ExpandTrack(m.stream.data(), out.data(), static_cast<int32_t>(out.size()),
                                static_cast<int32_t>(m.stream.size())),
              0);
    EXPECT_TRUE(out == input->bytes);
    ++expanded;
  }
  EXPECT_GE(expanded, 15);
}

}  // namespace

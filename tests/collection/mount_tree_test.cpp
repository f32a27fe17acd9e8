// The tree a mount shows, on a hostile disk: names that try to leave their folder, names two entries share,
// directories that lead back into themselves and a tree deeper than any real one. Every name must be one safe
// file name, unique in its folder; every walk must end; and the same disk mounted in this process (the window
// program's way) must end its mount even while a file in it is held open.
#include "kdl/mount/mount_tree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "kdl/mount/fuse_mount.h"
#include "support/image_builder.h"

namespace {

using kdltest::FatDiskBuilder;
using kdltest::RunCommand;
using kdltest::ShellQuote;
constexpr uint16_t kRoot = FatDiskBuilder::kRoot;

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

kdltest::EntryOptions Named(std::u16string name, uint8_t attribute = kdl::kAttrArchive) {
  kdltest::EntryOptions o;
  o.longName = std::move(name);
  o.attribute = attribute;
  return o;
}

// A 1.44 MB disk with everything a crafted image can hold against a host.
std::vector<uint8_t> HostileDisk() {
  FatDiskBuilder d(2);
  d.AddFile(kRoot, "..         ", Bytes("dots"));
  d.AddFile(kRoot, "A/B     TXT", Bytes("slash"));
  d.AddFile(kRoot, "X1         ", Bytes("x"), Named(u"../../x"));
  d.AddFile(kRoot, "X2         ", Bytes("x2"), Named(u"a/b"));
  d.AddFile(kRoot, "X3         ", Bytes("x3"), Named(u"bell\aand\nnewline"));
  d.AddFile(kRoot, "SAME    TXT", Bytes("first"));
  d.AddFile(kRoot, "SAME    TXT", Bytes("second"));
  d.AddFile(kRoot, "SAME~2  TXT", Bytes("third"), Named(u"SAME.TXT~2"));
  const uint16_t loop = d.AddDirectory(kRoot, "LOOP       ");
  d.AddFile(loop, "IN      TXT", Bytes("in loop"));
  d.AddEntry(loop, FatDiskBuilder::ShortEntry("AGAIN      ", Named(u"", kdl::kAttrDirectory), loop, 0));
  const uint16_t inner = d.AddDirectory(loop, "INNER      ");
  d.AddEntry(inner, FatDiskBuilder::ShortEntry("BACK       ", Named(u"", kdl::kAttrDirectory), loop, 0));
  d.AddEntry(kRoot, FatDiskBuilder::ShortEntry("ZERO       ", Named(u"", kdl::kAttrDirectory), 0, 0));
  uint16_t deep = kRoot;
  for (int level = 0; level < 200; ++level) deep = d.AddDirectory(deep, "D          ");
  d.AddFile(deep, "BOTTOM  TXT", Bytes("bottom"));
  return kdltest::MakeKdl(d.bytes(), 2).bytes;
}

bool SafeName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.size() <= 255 &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos &&
         std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

TEST(MountTree, HostileNamesAreSafeAndUniqueAndEveryWalkEnds) {
  kdltest::ImageBench bench;
  const std::string image = bench.Write("hostile.KDL", HostileDisk());
  kdlmount::MountTree tree(image, bench.prompter);
  std::string error;
  ASSERT_TRUE(tree.Open(error)) << error;

  size_t nodes = 0, deepest = 0;
  std::set<std::string> rootNames;
  std::function<void(const kdlmount::Node&, const std::string&, size_t)> walk =
      [&](const kdlmount::Node& node, const std::string& path, size_t depth) {
        std::vector<std::pair<std::string, kdlmount::Node>> children;
        ASSERT_EQ(tree.List(node, children), 0) << path;
        std::set<std::string> names;
        for (const auto& [name, child] : children) {
          ASSERT_LT(++nodes, 5000u) << "the walk does not end";
          EXPECT_TRUE(SafeName(name)) << path << "/" << name;
          EXPECT_TRUE(names.insert(name).second) << "two entries named " << path << "/" << name;
          if (depth == 0) rootNames.insert(name);
          // Every name listed is found again by its path.
          kdlmount::Node again;
          ASSERT_EQ(tree.Lookup(path + "/" + name, again), 0) << path << "/" << name;
          EXPECT_EQ(again.kind, child.kind);
          deepest = std::max(deepest, depth + 1);
          if (child.kind == kdlmount::NodeKind::kDirectory) walk(child, path + "/" + name, depth + 1);
        }
      };
  kdlmount::Node root;
  ASSERT_EQ(tree.Lookup("/", root), 0);
  walk(root, "", 0);
  // Names made safe as copy-out makes them, the shared names numbered.
  for (const char* expected : {"__", "A_B.TXT", ".._.._x", "a_b", "bell_and_newline", "SAME.TXT",
                               "SAME.TXT~3", "SAME.TXT~2", "LOOP", "ZERO"})
    EXPECT_EQ(rootNames.count(expected), 1u) << expected;
  // The directories that lead back to LOOP are left out; the deep tree is cut.
  std::vector<std::pair<std::string, kdlmount::Node>> children;
  kdlmount::Node loopNode;
  ASSERT_EQ(tree.Lookup("/LOOP/INNER", loopNode), 0);
  ASSERT_EQ(tree.List(loopNode, children), 0);
  EXPECT_TRUE(children.empty());
  EXPECT_EQ(tree.Lookup("/LOOP/AGAIN", loopNode), -ENOENT);
  EXPECT_LE(deepest, 129u);
  EXPECT_GE(deepest, 100u);
  kdlmount::Node file;
  EXPECT_EQ(tree.Lookup("/SAME.TXT/x", file), -ENOTDIR);
  EXPECT_EQ(tree.Lookup("/nothing", file), -ENOENT);
}

TEST(MountTree, UniqueNamesNumberRepeatsWithinTheNameLimit) {
  EXPECT_EQ(kdlmount::UniqueNames({"A", "A", "A~2", "B"}),
            (std::vector<std::string>{"A", "A~3", "A~2", "B"}));
  std::string wide;
  for (int i = 0; i < 85; ++i) wide += "あ";  // 255 bytes
  const std::vector<std::string> names = kdlmount::UniqueNames({wide, wide});
  EXPECT_EQ(names[0], wide);
  EXPECT_LE(names[1].size(), 255u);
  EXPECT_EQ(names[1], wide.substr(0, 252) + "~2");
}

TEST(MountSession, ServesInThisProcessAndEndsWhileAFileIsHeldOpen) {
  if (access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "needs /dev/fuse (FUSE is not available here)";
  kdltest::ImageBench bench;
  const std::string image = bench.Write("hostile.KDL", HostileDisk());
  const std::string point = (bench.dir / "mnt").string();
  std::filesystem::create_directory(point);
  kdlmount::MountSession session;
  std::string error;
  EXPECT_FALSE(session.Start((bench.dir / "none.KDL").string(), point, error));
  EXPECT_NE(error.find("がオープンできません"), std::string::npos) << error;
  ASSERT_TRUE(session.Start(image, point, error)) << error;
  ASSERT_TRUE(kdltest::IsMounted(point));
  // find(1) walks the whole tree and ends.
  const auto r = RunCommand("timeout 60 find " + ShellQuote(point) + " | wc -l");
  EXPECT_EQ(r.status, 0);
  // The mount point, 11 entries of the root, 2 in LOOP and the deep tree cut at 127 levels.
  EXPECT_EQ(std::stoi(r.output), 1 + 11 + 2 + 126);
  std::ifstream in(point + "/LOOP/IN.TXT");
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "in loop");

  const int held = open((point + "/SAME.TXT").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  session.Stop();
  EXPECT_FALSE(session.IsRunning());
  EXPECT_FALSE(kdltest::IsMounted(point));
  char byte = 0;
  EXPECT_EQ(pread(held, &byte, 1, 0), -1) << "the connection should have ended";
  close(held);
}

}  // namespace

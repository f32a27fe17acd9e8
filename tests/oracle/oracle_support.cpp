#include "oracle/oracle_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <exception>
#include <fstream>
#include <sstream>

#include "codec/codec.h"
#include "image/track_encode.h"

namespace fs = std::filesystem;

namespace kdloracle {

using kdltest::RunCommand;
using kdltest::ShellQuote;

std::vector<ManifestEntry> ReadManifest(const fs::path& file) {
  std::vector<ManifestEntry> out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> col;
    std::stringstream ss(line);
    for (std::string c; std::getline(ss, c, '\t');) col.push_back(c);
    if (col.size() < 7) continue;
    out.push_back({col[0][0], col[1], std::stoull(col[2]), col[3],
                   std::stoi(col[4].substr(0, 2), nullptr, 16), static_cast<unsigned>(std::stoul(col[6]))});
  }
  return out;
}

std::string LocalTimeText(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

FixtureDisks::FixtureDisks() {
  try {
    kdltest::Floppies();
    built_ = true;
  } catch (const std::exception&) {
    built_ = false;
  }
}

fs::path FixtureDisks::Fixture(int type, const std::string& suffix) const {
  return kdltest::Floppies() / ("type" + std::to_string(type) + suffix);
}

fs::path FixtureDisks::PackedKdl(int type, const std::string& name) const {
  const std::vector<uint8_t> raw = kdltest::ReadFile(Fixture(type, ".img"));
  kdl::TrackCodec codec;
  codec.CodecInit();
  const auto image =
      kdl::KdlFromRawImage(kdl::ByteView(raw.data(), raw.size()), kdl::KdlWriteOptions{}, codec);
  const fs::path path = dir_.path() / name;
  if (image) kdltest::WriteFile(path, *image);
  return path;
}

bool FuseUsable() {
  const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return kdltest::HaveTool("fusermount3");
}

KdlMount::KdlMount(const std::string& kdl, const fs::path& source, const std::string& extra)
    : point_(dir_.path() / "mnt") {
  fs::create_directory(point_);
  const auto r = RunCommand(kdl + " mount " + ShellQuote(source.string()) + " " +
                                ShellQuote(point_.string()) + " " + extra + " </dev/null",
                            true);
  output_ = r.output;
  ok_ = r.status == 0 && kdltest::IsMounted(point_);
}

KdlMount::~KdlMount() {
  if (kdltest::IsMounted(point_))
    RunCommand("fusermount3 -u " + ShellQuote(point_.string()) + " 2>/dev/null");
}

}  // namespace kdloracle

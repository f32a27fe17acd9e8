// Track codec speed and size against zlib on 18,432-byte units (one 1.44 MB cylinder) of text, x86
// programs, a mix of both and a FAT12 disk image built with mkfs.fat/mcopy: the compressor against deflate
// at level 9, the expander against inflate, each pair timed unit by unit in the same loop
// (in the thread's CPU time).
#include <benchmark/benchmark.h>
#include <time.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/codec.h"

namespace {

constexpr size_t kUnit = 18432;
constexpr size_t kMaxUnits = 40;

using Units = std::vector<std::vector<uint8_t>>;

std::vector<uint8_t> Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Cuts the files into whole units, at most `perFile` from each, until `kMaxUnits` are taken.
Units CutFiles(const std::vector<std::filesystem::path>& files, size_t perFile) {
  Units units;
  for (const auto& f : files) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(f, ec)) continue;
    std::vector<uint8_t> bytes = Slurp(f);
    for (size_t off = 0, n = 0; off + kUnit <= bytes.size() && n < perFile; off += kUnit, ++n) {
      units.emplace_back(bytes.begin() + static_cast<long>(off),
                         bytes.begin() + static_cast<long>(off + kUnit));
      if (units.size() == kMaxUnits) return units;
    }
  }
  return units;
}

Units TextUnits() {
  // Licence texts and C headers, joined so that short files still fill units.
  std::vector<uint8_t> all;
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/usr/share/common-licenses", ec))
    files.push_back(e.path());
  for (const char* h : {"/usr/include/stdio.h", "/usr/include/stdlib.h", "/usr/include/unistd.h",
                        "/usr/include/zlib.h", "/usr/include/string.h", "/usr/include/math.h"})
    files.emplace_back(h);
  for (const auto& f : files) {
    if (!std::filesystem::is_regular_file(f, ec)) continue;
    std::vector<uint8_t> b = Slurp(f);
    all.insert(all.end(), b.begin(), b.end());
  }
  Units units;
  for (size_t off = 0; off + kUnit <= all.size() && units.size() < kMaxUnits; off += kUnit)
    units.emplace_back(all.begin() + static_cast<long>(off), all.begin() + static_cast<long>(off + kUnit));
  return units;
}

Units BinaryUnits() {
  return CutFiles({"/usr/bin/cmake", "/usr/bin/git", "/bin/ls", "/usr/bin/perl", "/usr/bin/gdb", "/bin/bash",
                   "/usr/bin/ninja", "/usr/bin/ctest"},
                  6);
}

Units MixedUnits(const Units& text, const Units& bin) {
  Units units;
  for (size_t i = 0; i < text.size() || i < bin.size(); ++i) {
    if (i < text.size()) units.push_back(text[i]);
    if (i < bin.size()) units.push_back(bin[i]);
    if (units.size() >= kMaxUnits) break;
  }
  return units;
}

// A 1.44 MB FAT12 image holding a few text files and programs, cut into its 80 cylinders.
Units FatImageUnits() {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "kdl-codec-bench";
  std::filesystem::create_directories(dir);
  std::filesystem::path img = dir / "disk.img";
  std::filesystem::remove(img);
  std::string cmd = "mkfs.fat -C " + img.string() + " 1440 >/dev/null 2>&1 && MTOOLS_SKIP_CHECK=1 mcopy -i " +
                    img.string() +
                    " /usr/share/common-licenses/GPL-3 /usr/share/common-licenses/Apache-2.0"
                    " /usr/include/stdio.h /usr/include/unistd.h /bin/ls /usr/bin/ninja ::/ >/dev/null 2>&1";
  Units units;
  if (std::system(cmd.c_str()) == 0) {
    std::vector<uint8_t> bytes = Slurp(img);
    for (size_t off = 0; off + kUnit <= bytes.size(); off += kUnit)
      units.emplace_back(bytes.begin() + static_cast<long>(off),
                         bytes.begin() + static_cast<long>(off + kUnit));
  }
  std::filesystem::remove_all(dir);
  if (units.empty()) {
    // No mkfs.fat or mcopy here: fall back to the cylinder-sized known-answer inputs.
    for (const char* name : {"fatdir_18432", "gpl3_18432", "code_18432", "records_18432", "mixed_18432"})
      units.push_back(
          Slurp(std::filesystem::path(KDL_TEST_DATA_DIR) / "lh5-vectors" / (std::string(name) + ".in")));
  }
  return units;
}

size_t TotalBytes(const Units& units) {
  size_t n = 0;
  for (const auto& u : units) n += u.size();
  return n;
}

// CPU time of the calling thread. The pairs below are timed with it: on a machine shared with other work,
// time when the core ran something else is counted against neither side.
struct ThreadCpuClock {
  using duration = std::chrono::nanoseconds;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<ThreadCpuClock>;
  static constexpr bool is_steady = true;
  static time_point now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return time_point(duration(static_cast<rep>(ts.tv_sec) * 1000000000 + ts.tv_nsec));
  }
};

// Stored size of a unit: the compressed length when kept, else the unit itself.
size_t Lh5Compress(kdl::TrackCodec& codec, const std::vector<uint8_t>& unit, std::vector<uint8_t>& out) {
  int n = codec.CompressTrack(unit.data(), out.data(), static_cast<int32_t>(unit.size()));
  return n >= 0 ? static_cast<size_t>(n) : unit.size();
}

size_t Deflate9(const std::vector<uint8_t>& unit, std::vector<uint8_t>& out) {
  uLongf len = static_cast<uLongf>(out.size());
  if (compress2(out.data(), &len, unit.data(), static_cast<uLong>(unit.size()), 9) != Z_OK) std::abort();
  return len;
}

void BM_Lh5Compress(benchmark::State& state, const Units* units) {
  kdl::TrackCodec codec;
  std::vector<uint8_t> out(kUnit * 2);
  size_t stored = 0;
  for (auto _ : state) {
    stored = 0;
    for (const auto& u : *units) stored += Lh5Compress(codec, u, out);
    benchmark::DoNotOptimize(stored);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes(*units)));
  state.counters["stored_ratio"] = static_cast<double>(stored) / static_cast<double>(TotalBytes(*units));
}

void BM_Deflate9(benchmark::State& state, const Units* units) {
  std::vector<uint8_t> out(compressBound(kUnit));
  size_t stored = 0;
  for (auto _ : state) {
    stored = 0;
    for (const auto& u : *units) stored += Deflate9(u, out);
    benchmark::DoNotOptimize(stored);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes(*units)));
  state.counters["stored_ratio"] = static_cast<double>(stored) / static_cast<double>(TotalBytes(*units));
}

void BM_Lh5Expand(benchmark::State& state, const Units* units) {
  kdl::TrackCodec codec;
  if (codec.CodecInit() != 0) {
    state.SkipWithError("CodecInit failed");
    return;
  }
  Units streams;
  Units packed;
  std::vector<uint8_t> out(kUnit);
  for (const auto& u : *units) {
    int n = codec.CompressTrack(u.data(), out.data(), static_cast<int32_t>(u.size()));
    if (n < 0) continue;
    streams.emplace_back(out.begin(), out.begin() + n);
    packed.push_back(u);
  }
  if (streams.empty()) {
    state.SkipWithError("no unit compresses");
    return;
  }
  for (auto _ : state) {
    for (size_t i = 0; i < streams.size(); ++i) {
      int r = codec.ExpandTrack(streams[i].data(), out.data(), static_cast<int32_t>(packed[i].size()),
                                static_cast<int32_t>(streams[i].size()));
      if (r != 0) std::abort();
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes(packed)));
  state.counters["units"] = static_cast<double>(streams.size());
}

// Both compressors over the same units in the same loop, so that the ratios do not depend on
// how busy the machine was between two separate benchmarks.
void BM_Lh5VersusDeflate9(benchmark::State& state, const Units* units) {
  kdl::TrackCodec codec;
  std::vector<uint8_t> out(compressBound(kUnit) * 2);
  using Clock = ThreadCpuClock;
  Clock::duration lh5Time{}, zTime{};
  size_t lh5Size = 0, zSize = 0;
  for (auto _ : state) {
    lh5Size = zSize = 0;
    for (const auto& u : *units) {
      auto t0 = Clock::now();
      lh5Size += Lh5Compress(codec, u, out);
      auto t1 = Clock::now();
      zSize += Deflate9(u, out);
      auto t2 = Clock::now();
      lh5Time += t1 - t0;
      zTime += t2 - t1;
    }
  }
  state.counters["deflate_time_over_lh5_time"] =
      std::chrono::duration<double>(zTime).count() / std::chrono::duration<double>(lh5Time).count();
  state.counters["lh5_size_over_deflate_size"] = static_cast<double>(lh5Size) / static_cast<double>(zSize);
}

// Both expanders over the same units in the same loop: ours on the -lh5- streams, zlib's inflate (one stream
// reset for every unit, as a program that expands many units would keep it) on deflate level 9 streams of
// the same units.
void BM_Lh5ExpandVersusInflate(benchmark::State& state, const Units* units) {
  kdl::TrackCodec codec;
  if (codec.CodecInit() != 0) {
    state.SkipWithError("CodecInit failed");
    return;
  }
  Units lh5, deflated, packed;
  std::vector<uint8_t> out(compressBound(kUnit) * 2);
  for (const auto& u : *units) {
    const int n = codec.CompressTrack(u.data(), out.data(), static_cast<int32_t>(u.size()));
    if (n < 0) continue;
    lh5.emplace_back(out.begin(), out.begin() + n);
    const size_t z = Deflate9(u, out);
    deflated.emplace_back(out.begin(), out.begin() + static_cast<long>(z));
    packed.push_back(u);
  }
  if (packed.empty()) {
    state.SkipWithError("no unit compresses");
    return;
  }
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) std::abort();
  using Clock = ThreadCpuClock;
  Clock::duration lh5Time{}, zTime{};
  for (auto _ : state) {
    for (size_t i = 0; i < packed.size(); ++i) {
      auto t0 = Clock::now();
      if (codec.ExpandTrack(lh5[i].data(), out.data(), static_cast<int32_t>(packed[i].size()),
                            static_cast<int32_t>(lh5[i].size())) != 0)
        std::abort();
      benchmark::DoNotOptimize(out.data());
      auto t1 = Clock::now();
      inflateReset(&zs);
      zs.next_in = deflated[i].data();
      zs.avail_in = static_cast<uInt>(deflated[i].size());
      zs.next_out = out.data();
      zs.avail_out = static_cast<uInt>(out.size());
      if (inflate(&zs, Z_FINISH) != Z_STREAM_END) std::abort();
      benchmark::DoNotOptimize(out.data());
      auto t2 = Clock::now();
      lh5Time += t1 - t0;
      zTime += t2 - t1;
    }
  }
  inflateEnd(&zs);
  state.counters["inflate_time_over_lh5_time"] =
      std::chrono::duration<double>(zTime).count() / std::chrono::duration<double>(lh5Time).count();
  state.counters["units"] = static_cast<double>(packed.size());
}

}  // namespace

int main(int argc, char** argv) {
  static Units text = TextUnits();
  static Units bin = BinaryUnits();
  static Units mixed = MixedUnits(text, bin);
  static Units fat = FatImageUnits();
  struct Set {
    const char* name;
    const Units* units;
  };
  for (Set s : {Set{"text", &text}, Set{"x86", &bin}, Set{"mixed", &mixed}, Set{"fat12", &fat}}) {
    if (s.units->empty()) continue;
    std::string n = s.name;
    benchmark::RegisterBenchmark(("Lh5Compress/" + n).c_str(), BM_Lh5Compress, s.units)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Deflate9/" + n).c_str(), BM_Deflate9, s.units)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Lh5Expand/" + n).c_str(), BM_Lh5Expand, s.units)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Lh5VersusDeflate9/" + n).c_str(), BM_Lh5VersusDeflate9, s.units)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Lh5ExpandVersusInflate/" + n).c_str(), BM_Lh5ExpandVersusInflate, s.units)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// `kdl mount` and `kdl find`: a collection of images, archives and folders as a file system, and searched.
#include <sys/stat.h>

#include <filesystem>
#include <iostream>

#include "browse/fat.h"
#include "collection/find.h"
#include "collection/sources.h"
#include "collection/unit_cache.h"
#include "kdl/commands_collection.h"
#include "kdl/mount/fuse_mount.h"

namespace kdlcli {
namespace {

// Exit statuses of `find`, as grep's.
constexpr int kFindFound = 0;
constexpr int kFindNothing = 1;
constexpr int kFindTrouble = 2;
constexpr int kExitInterrupted = 130;
// Expanded units kept while one image is searched.
constexpr size_t kFindCacheBytes = 4u << 20;

// An operand names a source when it exists, or is ARCHIVE:N with the archive existing.
bool NamesSource(const std::string& operand) {
  std::error_code ec;
  if (std::filesystem::exists(operand, ec)) return true;
  const size_t colon = operand.rfind(':');
  return colon != std::string::npos && colon > 0 &&
         std::filesystem::is_regular_file(operand.substr(0, colon), ec);
}

std::string HitLine(const kdl::CollectionImage& image, const kdl::FindHit& hit) {
  std::string line = image.sourceText;
  if (!image.entryName.empty()) line += ":" + image.entryName;
  line += ":" + PrintableText(hit.path) + "  ";
  line += hit.entry.IsDirectory() ? std::string("<DIR>") : std::to_string(hit.entry.size);
  line += "  " + kdl::FatDateText(hit.entry.time, hit.entry.date);
  return line;
}

}  // namespace

CollectionCommands AddCollectionCommands(CLI::App& app) {
  CollectionCommands c;
  c.args = std::make_shared<CollectionArgs>();
  CollectionArgs& a = *c.args;

  c.mount = app.add_subcommand("mount",
                               "Mount an image, an archive (a folder DISKn per image) or a folder of them, "
                               "read-only, through FUSE; unmount with fusermount3 -u MOUNTPOINT");
  c.mount->add_option("SOURCE", a.mount.source, "Image, ARCHIVE.KDZ:N, archive or folder")->required();
  c.mount->add_option("MOUNTPOINT", a.mount.mountpoint, "Existing folder to mount on")->required();
  c.mount->add_flag("-f,--foreground", a.mount.foreground, "Stay in the foreground (Ctrl-C unmounts)");
  c.mount->add_option("-o", a.mount.options, "FUSE mount options (allow_other, ...); may be repeated");
  c.mount
      ->add_option("--cache", a.mount.cacheMegabytes,
                   "Megabytes of expanded track units kept for all images together (default 16)")
      ->check(CLI::Range(1, 4096));

  c.find =
      app.add_subcommand("find",
                         "Find entries by name (shell pattern, long or 8.3 name) and contents in images, "
                         "archives and folders of them; exit 0 found, 1 nothing, 2 errors");
  c.find
      ->add_option("SOURCE", a.find.operands,
                   "Images, archives and folders (searched recursively), then the PATTERN; the last operand "
                   "is the pattern unless it names an existing file")
      ->required();
  c.find->add_option("--grep", a.find.grep, "Only files whose contents hold TEXT (as given or in Shift-JIS)");
  c.find->add_flag("-i,--ignore-case", a.find.ignoreCase,
                   "Ignore ASCII case in long names and contents too (8.3 names always ignore it)");
  return c;
}

int RunCollectionCommand(const CollectionCommands& c, Session& s) {
  if (c.mount != nullptr && c.mount->parsed()) {
    // The mount serves from threads of its own, and a daemon forks: the workers are stopped first, as no
    // thread survives a fork and a lock one of them held would stay taken in the daemon.
    s.UseJobs(1);
    return CmdMount(c.args->mount);
  }
  if (c.find != nullptr && c.find->parsed()) return CmdFind(s, c.args->find);
  return -1;
}

int CmdMount(const MountArgs& a) {
  kdlmount::LogPrompter prompter;
  kdlmount::MountRequest request{a.source, a.mountpoint, a.options, a.foreground, a.cacheMegabytes << 20};
  std::string error;
  const int status = kdlmount::ServeMount(request, prompter, error);
  if (status != 0) std::cerr << "kdl: " << error << std::endl;
  return status == 0 ? kExitOk : kExitFailed;
}

int CmdFind(Session& s, const FindArgs& a) {
  std::vector<std::string> sources = a.operands;
  kdl::FindQuery query;
  if (sources.size() >= 2 && !NamesSource(sources.back())) {
    query.pattern = sources.back();
    sources.pop_back();
  }
  query.text = a.grep;
  query.ignoreCase = a.ignoreCase;
  const kdl::FindMatcher matcher(query);
  kdl::UnitCache cache(kFindCacheBytes);

  bool ok = true;
  bool found = false;
  bool interrupted = false;
  for (const std::string& source : sources) {
    ok &= kdl::WalkCollection(source, s.prompter, [&](const kdl::CollectionImage& image) {
      if (interrupted || (interrupted = s.prompter.Pump())) return;
      const std::shared_ptr<kdl::Volume> volume = kdl::Volume::Open(image.source, cache, s.prompter);
      if (volume == nullptr) {
        ok = false;
        return;
      }
      ok &= kdl::FindInVolume(*volume, matcher, [&](const kdl::FindHit& hit) {
        std::cout << HitLine(image, hit) << "\n";
        found = true;
      });
    });
    if (interrupted) break;
  }
  std::cout.flush();
  if (interrupted) return kExitInterrupted;
  if (!ok || !std::cout) return kFindTrouble;
  return found ? kFindFound : kFindNothing;
}

}  // namespace kdlcli

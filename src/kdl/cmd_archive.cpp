// `kdl add`, `kdl list`, `kdl extract`, the archive forms of test, labels, copy and restore, and the
// ARCHIVE:N operand.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>

#include "archive/archive_add.h"
#include "archive/archive_runs.h"
#include "common/ini.h"
#include "common/sjis.h"
#include "drive/drive_settings.h"
#include "drive/host_drive.h"
#include "image/create.h"
#include "image/export.h"
#include "image/output_file.h"
#include "image/restore.h"
#include "kdl/commands_archive.h"
#include "kdl/commands_drive.h"
#include "kdl/stop_signals.h"

namespace kdlcli {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kExtractCaption = "カドローン抽出";
constexpr std::string_view kExtractExists = " は存在します。上書きしますか？(Y/N):";
constexpr std::string_view kRestoreCaption = "ＦＤ再生";

std::string UpperAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// An entry named on the command line: its index (from 0) for "N", or its name for "DISKn".
struct EntryRef {
  int32_t index = -1;
  std::string name;
};

std::optional<EntryRef> ParseEntryRef(const std::string& text) {
  // "0" names no image; it is taken as an entry so that the archive says so.
  if (AllDigits(text)) return EntryRef{std::stoi(text) - 1, {}};
  const std::string upper = UpperAscii(text);
  if (upper.size() > 4 && upper.compare(0, 4, "DISK") == 0 && AllDigits(upper.substr(4)))
    return EntryRef{-1, upper};
  return std::nullopt;
}

// True, after a message, when `path` is no file but ARCHIVE.KDZ:N, an image inside an archive, where a
// command takes an archive.
bool NamesArchiveImage(const std::string& path) {
  std::error_code ec;
  const size_t colon = path.rfind(':');
  if (colon == std::string::npos || fs::exists(path, ec) ||
      StoredKindOf(path.substr(0, colon)) != StoredKind::kArchive)
    return false;
  std::cerr << "kdl: " << path << " names an image inside " << path.substr(0, colon)
            << "; this command takes the archive itself" << std::endl;
  return true;
}

// Opens `path` as the session's archive; says so when the file is there but is no archive.
bool OpenArchiveFile(Session& s, kdl::ArchiveState& archive, const std::string& path) {
  if (!CheckInputOperand(path, "archive")) return false;
  if (NamesArchiveImage(path)) return false;
  const int before = s.prompter.errorsShown();
  if (kdl::OpenArchive(archive, path) >= 0) return true;
  if (s.prompter.errorsShown() == before) std::cerr << "kdl: " << path << ": not a .KDZ archive" << std::endl;
  return false;
}

// Walks to the entry and leaves the base offset on its image.
bool PositionOn(kdl::ArchiveState& archive, const EntryRef& ref) {
  if (ref.name.empty()) return kdl::PositionOnEntry(archive, ref.index) == 1;
  const int32_t index = kdl::FindArchiveEntry(archive, ref.name);
  return index >= 0 && kdl::PositionOnEntry(archive, index) == 1;
}

kdl::DriveSettings LoadDriveSettings() {
  kdl::IniFile ini;
  ini.Load(kdl::SettingsFilePath());
  return kdl::DriveSettingsFromIni(ini);
}

bool IsDriveLetter(const std::string& text) {
  return text.size() == 2 && std::isalpha(static_cast<unsigned char>(text[0])) != 0 && text[1] == ':';
}

// A drive ready to use: the host devices behind the drive list and the layer over them.
struct OpenedDrive {
  OpenedDrive(const kdl::DriveOperand& operand, kdl::Prompter* prompter, kdl::ReadFailure failure)
      : devices(operand.devices), layer(devices, prompter, failure), number(operand.driveNumber) {}
  kdl::HostDrives devices;
  kdl::DriveLayer layer;
  int32_t number;
};

std::unique_ptr<OpenedDrive> ResolveDrive(Session& s, const std::string& operand, bool sectorRetry = false) {
  if (!CheckDriveFile(operand)) return nullptr;
  const kdl::DriveSettings settings = LoadDriveSettings();
  std::string error;
  const auto resolved = kdl::ResolveDriveOperand(operand, settings, error);
  if (!resolved) {
    std::cerr << "kdl: " << error << std::endl;
    return nullptr;
  }
  const kdl::ReadFailure failure = sectorRetry ? kdl::ReadFailure::kSectorBySector : settings.readFailure;
  return std::make_unique<OpenedDrive>(*resolved, &s.prompter, failure);
}

// What one SOURCE of `kdl add` is.
struct Source {
  enum Kind { kDrive, kImageFile, kRawFile } kind = kImageFile;
  std::string operand;
  std::unique_ptr<OpenedDrive> drive;
};

// Sorts the sources before the archive is touched, so that a typing error adds nothing.
bool ClassifySources(Session& s, const std::vector<std::string>& operands, std::vector<Source>& sources) {
  for (const std::string& operand : operands) {
    Source source;
    source.operand = operand;
    struct stat st {};
    // A disk image of another tool's format is read as a drive, like a floppy.
    if (IsDriveLetter(operand) || (::stat(operand.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) ||
        kdl::IsForeignContainerFile(operand)) {
      source.kind = Source::kDrive;
      source.drive = ResolveDrive(s, operand);
      if (!source.drive) return false;
    } else if (!CheckInputOperand(operand, "image")) {
      return false;
    } else if (::stat(operand.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      std::cerr << "kdl: " << operand << ": no such image file, raw image or drive" << std::endl;
      return false;
    } else if (const StoredKind stored = StoredKindOf(operand); stored == StoredKind::kArchive) {
      std::cerr << "kdl: " << operand << " is a .KDZ archive, not an image to add; cut one of its images out "
                << "first (kdl extract " << operand << " N IMAGE.KDL)" << std::endl;
      return false;
    } else {
      // A .KDL image is known by its contents as well as by its name.
      source.kind =
          HasKdlExtension(operand) || stored == StoredKind::kImage ? Source::kImageFile : Source::kRawFile;
    }
    sources.push_back(std::move(source));
  }
  return true;
}

// Asks the system to start reading the file `path` into its cache.
void ReadAhead(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_WILLNEED);
  ::close(fd);
}

// Supplies the sources of `kdl add` to the archive run, one per round.
class SourceAdder : public kdl::ImageAdder {
 public:
  explicit SourceAdder(std::vector<Source>& sources) : sources_(sources) {}
  // A stop request (Ctrl-C, SIGTERM) ends the run between two images.
  bool WantsAnother() override { return next_ < sources_.size() && !StopPending(); }
  int64_t AddImage(kdl::ArchiveState& archive, kdl::ImageState& image) override {
    Source& source = sources_[next_++];
    // While this image is appended (and synced), the disk already fetches the next file's bytes.
    if (next_ < sources_.size() && sources_[next_].kind != Source::kDrive) ReadAhead(sources_[next_].operand);
    const kdl::LabelTexts noLabels{};
    kdl::ImageWork& work = archive.work();
    const std::string name = work.currentImagePath;
    int64_t length = -1;
    if (source.kind == Source::kDrive) {
      std::string typeLabel;
      int32_t verified = kdl::kNotVerified;
      source.drive->layer.ClearIgnoredSectors();
      // A disk image of another tool gives the image its name or comment as label lines.
      const kdl::LabelTexts labels = kdl::ContainerFileLabels(source.operand);
      length = kdl::CreateImage(image, source.drive->layer, name, source.drive->number, labels, typeLabel,
                                &verified);
      if (verified != kdl::kNotVerified && verified != 0) verifyFailed = true;
      if (ReportIgnoredSectors(source.drive->layer, kExitOk) != kExitOk) verifyFailed = true;
    } else {
      work.rawSource = source.kind == Source::kRawFile;
      length = kdl::AddImageFile(archive, source.operand, noLabels);
    }
    if (length > 0) std::cout << name << "  " << source.operand << std::endl;
    return length;
  }
  bool verifyFailed = false;

 private:
  std::vector<Source>& sources_;
  size_t next_ = 0;
};

std::string WithKdlExtension(const std::string& path) {
  return fs::path(path).filename().has_extension() ? path : path + ".KDL";
}

}  // namespace

bool HasKdzExtension(const std::string& operand) {
  return UpperAscii(fs::path(operand).extension().string()) == ".KDZ";
}

int CmdAdd(Session& s, const AddOptions& o) {
  if (o.labels.size() > 2) throw UsageError{"an archive has two label lines; -l may be given twice"};
  std::array<std::string, kdl::kArchiveLabelCount> labels;
  for (size_t i = 0; i < o.labels.size(); ++i) labels[i] = LabelToSjis(o.labels[i], kdl::kArchiveLabelLength);
  // A device or FIFO named as the archive is refused before the naming rule could turn it into a new file
  // beside it ("/dev/null" -> "/dev/null.KDZ").
  if (!CheckInputOperand(o.archive, "archive") || NamesArchiveImage(o.archive)) return kExitFailed;
  const std::string path = kdl::WithArchiveExtension(o.archive);
  if (path != o.archive && !CheckInputOperand(path, "archive")) return kExitFailed;
  std::error_code ec;
  const bool create = o.fresh || !fs::exists(path, ec);
  if (!create && !o.labels.empty())
    throw UsageError{"-l labels a new archive; change the labels of " + path + " with kdl labels"};
  std::vector<Source> sources;
  if (!ClassifySources(s, o.sources, sources)) return kExitFailed;
  // A write-protected archive is made anew only when a person says so.
  if (o.fresh && kdl::ExamineTarget(path) == kdl::TargetKind::kWriteProtected &&
      !kdl::ConfirmReplace(&s.prompter, "KDZ Form", path, {}))
    return kExitFailed;

  StopCooperatively();
  s.work.compress = !o.noCompress;
  s.work.omitUnused = !o.keepUnused;
  s.work.verify = o.verify;
  kdl::ArchiveState& archive = s.archive;
  if (!create) {
    if (!OpenArchiveFile(s, archive, path)) return kExitFailed;
  }
  SourceAdder adder(sources);
  const int32_t flags = (create ? kdl::kCreateArchive : 0) | kdl::kCloseArchiveAfter;
  const int32_t added = kdl::AddFloppies(archive, s.image, path, flags, labels, adder);
  if (added < 0 && !create) {
    // An archive whose chain and count disagree is not appended to; say how to mend it.
    kdl::ArchiveState probe(s.work);
    if (kdl::OpenArchive(probe, path) >= 0) {
      const kdl::ChainSurvey survey = kdl::SurveyChain(probe);
      if (survey.broken || survey.records != probe.header.count)
        std::cerr << "kdl: `kdl repair " << path << "` adopts complete images and cuts a damaged tail"
                  << std::endl;
      kdl::CloseArchive(probe);
    }
  }
  const bool complete = added >= 0 && static_cast<size_t>(added) == sources.size() && !adder.verifyFailed;
  return complete ? kExitOk : kExitFailed;
}

int CmdRepair(Session& s, const std::string& archivePath) {
  kdl::ArchiveState& archive = s.archive;
  const int before = s.prompter.errorsShown();
  const int32_t images = kdl::RepairArchive(archive, archivePath);
  if (images < 0 && s.prompter.errorsShown() == before && !fs::exists(archivePath))
    std::cerr << "kdl: " << archivePath << ": no such archive" << std::endl;
  if (images >= 0) std::cout << archivePath << ": " << images << " image(s)" << std::endl;
  return images >= 0 ? kExitOk : kExitFailed;
}

int CmdList(Session& s, const std::string& archivePath) {
  kdl::ArchiveState& archive = s.archive;
  if (!OpenArchiveFile(s, archive, archivePath)) return kExitFailed;
  const int32_t lines =
      kdl::ListArchive(archive, [](const std::string& line) { std::cout << kdl::SjisToUtf8(line) << "\n"; });
  std::cout.flush();
  kdl::CloseArchive(archive);
  return lines >= 0 ? kExitOk : kExitFailed;
}

int CmdExtract(Session& s, const std::string& archivePath, const std::string& entry,
               const std::string& output) {
  const std::optional<EntryRef> ref = ParseEntryRef(entry);
  if (!ref) throw UsageError{"\"" + entry + "\" is neither an image number (from 1) nor DISKn"};
  // A device or FIFO named as the output is refused before the naming rule makes a new name beside it.
  if (!CheckOutputOperand(output)) return kExitFailed;
  const std::string target = output == kdl::kStandardOutputName ? output : WithKdlExtension(output);
  if (target != output && !CheckOutputOperand(target)) return kExitFailed;
  kdl::ArchiveState& archive = s.archive;
  if (!OpenArchiveFile(s, archive, archivePath)) return kExitFailed;
  // A write-protected output is asked about by the extraction itself, and only a person can say yes.
  if (kdl::ExamineTarget(target) == kdl::TargetKind::kReplaceable) {
    const std::string question = "KDL " + target + std::string(kExtractExists);
    if (s.prompter.Ask(kExtractCaption, question, kdl::Buttons::kYesNo, kdl::Icon::kQuestion) !=
        kdl::Answer::kYes) {
      kdl::CloseArchive(archive);
      return kExitFailed;
    }
  }
  const int32_t index = ref->name.empty() ? ref->index : kdl::FindArchiveEntry(archive, ref->name);
  const bool found = !ref->name.empty() ? index >= 0 : true;
  s.prompter.SetOutputIsData(target == kdl::kStandardOutputName);
  const int64_t written = found ? kdl::ExtractEntry(archive, target, index) : -1;
  kdl::CloseArchive(archive);
  return written >= 0 ? kExitOk : kExitFailed;
}

int CmdTestArchive(Session& s, const std::string& archivePath) {
  kdl::ArchiveState& archive = s.archive;
  if (!OpenArchiveFile(s, archive, archivePath)) return kExitFailed;
  // Entry names come from the file and may hold control bytes.
  const int32_t failures =
      kdl::ArchiveReport(archive, s.image, kdl::kCloseArchiveAfter,
                         [](const std::string& line) { std::cout << PrintableText(line) << "\n"; });
  std::cout.flush();
  return failures == 0 ? kExitOk : kExitFailed;
}

int CmdLabelsArchive(Session& s, const std::string& archivePath, const std::vector<std::string>& labels) {
  if (labels.size() > 2) throw UsageError{"an archive has two label lines; -l may be given twice"};
  std::array<std::string, kdl::kArchiveLabelCount> texts;
  for (size_t i = 0; i < labels.size(); ++i) texts[i] = LabelToSjis(labels[i], kdl::kArchiveLabelLength);
  kdl::ArchiveState& archive = s.archive;
  if (!OpenArchiveFile(s, archive, archivePath)) return kExitFailed;
  if (!labels.empty() && kdl::WriteArchiveLabels(archive, archive.path, 0, texts) < 0) {
    kdl::CloseArchive(archive);
    return kExitFailed;
  }
  std::string status;
  kdl::ShowArchiveSummary(archive, archive.path, kdl::kCloseArchiveAfter, status);
  std::cout << status << "\n";
  for (const std::string& text : archive.labelTexts) std::cout << kdl::SjisToUtf8(text) << "\n";
  std::cout.flush();
  return kExitOk;
}

bool OpenArchiveOperand(Session& s, const std::string& archivePath) {
  return OpenArchiveFile(s, s.archive, archivePath);
}

int CmdCopyArchive(Session& s, const std::string& archivePath, const std::vector<std::string>& paths,
                   const CopyOptions& o) {
  (void)archivePath;
  if (!paths.empty()) throw UsageError{"kdl copy ARCHIVE copies every image; name one image as ARCHIVE:N"};
  // CmdCopy has opened the archive and checked (or created) the target folder.
  const kdl::OverwritePolicy policy = ParsePolicy(o.policy);
  kdl::ArchiveState& archive = s.archive;
  const int32_t result =
      kdl::CopyAllImages(archive, s.image, o.to, o.flatten, policy, kdl::kCloseArchiveAfter,
                         [&](std::string_view text) { s.prompter.SetStatus(text); });
  return result < 0 || s.prompter.errorsShown() > 0 ? kExitFailed : kExitOk;
}

int CmdRestoreArchive(Session& s, const std::string& archivePath, const std::string& driveOperand,
                      bool verify, bool sectorRetry) {
  std::unique_ptr<OpenedDrive> drive = ResolveDrive(s, driveOperand, sectorRetry);
  if (!drive) return kExitFailed;
  kdl::ArchiveState& archive = s.archive;
  if (!OpenArchiveFile(s, archive, archivePath)) return kExitFailed;
  StopCooperatively();
  s.work.verify = verify;
  s.work.dialogMode = kdl::kModeRestoreWithSkip;
  bool failed = false;
  const int32_t result = kdl::RestoreAllImages(
      archive, s.image, kdl::kCloseArchiveAfter, [&](kdl::ArchiveState&, kdl::ImageState& image) -> int32_t {
        const std::string question = "Insert the disk for " + s.work.currentImagePath +
                                     " and answer y to write it, n to skip it, c to stop";
        const kdl::Answer answer =
            s.prompter.Ask(kRestoreCaption, question, kdl::Buttons::kYesNoCancel, kdl::Icon::kQuestion);
        if (answer == kdl::Answer::kNo) return 0;
        if (answer != kdl::Answer::kYes) return -1;
        int32_t verified = kdl::kNotVerified;
        std::vector<int32_t> filled;
        const int32_t r = kdl::RestoreToDrive(image, drive->layer, drive->number, &verified, &filled);
        if ((verified != kdl::kNotVerified && verified != 0) || !filled.empty()) failed = true;
        return r;
      });
  s.work.dialogMode = kdl::kModeCreate;
  return ReportIgnoredSectors(drive->layer, result < 0 || failed ? kExitFailed : kExitOk);
}

bool OpenArchiveImageOperand(Session& s, const std::string& operand, bool& handled) {
  handled = false;
  const size_t colon = operand.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  const std::string archivePath = operand.substr(0, colon);
  std::error_code ec;
  if (!fs::is_regular_file(archivePath, ec)) return false;
  const std::optional<EntryRef> ref = ParseEntryRef(operand.substr(colon + 1));
  if (!ref) {
    // An archive with a suffix that names none of its images, and no file of the whole name.
    if (StoredKindOf(archivePath) != StoredKind::kArchive || fs::exists(operand, ec)) return false;
    handled = true;
    std::cerr << "kdl: " << operand << ": \"" << operand.substr(colon + 1)
              << "\" is neither an image number (from 1) nor DISKn of " << archivePath << std::endl;
    return false;
  }
  handled = true;
  s.archiveImageOpen = false;
  if (!OpenArchiveFile(s, s.archive, archivePath) || !PositionOn(s.archive, *ref)) return false;
  s.archiveImage = kdl::CurrentImageInfo(s.archive);
  s.work.currentImagePath = s.archiveImage.name;
  s.work.dialogMode = kdl::kModeCreate;
  s.archiveImageOpen = s.image.OpenImage(operand) >= 0;
  return s.archiveImageOpen;
}

const kdl::ArchiveImageInfo* OpenArchiveImageInfo(Session& s) {
  return s.archiveImageOpen && s.image.inArchive() ? &s.archiveImage : nullptr;
}

ArchiveCommands AddArchiveCommands(CLI::App& app) {
  ArchiveCommands c;
  c.args = std::make_shared<ArchiveArgs>();
  ArchiveArgs& a = *c.args;

  c.add = app.add_subcommand("add", "Create an archive or append images to it, each as the next DISKn");
  c.add->add_option("ARCHIVE", a.add.archive, "Archive (.KDZ is added when the name has no extension)")
      ->required();
  c.add->add_option(
      "SOURCE", a.add.sources,
      "Drive (A:, a block device, a D88/FDI/IMD/gzip disk image read as a drive), .KDL image file, "
      "or raw sector image file; in this order");
  c.add->add_option("-l,--label", a.add.labels,
                    "Label line of a new archive (up to twice, 40 bytes in Shift-JIS)");
  c.add->add_flag("--new", a.add.fresh, "Create the archive anew, replacing any file of that name");
  c.add->add_flag("--no-compress", a.add.noCompress, "Store the track units of disks read uncompressed");
  c.add->add_flag("--keep-unused", a.add.keepUnused, "Keep the free clusters of disks read");
  c.add->add_flag("--verify", a.add.verify, "Read each disk again and compare it with its image");

  c.repair = app.add_subcommand(
      "repair",
      "Mend an archive whose records and image count disagree: adopt complete images beyond the count, cut "
      "off a damaged tail (asks first)");
  c.repair->add_option("ARCHIVE", a.archive, "Archive")->required();

  c.list = app.add_subcommand("list", "Print the archive's list, one 80-column line per image");
  c.list->add_option("ARCHIVE", a.archive, "Archive")->required();

  c.extract = app.add_subcommand("extract", "Cut one image out of the archive as a standalone .KDL file");
  c.extract->add_option("ARCHIVE", a.archive, "Archive")->required();
  c.extract->add_option("N", a.entry, "Image number (from 1) or its name DISKn")->required();
  c.extract
      ->add_option("OUTPUT", a.output,
                   "Image file to write (.KDL is added when it has no extension); - for standard output")
      ->required();
  return c;
}

int RunArchiveCommand(const ArchiveCommands& c, Session& s) {
  const ArchiveArgs& a = *c.args;
  if (c.add != nullptr && c.add->parsed()) return CmdAdd(s, a.add);
  if (c.list != nullptr && c.list->parsed()) return CmdList(s, a.archive);
  if (c.repair != nullptr && c.repair->parsed()) return CmdRepair(s, a.archive);
  if (c.extract != nullptr && c.extract->parsed()) return CmdExtract(s, a.archive, a.entry, a.output);
  return -1;
}

}  // namespace kdlcli

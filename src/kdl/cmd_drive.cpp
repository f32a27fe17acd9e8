// `kdl create`, `kdl restore` and `kdl raw`: the disk passes of the core behind the terminal.
#include <algorithm>
#include <iostream>

#include "common/ini.h"
#include "drive/drive_settings.h"
#include "drive/formats/container.h"
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

constexpr size_t kLabelBytes = 40;

// The drive an operand names, with the layer over it.
struct DriveHandle {
  DriveHandle(const kdl::DriveOperand& operand, kdl::Prompter* prompter, kdl::ReadFailure failure)
      : devices(operand.devices), layer(devices, prompter, failure), number(operand.driveNumber) {}
  kdl::HostDrives devices;
  kdl::DriveLayer layer;
  int32_t number;
};

std::unique_ptr<DriveHandle> OpenDriveOperand(Session& s, const std::string& operand, bool sectorRetry) {
  kdl::IniFile ini;
  ini.Load(kdl::SettingsFilePath());
  const kdl::DriveSettings settings = kdl::DriveSettingsFromIni(ini);
  if (!CheckDriveFile(operand)) return nullptr;
  std::string error;
  const std::optional<kdl::DriveOperand> resolved = kdl::ResolveDriveOperand(operand, settings, error);
  if (!resolved) {
    std::cerr << "kdl: " << error << std::endl;
    return nullptr;
  }
  const kdl::ReadFailure failure = sectorRetry ? kdl::ReadFailure::kSectorBySector : settings.readFailure;
  return std::make_unique<DriveHandle>(*resolved, &s.prompter, failure);
}

// Opens IMAGE: an entry of an archive (ARCHIVE.KDZ:N), a ".KDL" file or a raw sector image.
bool OpenAnyImage(Session& s, const std::string& operand) {
  bool handled = false;
  const bool open = OpenArchiveImageOperand(s, operand, handled);
  return handled ? open : OpenImageOperand(s, operand);
}

// The exit status of a pass that may have been verified: a verification that found differences, or could
// not finish, fails the command although the pass itself succeeded.
int ExitStatus(int32_t result, int32_t verified) {
  if (result < 0) return kExitFailed;
  if (verified == kdl::kNotVerified || verified == 0) return kExitOk;
  if (verified > 0) std::cerr << "kdl: verification: " << verified << " track unit(s) differ" << std::endl;
  return kExitFailed;
}

// "12, 40-47, 1200": sorted sector numbers with runs shortened.
std::string SectorRanges(std::vector<int32_t> sectors) {
  std::sort(sectors.begin(), sectors.end());
  sectors.erase(std::unique(sectors.begin(), sectors.end()), sectors.end());
  std::string text;
  for (size_t i = 0; i < sectors.size();) {
    size_t j = i;
    while (j + 1 < sectors.size() && sectors[j + 1] == sectors[j] + 1) ++j;
    if (!text.empty()) text += ", ";
    text += std::to_string(sectors[i]);
    if (j > i) text += "-" + std::to_string(sectors[j]);
    i = j + 1;
  }
  return text;
}

}  // namespace

void HintForce() {
  std::cerr << "kdl: --force writes the readable track units of a damaged image and fills the others"
            << std::endl;
}

int ReportIgnoredSectors(const kdl::DriveLayer& layer, int status) {
  const std::vector<int32_t>& ignored = layer.IgnoredSectors();
  if (ignored.empty()) return status;
  std::vector<int32_t> unique(ignored);
  std::sort(unique.begin(), unique.end());
  unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
  std::cerr << "kdl: " << unique.size()
            << " unreadable sector(s) ignored, left filled with the media fill byte: " << SectorRanges(unique)
            << std::endl;
  return status == kExitOk ? kExitFailed : status;
}

int CmdCreate(Session& s, const std::string& drive, const std::string& target, const CreateOptions& o) {
  if (o.labels.size() > kdl::kLabelLineCount) throw UsageError{"at most four label lines (-l) are taken"};
  const bool toStandardOutput = target == kdl::kStandardOutputName;
  if (!o.labels.empty() && !HasKdlExtension(target))
    throw UsageError{"-l gives the label lines of a .KDL image; a raw sector image (" + target +
                     ") has none"};
  if (o.verify && toStandardOutput)
    throw UsageError{"--verify reads the image back, which standard output cannot give; name a file"};
  std::array<std::string, kdl::kLabelLineCount> labels;
  for (size_t i = 0; i < o.labels.size(); ++i) labels[i] = LabelToSjis(o.labels[i], kLabelBytes);
  if (!CheckOutputOperand(target)) return kExitFailed;
  // Without -l, a disk image of another tool gives its name or comment as the label lines.
  if (o.labels.empty()) labels = kdl::ContainerFileLabels(drive);
  std::unique_ptr<DriveHandle> d = OpenDriveOperand(s, drive, o.sectorRetry);
  if (!d) return kExitFailed;
  StopCooperatively();
  s.prompter.SetOutputIsData(toStandardOutput);
  s.work.compress = !o.noCompress;
  s.work.omitUnused = !o.keepUnused;
  s.work.verify = o.verify;
  s.work.dialogMode = kdl::kModeCreate;
  s.work.baseOffset = 0;
  s.work.archiveFile = nullptr;
  std::string typeLabel;
  int32_t verified = kdl::kNotVerified;
  // The type line reaches the terminal through the prompter as soon as the disk's type is known.
  const int32_t length = kdl::CreateImage(s.image, d->layer, target, d->number, labels, typeLabel, &verified);
  return ReportIgnoredSectors(d->layer, ExitStatus(length, verified));
}

int CmdRestore(Session& s, const std::string& image, const std::string& drive, bool verify, bool sectorRetry,
               bool force) {
  // A damaged image is never written without --force: the disk would get a new FAT and directory over what
  // the damaged units leave behind.
  s.work.damagedUnits = force ? kdl::DamagedUnitPolicy::kFill : kdl::DamagedUnitPolicy::kRefuse;
  if (kdl::IsForeignContainerFile(drive)) {
    std::cerr << "kdl: " << drive << ": a disk image of another tool's format is read as a drive, never "
              << "written; write the image out with kdl raw IMAGE OUTPUT --format FORMAT" << std::endl;
    return kExitFailed;
  }
  if (HasKdzExtension(image)) return CmdRestoreArchive(s, image, drive, verify, sectorRetry);
  std::unique_ptr<DriveHandle> d = OpenDriveOperand(s, drive, sectorRetry);
  if (!d) return kExitFailed;
  if (!OpenAnyImage(s, image)) return kExitFailed;
  StopCooperatively();
  s.work.verify = verify;
  s.work.dialogMode = kdl::kModeRestore;
  s.work.openCloseFlags = kdl::kCloseAfter;
  int32_t verified = kdl::kNotVerified;
  std::vector<int32_t> filled;
  const int32_t result = kdl::RestoreToDrive(s.image, d->layer, d->number, &verified, &filled);
  s.work.dialogMode = kdl::kModeCreate;
  if (result < 0 && !force && s.image.errorsShown > 0) HintForce();
  // A disk written with filled units holds what could be saved, but it is not the image.
  return ReportIgnoredSectors(d->layer, filled.empty() ? ExitStatus(result, verified) : kExitFailed);
}

int CmdRaw(Session& s, const std::string& image, const std::string& output, const std::string& format) {
  std::optional<kdl::ContainerFormat> container = kdl::ContainerFormatFromExtension(output);
  if (!format.empty()) {
    container = kdl::ContainerFormatFromName(format);
    if (!container) throw UsageError{"--format takes raw, d88, fdi, hdm, imd or gz, not \"" + format + "\""};
  }
  if (!CheckOutputOperand(output)) return kExitFailed;
  // The image first: nothing is asked about an output that a missing or unreadable image would never fill.
  // An archive entry is found and positioned on; the output then opens it like any image.
  if (!OpenAnyImage(s, image)) return kExitFailed;
  const bool inArchive = s.image.inArchive();
  s.image.CloseImage();
  if (!inArchive && !HasKdlExtension(image)) {
    s.work.dialogMode = kdl::kModeOpenRaw;
    s.work.rawImagePath = image;
  }
  if (kdl::ExamineTarget(output) == kdl::TargetKind::kReplaceable &&
      s.prompter.Ask("img FILE", output + " は存在します。上書きしますか？", kdl::Buttons::kYesNo,
                     kdl::Icon::kQuestion) != kdl::Answer::kYes) {
    s.work.dialogMode = kdl::kModeCreate;
    return kExitFailed;
  }
  StopCooperatively();
  s.prompter.SetOutputIsData(output == kdl::kStandardOutputName);
  std::vector<int32_t> filled;
  const int64_t length =
      kdl::WriteImageAs(s.image, image, output, container.value_or(kdl::ContainerFormat::kRaw), &filled);
  s.work.dialogMode = kdl::kModeCreate;
  // The output with filled units is kept, the best copy there is; the command still fails.
  return length < 0 || !filled.empty() ? kExitFailed : kExitOk;
}

DriveCommands AddDriveCommands(CLI::App& app) {
  DriveCommands c;
  c.args = std::make_shared<DriveArgs>();
  DriveArgs& a = *c.args;
  constexpr const char* kDriveHelp =
      "Drive: a letter (A:) from the settings file's drive list, a block device, "
      "or a disk image file acting as the drive (raw; D88, FDI, IMD or gzip'd for reading)";
  constexpr const char* kRetryHelp =
      "Read a failed run again sector by sector, asking Abort/Retry/Ignore for each bad sector";

  c.create = app.add_subcommand("create", "Read a floppy disk into a .KDL image or a raw sector image");
  c.create->add_option("DRIVE", a.drive, kDriveHelp)->required();
  c.create
      ->add_option("TARGET", a.target,
                   "Image to write: .KDL (any case) for an image, else a raw sector image; - writes the raw "
                   "image to standard output")
      ->required();
  c.create
      ->add_option(
          "-l,--label", a.create.labels,
          "Label line (up to four times, 40 bytes in Shift-JIS); without it, a D88 or ImageDisk image's "
          "name or comment")
      ->expected(0, 4);
  c.create->add_flag("--no-compress", a.create.noCompress, "Store the track units uncompressed");
  c.create->add_flag("--keep-unused", a.create.keepUnused,
                     "Keep the free clusters instead of leaving them out");
  c.create->add_flag("--verify", a.create.verify, "Read the disk again and compare it with the new image");
  c.create->add_flag("--sector-retry", a.create.sectorRetry, kRetryHelp);

  c.restore = app.add_subcommand(
      "restore",
      "Write an image onto a formatted disk of the same media type (an archive: every image in turn)");
  c.restore->add_option("IMAGE", a.image, "Image (.KDL, raw image, ARCHIVE.KDZ:N) or archive (.KDZ)")
      ->required();
  c.restore->add_option("DRIVE", a.drive, kDriveHelp)->required();
  c.restore->add_flag("--verify", a.verify,
                      "Read the disk again after writing and compare it with the image");
  c.restore->add_flag("--sector-retry", a.sectorRetry, kRetryHelp);
  c.restore->add_flag("--force", a.force,
                      "Restore a partly damaged image: write the readable track units and fill the damaged "
                      "ones with the media fill byte");

  c.raw = app.add_subcommand("raw", "Write an image out as a raw sector image or another tool's disk image");
  c.raw->add_option("IMAGE", a.image, "Image (.KDL, raw image, D88/FDI/IMD/gzip image, ARCHIVE.KDZ:N)")
      ->required();
  c.raw->add_option("OUTPUT", a.output, "Disk image to write; - for standard output")->required();
  c.raw->add_option(
      "--format", a.format,
      "Output format: raw, d88, fdi, hdm (1.25 MB disks only), imd or gz (gzip'd raw); "
      "without it the OUTPUT's extension (.d88 .d98 .88d .fdi .hdm .imd .gz) decides, else raw");
  return c;
}

int RunDriveCommand(const DriveCommands& c, Session& s) {
  const DriveArgs& a = *c.args;
  if (c.create != nullptr && c.create->parsed()) return CmdCreate(s, a.drive, a.target, a.create);
  if (c.restore != nullptr && c.restore->parsed())
    return CmdRestore(s, a.image, a.drive, a.verify, a.sectorRetry, a.force);
  if (c.raw != nullptr && c.raw->parsed()) return CmdRaw(s, a.image, a.output, a.format);
  return -1;
}

}  // namespace kdlcli

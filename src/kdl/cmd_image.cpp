// `kdl test` and `kdl labels`: the information listing and the label lines of an image.
#include <iostream>

#include "common/sjis.h"
#include "image/listing.h"
#include "kdl/commands.h"
#include "kdl/commands_archive.h"

namespace kdlcli {
namespace {

// The open/close flags every command uses: the core opens nothing itself, the command closes at the end.
constexpr int32_t kAlreadyOpen = 0;

}  // namespace

int CmdTest(Session& s, const std::string& operand) {
  if (HasKdzExtension(operand)) return CmdTestArchive(s, operand);
  if (!OpenImageOperand(s, operand)) return kExitFailed;
  std::vector<std::string> lines;
  const int32_t errors = kdl::ListImageInfo(s.image, lines, kAlreadyOpen, OpenArchiveImageInfo(s));
  for (const std::string& line : lines) std::cout << line << "\n";
  std::cout.flush();
  s.image.CloseImage();
  return errors == 0 ? kExitOk : kExitFailed;
}

int CmdLabels(Session& s, const std::string& operand, const std::vector<std::string>& labels) {
  if (HasKdzExtension(operand)) return CmdLabelsArchive(s, operand, labels);
  kdl::LabelTexts texts;
  for (size_t i = 0; i < labels.size() && i < texts.size(); ++i) texts[i] = LabelToSjis(labels[i], 40);
  if (!OpenImageOperand(s, operand)) return kExitFailed;
  if (!labels.empty()) {
    if (s.image.isRaw) {
      std::cerr << "kdl: " << operand
                << ": a raw sector image or another tool's disk image has no label lines to "
                << "rewrite" << std::endl;
      s.image.CloseImage();
      return kExitFailed;
    }
    if (s.work.readOnly) {
      std::cerr << "kdl: " << operand << " is write-protected; its label lines are left as they are"
                << std::endl;
      s.image.CloseImage();
      return kExitFailed;
    }
    if (kdl::WriteLabels(s.image, operand, kAlreadyOpen, texts) < 0) {
      s.image.CloseImage();
      return kExitFailed;
    }
  }
  std::string typeLabel;
  kdl::ReadLabels(s.image, operand, kAlreadyOpen, typeLabel, texts);
  std::cout << typeLabel << "\n";
  for (const std::string& t : texts) std::cout << kdl::SjisToUtf8(t) << "\n";
  s.image.CloseImage();
  return kExitOk;
}

}  // namespace kdlcli

#include "kdlw/archive/not_archive.h"

#include <array>

#include "archive/archive.h"
#include "kdlw/image/form_support.h"

namespace kdlw {

bool StartsAsArchive(const std::string& path) {
  kdl::File file;
  if (!file.Open(kdl::WithArchiveExtension(path), kdl::File::Mode::kRead)) return false;
  std::array<uint8_t, kdl::kArchiveHeaderSize> bytes{};
  if (file.ReadAt(0, bytes.data(), bytes.size()) != static_cast<int64_t>(bytes.size())) return false;
  return kdl::ParseArchiveHeader(kdl::ByteView(bytes.data(), bytes.size())).has_value();
}

void SayIfNotAnArchive(AppContext& context, int messagesBefore, const std::string& path, QWidget* parent) {
  if (context.prompter.MessagesShown() != messagesBefore || StartsAsArchive(path)) return;
  context.dialogs.Message(parent, FromUtf8(std::string(kdl::kCaptionArchive)),
                          QStringLiteral("%1 はＫＤＺファイルではありません").arg(FromUtf8(path)),
                          kdl::Buttons::kOk, kdl::Icon::kStop);
}

}  // namespace kdlw

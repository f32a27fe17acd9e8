#include "archive/archive_format.h"

#include "codec/crc.h"
#include "common/sjis.h"

namespace kdl {
namespace {

size_t LabelOffset(int line) { return line == 0 ? kdz_header::kLabel1 : kdz_header::kLabel2; }

}  // namespace

std::string ArchiveHeader::LabelText(int line) const {
  std::string text = labels[static_cast<size_t>(line)];
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

void ArchiveHeader::SetLabelText(int line, std::string_view sjis) {
  std::string text(CutSjisText(sjis, kArchiveLabelLength));
  text.resize(kArchiveLabelLength, ' ');
  labels[static_cast<size_t>(line)] = std::move(text);
}

ArchiveHeader MakeArchiveHeader(std::string_view label1, std::string_view label2) {
  ArchiveHeader h;
  h.SetLabelText(0, label1);
  h.SetLabelText(1, label2);
  return h;
}

std::optional<ArchiveHeader> ParseArchiveHeader(ByteView bytes) {
  using namespace kdz_header;
  if (bytes.size() < kArchiveHeaderSize || !bytes.Equals(kMagic, kArchiveMagic)) return std::nullopt;
  ArchiveHeader h;
  h.version = std::string(bytes.Text(kVersion, 4));
  for (int i = 0; i < kArchiveLabelCount; ++i)
    h.labels[static_cast<size_t>(i)] = std::string(bytes.Text(LabelOffset(i), kArchiveLabelLength));
  h.count = bytes.I16(kCount);
  return h;
}

void SerializeArchiveHeader(const ArchiveHeader& h, ByteSpan out) {
  using namespace kdz_header;
  out.Fill(0, kArchiveHeaderSize, 0);
  out.PutText(kMagic, kArchiveMagic.size(), kArchiveMagic);
  std::string version = h.version.substr(0, 4);
  version.resize(4, '0');
  out.PutText(kVersion, 4, version);
  for (int i = 0; i < kArchiveLabelCount; ++i) {
    const size_t at = LabelOffset(i);
    out.PutText(at, kArchiveLabelLength, std::string_view(h.labels[static_cast<size_t>(i)]).substr(0, 40));
    out.PutU8(at + kArchiveLabelLength, 0);
  }
  out.PutI16(kCount, h.count);
}

std::string ArchiveEntry::NameText() const {
  const size_t space = name.find(' ');
  std::string text = name.substr(0, std::min(space, kEntryNameLength));
  // A byte that prints as nothing (a damaged or crafted record) shows as "?", so that the name is never
  // empty or cut short where it is shown.
  for (char& c : text) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x20 || b == 0x7F) c = '?';
  }
  return text;
}

ArchiveEntry ParseArchiveEntry(ByteView bytes) {
  using namespace kdz_entry;
  ArchiveEntry e;
  e.marker = bytes.U8(kMarker);
  e.name = std::string(bytes.Text(kName, kEntryNameLength));
  e.time = bytes.U16(kTime);
  e.date = bytes.U16(kDate);
  e.length = bytes.I32(kLength);
  e.sum = bytes.U8(kSum);
  return e;
}

void SerializeArchiveEntry(const ArchiveEntry& e, ByteSpan out) {
  using namespace kdz_entry;
  out.Fill(0, kArchiveEntrySize, 0);
  out.PutU8(kMarker, e.marker);
  out.PutText(kName, kEntryNameLength, std::string_view(e.name).substr(0, kEntryNameLength));
  out.PutU16(kTime, e.time);
  out.PutU16(kDate, e.date);
  out.PutI32(kLength, e.length);
  out.PutU8(kSum, ByteSum(out.data(), kSum));
}

ArchiveEntry MakeArchiveEntry(int32_t number, int32_t length, uint32_t dosDateTime) {
  ArchiveEntry e;
  e.marker = kEntryInUse;
  e.name = "DISK" + std::to_string(number);
  e.name.resize(kEntryNameLength, ' ');
  e.time = static_cast<uint16_t>(dosDateTime);
  e.date = static_cast<uint16_t>(dosDateTime >> 16);
  e.length = length;
  return e;
}

}  // namespace kdl

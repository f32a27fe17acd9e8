// The attributes dialog of the browse window: read-only, hidden, system and archive for the selected entries.
// A box is ticked when every entry has the bit, clear when none has it, and in between when they differ; a
// box left in between leaves each entry's bit as it is.
#pragma once

#include <QDialog>
#include <cstdint>
#include <vector>

class QCheckBox;
class QLabel;

namespace kdlw {

class TAttribForm : public QDialog {
  Q_OBJECT

 public:
  explicit TAttribForm(QWidget* parent = nullptr);

  // Shows the attribute bytes of the entries; `names` is what the dialog says they are.
  void SetEntries(const QString& names, const std::vector<uint8_t>& attributes);
  // The bits to set and the bits to clear, as the boxes stand.
  uint8_t BitsToSet() const;
  uint8_t BitsToClear() const;

  QCheckBox* Box(int index) const { return boxes_[static_cast<size_t>(index)]; }

 private:
  QLabel* lblName_ = nullptr;
  std::vector<QCheckBox*> boxes_;
};

}  // namespace kdlw

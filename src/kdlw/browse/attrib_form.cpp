#include "kdlw/browse/attrib_form.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>

#include "fat/directory.h"
#include "kdlw/common/fonts.h"

namespace kdlw {
namespace {

struct Bit {
  uint8_t bit;
  const char* caption;
  const char* name;
};
constexpr std::array<Bit, 4> kBits = {{
    {kdl::kAttrReadOnly, "読み取り専用(&R)", "cbReadOnly"},
    {kdl::kAttrHidden, "隠しファイル(&H)", "cbHidden"},
    {kdl::kAttrSystem, "システム(&S)", "cbSystem"},
    {kdl::kAttrArchive, "アーカイブ(&A)", "cbArchive"},
}};

}  // namespace

TAttribForm::TAttribForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AttribForm"));
  setWindowTitle(QStringLiteral("属性の変更"));
  setFont(JapaneseUiFont(12));
  auto* column = new QVBoxLayout(this);
  column->setSizeConstraint(QLayout::SetFixedSize);
  lblName_ = new QLabel(this);
  lblName_->setMinimumWidth(240);
  lblName_->setObjectName(QStringLiteral("lblName"));
  lblName_->setTextFormat(Qt::PlainText);
  column->addWidget(lblName_);
  for (const Bit& b : kBits) {
    auto* box = new QCheckBox(QString::fromUtf8(b.caption), this);
    box->setObjectName(QString::fromLatin1(b.name));
    boxes_.push_back(box);
    column->addWidget(box);
  }
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("btnOk"));
  ok->setDefault(true);
  buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole)
      ->setObjectName(QStringLiteral("btnCancel"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  column->addWidget(buttons);
}

void TAttribForm::SetEntries(const QString& names, const std::vector<uint8_t>& attributes) {
  lblName_->setText(names);
  for (size_t i = 0; i < kBits.size(); ++i) {
    const auto with = std::count_if(attributes.begin(), attributes.end(),
                                    [&](uint8_t a) { return (a & kBits[i].bit) != 0; });
    const bool mixed = with != 0 && with != static_cast<ptrdiff_t>(attributes.size());
    boxes_[i]->setTristate(mixed);
    boxes_[i]->setCheckState(mixed ? Qt::PartiallyChecked : (with != 0 ? Qt::Checked : Qt::Unchecked));
  }
}

uint8_t TAttribForm::BitsToSet() const {
  uint8_t bits = 0;
  for (size_t i = 0; i < kBits.size(); ++i) {
    if (boxes_[i]->checkState() == Qt::Checked) bits |= kBits[i].bit;
  }
  return bits;
}

uint8_t TAttribForm::BitsToClear() const {
  uint8_t bits = 0;
  for (size_t i = 0; i < kBits.size(); ++i) {
    if (boxes_[i]->checkState() == Qt::Unchecked) bits |= kBits[i].bit;
  }
  return bits;
}

}  // namespace kdlw

#include "kdlw/app/about_box.h"

#include <QDate>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "kdlw/common/app_icon.h"

#ifndef KDLW_VERSION
#define KDLW_VERSION "0.0.0"
#endif
#ifndef KDLW_RELEASE_DATE
#define KDLW_RELEASE_DATE "1970-01-01"
#endif

namespace kdlw {

QString TAboutBox::VersionLine() {
  const QDate released = QDate::fromString(QStringLiteral(KDLW_RELEASE_DATE), Qt::ISODate);
  return QStringLiteral("Version " KDLW_VERSION "　") + released.toString(QStringLiteral("yyyy年M月d日"));
}

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);

  auto* panel = new QFrame(this);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* icon = new QLabel(panel);
  icon->setPixmap(AppIconPixmap(41));
  icon->setFixedSize(41, 41);
  auto* product = new QLabel(QStringLiteral("カドローン for Ｗｉｎdows"), panel);
  product->setObjectName(QStringLiteral("ProductName"));
  auto* version = new QLabel(VersionLine(), panel);
  version->setObjectName(QStringLiteral("Version"));
  auto* comments = new QLabel(QStringLiteral("ＫＤＬＷはフリーソフトです"), panel);
  comments->setObjectName(QStringLiteral("Comments"));
  auto* grid = new QGridLayout(panel);
  grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  grid->addWidget(product, 0, 1);
  grid->addWidget(version, 1, 1);
  grid->addWidget(comments, 2, 0, 1, 2);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("OKButton"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* column = new QVBoxLayout(this);
  column->addWidget(panel, 1);
  column->addWidget(ok, 0, Qt::AlignHCenter);
  // The design's client area; a larger font may need more.
  setMinimumSize(298, 171);
  adjustSize();
}

}  // namespace kdlw

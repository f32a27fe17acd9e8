// What the image dialog, the browse window, the copy dialog and the viewer share: the key handling every
// form does before its controls, the hints of the control under the mouse in the form's own status bar, and
// the conversions between the core's UTF-8 texts and the windows' texts.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QValidator>
#include <functional>
#include <string>

class QEvent;
class QKeyEvent;
class QStatusBar;
class QWidget;

namespace kdlw {

// Shows every key pressed in a control of `form` to `handler` before the control sees it; the handler
// returns true to consume the key. A key the control passes on to its parents is not shown twice.
class KeyPreview : public QObject {
 public:
  using Handler = std::function<bool(QKeyEvent* key, QWidget* target)>;
  KeyPreview(QWidget* form, Handler handler);
  ~KeyPreview() override;
  KeyPreview(const KeyPreview&) = delete;
  KeyPreview& operator=(const KeyPreview&) = delete;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* form_;
  Handler handler_;
};

// A status bar of one simple panel, as the forms have at their foot.
QStatusBar* MakeSimpleStatusBar(QWidget* form, const char* name);
// Puts the hint of a status-tip event into `bar`; true when `event` was one.
bool ShowHint(QEvent* event, QStatusBar* bar);

// Accepts a text only when it can be stored in Shift-JIS in at most `limit` bytes, as label lines are.
class SjisLengthValidator : public QValidator {
 public:
  SjisLengthValidator(size_t limit, QObject* parent) : QValidator(parent), limit_(limit) {}
  State validate(QString& input, int& position) const override;

 private:
  size_t limit_;
};

inline QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }
inline std::string ToUtf8(const QString& text) { return text.toStdString(); }
// Shift-JIS bytes of the core (labels) shown as text; bytes that do not decode become U+FFFD.
QString FromSjis(const std::string& sjis);

}  // namespace kdlw

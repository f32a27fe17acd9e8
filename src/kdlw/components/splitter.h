// A splitter whose drag shows a line and applies the new size on release: the pane before the handle
// never gets narrower than MinSize nor wider than the room its neighbour leaves, and Escape during a
// drag leaves both panes as they were.
#pragma once

#include <QSplitter>
#include <QSplitterHandle>

namespace kdlw {

class TSplitter : public QSplitter {
  Q_OBJECT

 public:
  explicit TSplitter(Qt::Orientation orientation = Qt::Horizontal, QWidget* parent = nullptr);

  int MinSize() const { return minSize_; }
  void SetMinSize(int size) { minSize_ = size; }
  bool Beveled() const { return beveled_; }
  void SetBeveled(bool on);

 signals:
  // After every drag, whether it was applied or cancelled with Escape.
  void Moved();

 protected:
  QSplitterHandle* createHandle() override;
  // Panes follow the splitter's own rules, not their size hints.
  void childEvent(QChildEvent* event) override;

 private:
  friend class TSplitterHandle;
  int minSize_ = 30;
  bool beveled_ = true;
};

class TSplitterHandle : public QSplitterHandle {
  Q_OBJECT

 public:
  TSplitterHandle(Qt::Orientation orientation, TSplitter* parent);

  bool Dragging() const { return dragging_; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  int Along(const QPointF& global) const;
  int NewSize(int mousePosition) const;
  void ShowLine();
  void EndDrag();

  TSplitter* owner_;
  bool dragging_ = false;
  int pane_ = -1;  // index of the pane being resized
  int startMouse_ = 0;
  int startSize_ = 0;
  int largest_ = 0;
  int newSize_ = 0;
};

}  // namespace kdlw

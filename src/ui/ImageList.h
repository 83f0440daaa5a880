#pragma once

#include <QIcon>
#include <QObject>

#include <vector>

namespace vx {

// An ordered list of images shared by the components that show them, such as the
// actions of a window and the frames of an animated tray icon.
class TImageList : public QObject {
  Q_OBJECT

 public:
  explicit TImageList(QObject* Owner = nullptr) : QObject(Owner) {}

  int Count() const { return static_cast<int>(images_.size()); }
  // Appends image and returns its index.
  int Add(const QIcon& image);
  // The image at index, or a null icon when there is none.
  QIcon GetIcon(int index) const;
  void Clear() { images_.clear(); }

 private:
  std::vector<QIcon> images_;
};

}  // namespace vx

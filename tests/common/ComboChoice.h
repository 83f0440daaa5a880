#pragma once

#include <QComboBox>
#include <QString>

#include <gtest/gtest.h>

namespace vx {

// What the user does by picking an entry of a drop-down list: the entry becomes current
// and the list reports it as the user's choice.
inline void Choose(QComboBox& box, const QString& text) {
  const int index = box.findText(text);
  ASSERT_GE(index, 0) << text.toStdString();
  box.setCurrentIndex(index);
  emit box.activated(index);
}

}  // namespace vx

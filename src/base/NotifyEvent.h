#pragma once

#include <functional>

class QObject;

namespace vx {

// The plain event of a component: Sender is the object that reports it.
using TNotifyEvent = std::function<void(QObject* Sender)>;

}  // namespace vx

#pragma once

#include <functional>

class QObject;

// The plain event of a component: Sender is the object that reports it.
using TNotifyEvent = std::function<void(QObject* Sender)>;

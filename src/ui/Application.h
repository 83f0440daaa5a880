#pragma once

#include "platform/Prompter.h"

#include <QApplication>
#include <QMessageBox>

#include <exception>
#include <memory>
#include <string>

namespace vx {

// The default error handling of the program: an error that escapes an event handler is
// shown in a message box with its message, and the event loop runs on.
class TApplication final : public QApplication {
  Q_OBJECT

 public:
  TApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the error's message in a message box (through the installed prompter); what the
// application does with an error that nobody else handles.
void HandleApplicationException(const std::exception& e) noexcept;
// The same for the error in flight; call only inside a catch block.
void HandleCurrentException() noexcept;

// The window that a dialog or message box belongs to: the open dialog, else the active
// window, else the shown main window; nullptr when none shows. A dialog with its window
// is one that a tiling compositor floats above it.
QWidget* DialogParent();

// The message boxes that TMessageBoxPrompter shows, as dialogs of DialogParent. Their text is
// always plain: it can come from the update server or a file, and must show as it is, never as
// markup. A message: information icon, the application's name as title, "OK".
std::unique_ptr<QMessageBox> NewMessageBox(const std::string& text);
// A question: question icon, title "Confirm", "Yes" and "No".
std::unique_ptr<QMessageBox> NewQuestionBox(const std::string& text);

// Message boxes on the screen. On the offscreen platform messages go to standard error
// and questions are answered "No".
class TMessageBoxPrompter final : public Prompter {
 public:
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
};

}  // namespace vx

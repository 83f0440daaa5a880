#include "ui/Application.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QString>

#include <cstdio>
#include <stdexcept>

namespace vx {

namespace {

const QString kMessageTitle = QStringLiteral("Tremanic Vorlixa");

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    HandleCurrentException();
    return false;
  }
}

void HandleApplicationException(const std::exception& e) noexcept {
  try {
    ShowMessage(e.what());
  } catch (...) {
    // A message box that fails itself has nowhere left to report to but the console.
    std::fprintf(stderr, "%s\n", e.what());
  }
}

void HandleCurrentException() noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    HandleApplicationException(e);
  } catch (...) {
    HandleApplicationException(std::runtime_error("Unknown error"));
  }
}

namespace {

// Off screen nobody could answer a message box, and its modal loop would hold the
// program for good: the message goes to standard error instead.
bool OffScreen() {
  return QGuiApplication::platformName() == QStringLiteral("offscreen");
}

std::unique_ptr<QMessageBox> NewBox(QMessageBox::Icon icon, const QString& title,
                                    const std::string& text, QMessageBox::StandardButtons buttons) {
  auto box = std::make_unique<QMessageBox>(icon, title, QString::fromStdString(text), buttons,
                                           DialogParent());
  box->setTextFormat(Qt::PlainText);
  return box;
}

}  // namespace

QWidget* DialogParent() {
  if (QWidget* dialog = QApplication::activeModalWidget()) {
    return dialog;
  }
  if (QWidget* active = QApplication::activeWindow()) {
    return active;
  }
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (qobject_cast<QMainWindow*>(window) != nullptr && window->isVisible()) {
      return window;
    }
  }
  return nullptr;
}

std::unique_ptr<QMessageBox> NewMessageBox(const std::string& text) {
  return NewBox(QMessageBox::Information, kMessageTitle, text, QMessageBox::Ok);
}

std::unique_ptr<QMessageBox> NewQuestionBox(const std::string& text) {
  auto box = NewBox(QMessageBox::Question, QStringLiteral("Confirm"), text,
                    QMessageBox::Yes | QMessageBox::No);
  box->button(QMessageBox::Yes)->setText(QStringLiteral("&Yes"));
  box->button(QMessageBox::No)->setText(QStringLiteral("&No"));
  return box;
}

void TMessageBoxPrompter::ShowMessage(const std::string& text) {
  if (OffScreen()) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return;
  }
  NewMessageBox(text)->exec();
}

bool TMessageBoxPrompter::AskYesNo(const std::string& text) {
  if (OffScreen()) {
    std::fprintf(stderr, "%s (answered No)\n", text.c_str());
    return false;
  }
  return NewQuestionBox(text)->exec() == QMessageBox::Yes;
}

}  // namespace vx

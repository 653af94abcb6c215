// The agent's message boxes and its password dialog, all run through one
// modal runner so that tests answer them as a user would (clicking the real
// buttons) without nested event loops, and so that an agent without a
// display writes them on its standard error instead of waiting for a click
// nobody can give.
#pragma once

#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include <QDialog>
#include <QMessageBox>

class QLineEdit;

namespace corvane::agent {

class ModalRunner {
 public:
  // Receives the dialog, already built and shown, and must close it.
  using Answer = std::function<void(QDialog&)>;

  // `headless`: no one can see a window; boxes go to `err` and are
  // answered as cancelled.
  ModalRunner(bool headless, std::ostream& err);

  // The next dialog run is handed to `answer` instead of waiting for a user.
  void QueueAnswer(Answer answer);
  bool HasQueuedAnswer() const { return !answers_.empty(); }

  // The dialog's result code.
  int Run(QDialog& dialog);

  // A message box without owner; the standard button chosen, or
  // QMessageBox::NoButton when none was.
  QMessageBox::StandardButton Message(std::string_view text, std::string_view caption, QMessageBox::Icon icon,
                                      QMessageBox::StandardButtons buttons);

 private:
  bool headless_;
  std::ostream& err_;
  std::deque<Answer> answers_;
};

// "Corvane2 : mot de passe": a hidden edit box of 24 characters at most
// (more only when the password to type is longer), "OK" and "Annuler".
class TPasswordDialog final : public QDialog {
 public:
  static constexpr int kMaxLength = 24;
  explicit TPasswordDialog(int max_length = kMaxLength, QWidget* parent = nullptr);
  // What was typed when OK closed the dialog (at most max_length characters).
  const QString& Typed() const { return typed_; }

 private:
  QLineEdit* edit_;
  int max_length_;
  QString typed_;
};

}  // namespace corvane::agent

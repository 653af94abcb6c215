#include "agent/agent_dialogs.h"

#include <algorithm>

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace corvane::agent {

ModalRunner::ModalRunner(bool headless, std::ostream& err) : headless_(headless), err_(err) {}

void ModalRunner::QueueAnswer(Answer answer) { answers_.push_back(std::move(answer)); }

int ModalRunner::Run(QDialog& dialog) {
  if (!answers_.empty()) {
    Answer answer = std::move(answers_.front());
    answers_.pop_front();
    dialog.setModal(true);
    dialog.show();
    answer(dialog);
    // An answer that forgot to close the dialog counts as cancelled.
    if (dialog.isVisible()) dialog.reject();
    return dialog.result();
  }
  if (headless_) {
    dialog.reject();
    return QDialog::Rejected;
  }
  return dialog.exec();
}

QMessageBox::StandardButton ModalRunner::Message(std::string_view text, std::string_view caption,
                                                 QMessageBox::Icon icon, QMessageBox::StandardButtons buttons) {
  if (headless_ && answers_.empty()) {
    err_ << caption << ": " << text << std::endl;
    return QMessageBox::NoButton;
  }
  QMessageBox box(icon, QString::fromStdString(std::string(caption)), QString::fromStdString(std::string(text)),
                  buttons);
  box.setObjectName(QStringLiteral("MessageBox"));
  Run(box);
  QAbstractButton* clicked = box.clickedButton();
  return clicked ? box.standardButton(clicked) : QMessageBox::NoButton;
}

TPasswordDialog::TPasswordDialog(int max_length, QWidget* parent)
    : QDialog(parent), max_length_(std::max(max_length, kMaxLength)) {
  setObjectName(QStringLiteral("DIALOG_PASSWORD_FR"));
  setWindowTitle(QStringLiteral("Corvane2 : mot de passe"));
  edit_ = new QLineEdit(this);
  edit_->setObjectName(QStringLiteral("EditPassword"));
  edit_->setEchoMode(QLineEdit::Password);
  edit_->setMaxLength(max_length_);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("ButtonOK"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Annuler"), this);
  cancel->setObjectName(QStringLiteral("ButtonAnnuler"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(edit_);
  layout->addLayout(buttons);
  connect(ok, &QPushButton::clicked, this, [this] {
    typed_ = edit_->text().left(max_length_);
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  // Centred a little below the middle of the screen, as the agent has no
  // window of its own to be placed against.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect r = screen->geometry();
    move(r.width() / 2 - 110, r.height() / 2 - 5);
  }
  edit_->setFocus();
}

}  // namespace corvane::agent

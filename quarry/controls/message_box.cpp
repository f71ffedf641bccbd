#include "quarry/controls/message_box.h"

#include <QMessageBox>

namespace quarry {

namespace {

int Run(QWidget* parent, const QString& title, const QString& text, const char* objectName,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton byDefault) {
  // The top-level window as parent: the box opens centred on it.
  QMessageBox box(QMessageBox::NoIcon, title, text, buttons, parent != nullptr ? parent->window() : nullptr);
  box.setObjectName(QString::fromLatin1(objectName));
  box.setDefaultButton(byDefault);
  return box.exec();
}

}  // namespace

void InformUser(QWidget* parent, const QString& title, const QString& text) {
  Run(parent, title, text, "informBox", QMessageBox::Ok, QMessageBox::Ok);
}

void WarnUser(QWidget* parent, const QString& title, const QString& text) {
  Run(parent, title, text, "warnBox", QMessageBox::Ok, QMessageBox::Ok);
}

bool AskUser(QWidget* parent, const QString& title, const QString& text) {
  return Run(parent, title, text, "askBox", QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace quarry

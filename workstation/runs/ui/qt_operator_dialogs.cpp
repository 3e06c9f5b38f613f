#include "workstation/runs/ui/qt_operator_dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>

namespace velmora::runs {

Answer QtOperatorDialogs::message(const std::string& text, Buttons buttons, Icon icon,
                                  const std::string& title) {
  QMessageBox box(parent_);
  box.setWindowTitle(QString::fromStdString(title));
  box.setText(QString::fromStdString(text));
  switch (icon) {
    case Icon::kNone:
      box.setIcon(QMessageBox::NoIcon);
      break;
    case Icon::kInformation:
      box.setIcon(QMessageBox::Information);
      break;
    case Icon::kExclamation:
      box.setIcon(QMessageBox::Warning);
      break;
    case Icon::kCritical:
      box.setIcon(QMessageBox::Critical);
      break;
    case Icon::kQuestion:
      box.setIcon(QMessageBox::Question);
      break;
  }
  switch (buttons) {
    case Buttons::kOk:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case Buttons::kOkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case Buttons::kYesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    case Buttons::kYesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
  }
  const int chosen = box.exec();
  switch (chosen) {
    case QMessageBox::Cancel:
      return Answer::kCancel;
    case QMessageBox::Yes:
      return Answer::kYes;
    case QMessageBox::No:
      return Answer::kNo;
    case QMessageBox::Ok:
      return Answer::kOk;
    default:
      // The box was closed by its title bar or Escape: the safe answer.
      return buttons == Buttons::kOk      ? Answer::kOk
             : buttons == Buttons::kYesNo ? Answer::kNo
                                          : Answer::kCancel;
  }
}

void QtOperatorDialogs::beep() {
  QApplication::beep();
}

void QtOperatorDialogs::end_program() {
  if (ended_) return;
  ended_ = true;
  QMetaObject::invokeMethod(
      qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

}  // namespace velmora::runs

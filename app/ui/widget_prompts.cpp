#include "app/ui/widget_prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <vector>

namespace {

QString ShownText(QString Text)
{
  Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  Text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return Text;
}

QString Caption() { return QApplication::applicationName(); }

} // namespace

bool TWidgetPrompts::MessageBox(TMessageKind Kind, const QString &Text)
{
  const QString text = ShownText(Text);
  switch (Kind) {
  case mkInformation: QMessageBox::information(FOwner, Caption(), text); return true;
  case mkWarning: QMessageBox::warning(FOwner, Caption(), text); return true;
  case mkError: QMessageBox::critical(FOwner, Caption(), text); return true;
  case mkConfirmation:
    return QMessageBox::question(FOwner, Caption(), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
           QMessageBox::Yes;
  }
  return false;
}

bool TWidgetPrompts::ConfirmDefaultNo(const QString &Text)
{
  return QMessageBox::question(FOwner, Caption(), ShownText(Text), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

int TWidgetPrompts::Choose(const QString &Text, const QStringList &Buttons, int Default, int Escape)
{
  QMessageBox box(QMessageBox::Warning, Caption(), ShownText(Text), QMessageBox::NoButton, FOwner);
  std::vector<QPushButton *> buttons;
  for (const QString &caption : Buttons) buttons.push_back(box.addButton(caption, QMessageBox::AcceptRole));
  const auto valid = [&](int Index) { return Index >= 0 && Index < static_cast<int>(buttons.size()); };
  if (valid(Default)) box.setDefaultButton(buttons[static_cast<std::size_t>(Default)]);
  if (valid(Escape)) box.setEscapeButton(buttons[static_cast<std::size_t>(Escape)]);
  box.exec();
  const auto chosen = std::find(buttons.begin(), buttons.end(), box.clickedButton());
  return chosen == buttons.end() ? Escape : static_cast<int>(chosen - buttons.begin());
}

bool TWidgetPrompts::InputBox(const QString &Title, const QString &Prompt, QString &Value)
{
  bool ok = false;
  const QString answer = QInputDialog::getText(FOwner, Title, Prompt, QLineEdit::Normal, Value, &ok);
  if (ok) Value = answer;
  return ok;
}

bool TWidgetPrompts::PickFolder(const QString &Title, QString &Folder)
{
  const QString chosen = QFileDialog::getExistingDirectory(FOwner, Title, Folder);
  if (chosen.isEmpty()) return false;
  Folder = chosen;
  return true;
}

bool TWidgetPrompts::OpenFileDialog(const QString &Title, const QString &Filter, QString &FileName)
{
  const QString chosen = QFileDialog::getOpenFileName(FOwner, Title, FileName, QtFileFilter(Filter));
  if (chosen.isEmpty()) return false;
  FileName = chosen;
  return true;
}

QString TWidgetPrompts::QtFileFilter(const QString &Filter)
{
  const QStringList parts = Filter.split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    filters << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
  }
  return filters.join(QStringLiteral(";;"));
}

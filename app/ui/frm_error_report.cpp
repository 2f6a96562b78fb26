#include "app/ui/frm_error_report.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

TFrmErrorReport::TFrmErrorReport(QWidget *Owner) : QDialog(Owner)
{
  setObjectName(QStringLiteral("frmErrorReport"));
  setWindowTitle(QStringLiteral("Tag Writing Errors"));
  setFixedSize(600, 300);

  lvErrors = new QTreeWidget(this);
  lvErrors->setObjectName(QStringLiteral("lvErrors"));
  lvErrors->setGeometry(0, 0, 600, 260);
  lvErrors->setRootIsDecorated(false);
  lvErrors->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvErrors->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvErrors->setHeaderLabels({QStringLiteral("File"), QStringLiteral("Error")});
  lvErrors->header()->resizeSection(0, 300);

  btnCopy = new QPushButton(QStringLiteral("Copy"), this);
  btnCopy->setObjectName(QStringLiteral("btnCopy"));
  btnCopy->setGeometry(440, 268, 75, 25);
  btnClose = new QPushButton(QStringLiteral("Close"), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setGeometry(520, 268, 75, 25);
  connect(btnCopy, &QPushButton::clicked, this, &TFrmErrorReport::btnCopyClick);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

  if (const QScreen *screen = Owner ? Owner->screen() : QApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TFrmErrorReport::LoadErrors(const std::vector<TErrorItem> &Errors)
{
  lvErrors->clear();
  for (const TErrorItem &error : Errors)
    new QTreeWidgetItem(lvErrors, {QString::fromStdString(error.FileName), QString::fromStdString(error.Message)});
}

QString TFrmErrorReport::ErrorsText() const
{
  QString text;
  for (int i = 0; i < lvErrors->topLevelItemCount(); ++i) {
    const QTreeWidgetItem *item = lvErrors->topLevelItem(i);
    text += item->text(0) + QLatin1Char('\t') + item->text(1) + QStringLiteral("\r\n");
  }
  return text;
}

void TFrmErrorReport::btnCopyClick()
{
  const QString text = ErrorsText();
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void ShowErrorReport(const std::vector<TErrorItem> &Errors, QWidget *Owner)
{
  TFrmErrorReport window(Owner);
  window.LoadErrors(Errors);
  window.exec();
}

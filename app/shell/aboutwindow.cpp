#include "shell/aboutwindow.h"

#include "core/version.h"
#include "ui_aboutwindow.h"
#include "widgets/captionfit.h"
#include "widgets/images.h"

#include <QScreen>

AboutWindow::AboutWindow(QWidget *owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::AboutWindow>())
{
    ui->setupUi(this);
    ui->background->setPixmap(readPng(QStringLiteral(":/assets/about.png")));
    ui->lblVersion->setText(QStringLiteral("v" ORVANE_VERSION_SHOWN));
    fitCaptions(this);
    setFixedSize(size());
    setWindowIcon(QIcon());
    ui->background->lower();
    for (QLabel *label : {ui->lblAuthor1, ui->lblAuthor2, ui->Label1})
        label->adjustSize();
    if (owner && owner->screen())
        move(owner->screen()->availableGeometry().center() - rect().center());
}

AboutWindow::~AboutWindow() = default;

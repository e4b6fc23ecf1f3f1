#include "benchmark/burninwindow.h"

#include "core/numbertext.h"
#include "ui_burninwindow.h"
#include "widgets/captionfit.h"
#include "widgets/desktopname.h"
#include "widgets/images.h"
#include "widgets/keyboard.h"
#include "widgets/messagebox.h"
#include "widgets/windowborder.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTextCursor>

namespace {
QString shownLog(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
} // namespace

BurnInWindow::BurnInWindow(std::function<void()> pressBenchmark, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      ui(std::make_unique<Ui::BurnInWindow>()), m_pressBenchmark(std::move(pressBenchmark))
{
    ui->setupUi(this);
    ui->background->setPixmap(readPng(QStringLiteral(":/assets/burnin.png")));
    fitCaptions(this);
    setFixedSize(size());
    ui->background->lower();
    connect(ui->Command1, &QPushButton::clicked, this, &BurnInWindow::go);
    connect(ui->Command2, &QPushButton::clicked, this, &QWidget::hide);
    // The keyboard does what the buttons do: Return in the count is Go!, Escape is Close, and
    // Return presses the focused button.
    connect(ui->Text1, &QLineEdit::returnPressed, ui->Command1, &QPushButton::click);
    pressButtonsWithReturn(this);
    // No caption is drawn and the window manager draws no title bar; the desktop still names it.
    new DesktopName(this, QStringLiteral("CPU Orvane \u2013 Burn-In"));
    ui->Text1->setFocus();
    // Load step: a new window starts its log with this line, without a line break.
    setLogText(QStringLiteral("Burn-In Ready..."));
}

BurnInWindow::~BurnInWindow() = default;

QString BurnInWindow::cycleCountText() const
{
    return ui->Text1->text();
}

void BurnInWindow::setLogText(const QString &text)
{
    // Runs only ever append; insert just the new part so a long burn-in log stays cheap.
    if (!m_log.isEmpty() && text.startsWith(m_log)) {
        QTextCursor cursor(ui->Text2->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(shownLog(text.mid(m_log.size())));
    } else {
        ui->Text2->setPlainText(shownLog(text));
    }
    m_log = text;
    ui->Text2->verticalScrollBar()->setValue(ui->Text2->verticalScrollBar()->maximum());
}

void BurnInWindow::go()
{
    const QString text = ui->Text1->text();
    const auto count = readNumber(text);
    if (!count || *count < 1.0 || text.isEmpty()) {
        showMessage(this, QStringLiteral("Invalid value"));
        ui->Text1->clear();
        ui->Text1->setFocus();
        return;
    }
    QPointer<BurnInWindow> self(this);
    if (m_pressBenchmark)
        m_pressBenchmark();
    // The run may have ended with the whole program closing this window.
    if (self && self->isVisible()) {
        activateWindow();
        setFocus();
    }
}

void BurnInWindow::paintEvent(QPaintEvent *)
{
    paintWindowBorder(this);
}

void BurnInWindow::keyPressEvent(QKeyEvent *event)
{
    // Escape, as in a dialog, is Close; what no control took comes here.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        ui->Command2->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void BurnInWindow::focusCount()
{
    ui->Text1->setFocus();
    ui->Text1->selectAll();
}

void BurnInWindow::closeEvent(QCloseEvent *event)
{
    // Closing from the desktop hides the window like its Close button: count and log stay.
    hide();
    event->ignore();
}

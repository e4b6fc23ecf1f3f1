#include "submit/submitwindow.h"

#include "ui_submitwindow.h"
#include "widgets/captionfit.h"
#include "widgets/desktopname.h"
#include "widgets/images.h"
#include "widgets/keyboard.h"
#include "widgets/messagebox.h"
#include "widgets/windowborder.h"
#include "widgets/windowdrag.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QScreen>

SubmitWindow::SubmitWindow(QWidget *owner, std::function<QString()> mainScore, int tickInterval,
                           int connectWait, int reconnectPort)
    // A dialog of its owner for the window manager too (transient for it): it stays above the
    // window it blocks and adds no taskbar entry of its own.
    : QWidget(owner, Qt::Dialog | Qt::FramelessWindowHint), m_mainScore(std::move(mainScore)),
      m_client(*this, tickInterval, connectWait, reconnectPort)
{
    setObjectName(QStringLiteral("submit"));
    setAccessibleName(QStringLiteral("CPU Orvane Submit Results"));
    setWindowModality(Qt::WindowModal);
    setFixedSize(463, 183);
    setAttribute(Qt::WA_QuitOnClose, false);
    new DesktopName(this, QStringLiteral("CPU Orvane \u2013 Submit Results"));
    ensureLoaded();
}

SubmitWindow::~SubmitWindow()
{
    m_client.controlsDestroyed();
}

void SubmitWindow::ensureLoaded()
{
    if (m_controls)
        return;
    ui = std::make_unique<Ui::SubmitControls>();
    m_controls = new QWidget(this);
    ui->setupUi(m_controls);
    ui->Text7->setMaxLength(ScoreProtocol::MaxNicknameLength);
    ui->imgLogo->setPixmap(readPng(QStringLiteral(":/assets/logo.png")));
    fitCaptions(m_controls);
    m_controls->move(0, 0);
    m_controls->show();

    m_drag = new WindowDrag(this);
    m_drag->setParent(m_controls);
    m_drag->addHandle(ui->imgLogo);
    ui->lblstatus->installEventFilter(this);

    connect(ui->cmdProcessScore, &QPushButton::clicked, &m_client,
            &SubmissionClient::processResults);
    connect(ui->Command1, &QPushButton::clicked, &m_client, &SubmissionClient::close);
    // Return in the server or nickname field submits, as Process Results does; on a focused
    // button it presses that button.
    for (QLineEdit *field : {ui->txtIP, ui->Text7})
        connect(field, &QLineEdit::returnPressed, ui->cmdProcessScore, &QPushButton::click);
    pressButtonsWithReturn(m_controls);
    makeFieldsReachable({ui->Text3});
    ui->cmdProcessScore->setFocus();
    // Load step: the score the main window shows now.
    if (m_mainScore)
        ui->Text6->setText(m_mainScore());
}

void SubmitWindow::showModal()
{
    ensureLoaded();
    if (!m_shownBefore && screen()) {
        m_shownBefore = true;
        move(screen()->availableGeometry().center() - rect().center());
    }
    show();
    raise();
    activateWindow();
}

void SubmitWindow::setScore(const QString &score)
{
    ensureLoaded();
    ui->Text6->setText(score);
}

QString SubmitWindow::nickname() const
{
    return m_controls ? ui->Text7->text() : QString();
}

void SubmitWindow::setNickname(const QString &text)
{
    if (m_controls)
        ui->Text7->setText(text);
}

void SubmitWindow::focusNickname()
{
    if (m_controls)
        ui->Text7->setFocus();
}

QString SubmitWindow::serverAddress() const
{
    return m_controls ? ui->txtIP->text() : QString();
}

QString SubmitWindow::serverPort() const
{
    return m_controls ? ui->txtPort->text() : QString();
}

QString SubmitWindow::score() const
{
    return m_controls ? ui->Text6->text() : QString();
}

void SubmitWindow::setReply(const QString &text)
{
    if (m_controls)
        ui->Text3->setPlainText(text);
}

void SubmitWindow::setProcessEnabled(bool enabled)
{
    if (m_controls)
        ui->cmdProcessScore->setEnabled(enabled);
}

void SubmitWindow::showMessage(const QString &text, const QString &title, MessageIcon icon)
{
    ::showMessage(this, text, title, icon);
}

void SubmitWindow::letEventsRun()
{
    QCoreApplication::processEvents();
}

void SubmitWindow::destroyControls()
{
    m_client.controlsDestroyed();
    hide();
    if (m_controls) {
        // Deferred: the button whose click led here is still on the stack.
        m_controls->hide();
        m_controls->deleteLater();
        m_controls = nullptr;
    }
}

void SubmitWindow::hideWindow()
{
    hide();
}

void SubmitWindow::paintEvent(QPaintEvent *)
{
    paintWindowBorder(this);
}

void SubmitWindow::keyPressEvent(QKeyEvent *event)
{
    // Escape, as in a dialog, does what Close does; what no control took comes here.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (m_controls)
            ui->Command1->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SubmitWindow::closeEvent(QCloseEvent *event)
{
    // Closed from the desktop: the connection goes, the window hides and keeps its fields.
    m_client.socket().close();
    hide();
    event->ignore();
}

bool SubmitWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The title label on the logo bar is no drag handle: it keeps its clicks to itself.
    if (m_controls && watched == ui->lblstatus &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseMove ||
         event->type() == QEvent::MouseButtonRelease))
        return true;
    return QWidget::eventFilter(watched, event);
}

#include "shell/accessibletext.h"

#include "widgets/modality.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QValidator>

QString withoutMnemonics(QString caption)
{
    caption.replace(QStringLiteral("&&"), QStringLiteral("\x01")).remove(u'&');
    return caption.replace(u'\x01', u'&');
}

namespace {

// The text of a label that names the widget as its buddy, without its mnemonic marks.
QString buddyText(const QWidget *widget)
{
    if (!widget->parentWidget())
        return {};
    const auto labels = widget->parentWidget()->findChildren<QLabel *>(Qt::FindDirectChildrenOnly);
    for (const QLabel *label : labels) {
        if (label->buddy() == widget)
            return withoutMnemonics(label->text()).trimmed();
    }
    return {};
}

} // namespace

TextFieldAccessible::TextFieldAccessible(QLineEdit *line)
    : QAccessibleWidget(line, QAccessible::EditableText), m_line(line)
{}

TextFieldAccessible::TextFieldAccessible(QPlainTextEdit *plain)
    : QAccessibleWidget(plain, QAccessible::EditableText), m_plain(plain)
{}

void *TextFieldAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    // A read-only field offers no editing at all; one that is disabled or blocked for a while
    // offers it (assistive tools keep the list of what an object offers) and refuses the edits.
    if (type == QAccessible::EditableTextInterface) {
        return readOnly() ? nullptr : static_cast<QAccessibleEditableTextInterface *>(this);
    }
    return QAccessibleWidget::interface_cast(type);
}

QString TextFieldAccessible::wholeText() const
{
    if (m_line)
        return m_line->echoMode() == QLineEdit::Normal ? m_line->text() : m_line->displayText();
    return m_plain->toPlainText();
}

bool TextFieldAccessible::readOnly() const
{
    return m_line ? m_line->isReadOnly() : m_plain->isReadOnly();
}

bool TextFieldAccessible::writable() const
{
    return !readOnly() && widget()->isEnabled() && !isBlockedByModalWindow(widget());
}

QString TextFieldAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Value)
        return wholeText();
    // Named by its own name or the label beside it, never by the caption of its frame.
    if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
        return buddyText(widget());
    return QAccessibleWidget::text(t);
}

void TextFieldAccessible::setText(QAccessible::Text t, const QString &text)
{
    if (t != QAccessible::Value) {
        QAccessibleWidget::setText(t, text);
        return;
    }
    edit(0, characterCount(), text);
}

QAccessible::State TextFieldAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = readOnly();
    state.editable = !readOnly();
    state.selectableText = true;
    state.multiLine = m_plain != nullptr;
    if (m_line && m_line->echoMode() != QLineEdit::Normal)
        state.passwordEdit = true;
    return state;
}

// Focus moves to a field only where a click could move it.
void TextFieldAccessible::doAction(const QString &action)
{
    if (!isBlockedByModalWindow(widget()))
        QAccessibleWidget::doAction(action);
}

// A plain-text editor shows its scroll bars as its parts, when they show, by the containers Qt
// keeps them in (their parents, so the tree reads the same both ways); its viewport is not a
// part of its own.
QList<QWidget *> TextFieldAccessible::scrollBars() const
{
    QList<QWidget *> bars;
    if (m_plain) {
        for (QScrollBar *bar : {m_plain->verticalScrollBar(), m_plain->horizontalScrollBar()}) {
            QWidget *container = bar->parentWidget();
            if (bar->isVisible() && container && container->parentWidget() == m_plain)
                bars << container;
        }
    }
    return bars;
}

int TextFieldAccessible::childCount() const
{
    return int(scrollBars().size());
}

QAccessibleInterface *TextFieldAccessible::child(int index) const
{
    const QList<QWidget *> bars = scrollBars();
    return index >= 0 && index < bars.size() ? QAccessible::queryAccessibleInterface(bars[index])
                                             : nullptr;
}

int TextFieldAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    return child ? int(scrollBars().indexOf(child->object())) : -1;
}

void TextFieldAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0)
        return;
    if (m_line && m_line->hasSelectedText()) {
        *startOffset = m_line->selectionStart();
        *endOffset = m_line->selectionEnd();
    } else if (m_plain && m_plain->textCursor().hasSelection()) {
        *startOffset = m_plain->textCursor().selectionStart();
        *endOffset = m_plain->textCursor().selectionEnd();
    }
}

int TextFieldAccessible::selectionCount() const
{
    return (m_line ? m_line->hasSelectedText() : m_plain->textCursor().hasSelection()) ? 1 : 0;
}

void TextFieldAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void TextFieldAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex != 0)
        return;
    if (m_line) {
        m_line->deselect();
    } else {
        QTextCursor cursor = m_plain->textCursor();
        cursor.clearSelection();
        m_plain->setTextCursor(cursor);
    }
}

void TextFieldAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    const int count = characterCount();
    if (selectionIndex != 0 || startOffset < 0 || endOffset < 0 || startOffset > count ||
        endOffset > count)
        return;
    if (m_line) {
        m_line->setSelection(startOffset, endOffset - startOffset);
    } else {
        QTextCursor cursor = m_plain->textCursor();
        cursor.setPosition(startOffset);
        cursor.setPosition(endOffset, QTextCursor::KeepAnchor);
        m_plain->setTextCursor(cursor);
    }
}

int TextFieldAccessible::cursorPosition() const
{
    return m_line ? m_line->cursorPosition() : m_plain->textCursor().position();
}

void TextFieldAccessible::setCursorPosition(int position)
{
    if (position < 0 || position > characterCount())
        return;
    if (m_line) {
        m_line->setCursorPosition(position);
    } else {
        QTextCursor cursor = m_plain->textCursor();
        cursor.setPosition(position);
        m_plain->setTextCursor(cursor);
    }
}

QString TextFieldAccessible::text(int startOffset, int endOffset) const
{
    const QString all = wholeText();
    if (startOffset < 0 || endOffset < startOffset || startOffset > all.size())
        return {};
    return all.mid(startOffset, endOffset - startOffset);
}

int TextFieldAccessible::characterCount() const
{
    return int(wholeText().size());
}

// The rectangle of one character on the screen.
QRect TextFieldAccessible::characterRect(int offset) const
{
    const QString all = wholeText();
    if (offset < 0 || offset >= all.size())
        return {};
    const QFontMetrics metrics = widget()->fontMetrics();
    if (m_plain) {
        QTextCursor cursor(m_plain->document());
        cursor.setPosition(offset);
        const QRect caret = m_plain->cursorRect(cursor);
        const QRect inViewport(caret.left(), caret.top(), metrics.horizontalAdvance(all.at(offset)),
                               caret.height());
        return QRect(m_plain->viewport()->mapToGlobal(inViewport.topLeft()), inViewport.size());
    }
    // A line's caret rectangle is known for the caret alone; the others lie at the width of the
    // text between them and the caret.
    const QRect caret = m_line->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    const int caretAt = m_line->cursorPosition();
    const int shift = offset >= caretAt
                          ? metrics.horizontalAdvance(all.mid(caretAt, offset - caretAt))
                          : -metrics.horizontalAdvance(all.mid(offset, caretAt - offset));
    const QRect local(caret.center().x() + shift, caret.top(),
                      metrics.horizontalAdvance(all.at(offset)), caret.height());
    return QRect(m_line->mapToGlobal(local.topLeft()), local.size());
}

int TextFieldAccessible::offsetAtPoint(const QPoint &point) const
{
    if (m_plain)
        return m_plain->cursorForPosition(m_plain->viewport()->mapFromGlobal(point)).position();
    return m_line->cursorPositionAt(m_line->mapFromGlobal(point));
}

void TextFieldAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    if (startIndex < 0 || endIndex < startIndex || endIndex > characterCount())
        return;
    if (m_line) {
        m_line->setCursorPosition(endIndex);
        m_line->setCursorPosition(startIndex);
    } else {
        QTextCursor cursor(m_plain->document());
        cursor.setPosition(endIndex);
        m_plain->setTextCursor(cursor);
        m_plain->ensureCursorVisible();
        cursor.setPosition(startIndex);
        m_plain->setTextCursor(cursor);
        m_plain->ensureCursorVisible();
    }
}

QString TextFieldAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    // One run of text in one font: no attributes of its own.
    Q_UNUSED(offset);
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}

void TextFieldAccessible::deleteText(int startOffset, int endOffset)
{
    edit(startOffset, endOffset, QString());
}

void TextFieldAccessible::insertText(int offset, const QString &text)
{
    edit(offset, offset, text);
}

void TextFieldAccessible::replaceText(int startOffset, int endOffset, const QString &text)
{
    edit(startOffset, endOffset, text);
}

void TextFieldAccessible::edit(int start, int end, const QString &text)
{
    const int count = characterCount();
    if (!writable() || start < 0 || end < start || end > count)
        return;
    if (m_plain) {
        QTextCursor cursor(m_plain->document());
        cursor.setPosition(start);
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        cursor.insertText(text);
        return;
    }
    QString changed = m_line->text();
    changed.replace(start, end - start, text);
    if (changed.size() > m_line->maxLength())
        return;
    if (const QValidator *validator = m_line->validator()) {
        int position = start + int(text.size());
        if (validator->validate(changed, position) == QValidator::Invalid)
            return;
    }
    m_line->setText(changed);
    m_line->setCursorPosition(start + int(text.size()));
}

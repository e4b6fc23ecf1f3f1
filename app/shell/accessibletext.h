// What assistive technology reaches of a text field (a one-line or a plain-text editor): its
// text, caret and selection, and editing only where a user could type.
//
// Qt's own interfaces for these editors let a screen reader or a voice-control tool rewrite a
// read-only field, or edit a field of a window that a modal window blocks. This one reads the
// same way and refuses those edits.
#pragma once

#include <QAccessibleWidget>

class QLineEdit;
class QPlainTextEdit;

class TextFieldAccessible final : public QAccessibleWidget,
                                  public QAccessibleTextInterface,
                                  public QAccessibleEditableTextInterface
{
public:
    explicit TextFieldAccessible(QLineEdit *line);
    explicit TextFieldAccessible(QPlainTextEdit *plain);

    void *interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text t, const QString &text) override;
    QAccessible::State state() const override;
    void doAction(const QString &action) override;
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;

    // Text.
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

    // Editing, where the field takes typing.
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString &text) override;
    void replaceText(int startOffset, int endOffset, const QString &text) override;

private:
    QString wholeText() const;
    bool readOnly() const;
    bool writable() const;
    // Replaces [start, end) with the text, as far as the field would take it by typing.
    void edit(int start, int end, const QString &text);
    QList<QWidget *> scrollBars() const;

    QLineEdit *m_line = nullptr;
    QPlainTextEdit *m_plain = nullptr;
};

// A caption as it reads: "&&" is an ampersand, a single "&" marks the mnemonic and is not read.
QString withoutMnemonics(QString caption);

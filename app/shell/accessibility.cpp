#include "shell/accessibility.h"

#include "shell/accessibletext.h"
#include "shell/glyphbutton.h"
#include "widgets/modality.h"

#include <QAccessibleWidget>
#include <QLabel>
#include <QLineEdit>
#include <QMetaEnum>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVariant>

namespace {

// A tool tip that repeats the name would be spoken twice: it is not given as a description.
QString withoutRepeatedName(const QAccessibleInterface *iface, QAccessible::Text t, QString text)
{
    if (t == QAccessible::Description && text == iface->text(QAccessible::Name))
        return {};
    return text;
}

class GlyphButtonAccessible final : public QAccessibleWidget
{
public:
    explicit GlyphButtonAccessible(GlyphButton *button)
        : QAccessibleWidget(button, QAccessible::Button)
    {}

    QString text(QAccessible::Text t) const override
    {
        return withoutRepeatedName(this, t, QAccessibleWidget::text(t));
    }

    QStringList actionNames() const override { return {pressAction()}; }

    void doAction(const QString &action) override
    {
        if (action == pressAction() && widget()->isEnabled() && !isBlockedByModalWindow(widget()))
            static_cast<GlyphButton *>(widget())->press();
    }
};

// A push button as Qt presents it, but pressed only where a click would reach it.
class PushButtonAccessible final : public QAccessibleWidget
{
public:
    explicit PushButtonAccessible(QPushButton *button)
        : QAccessibleWidget(button, QAccessible::Button)
    {}

    QPushButton *button() const { return static_cast<QPushButton *>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        // Named by what it says, not by the caption of the frame around it.
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return withoutMnemonics(button()->text());
        return withoutRepeatedName(this, t, QAccessibleWidget::text(t));
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.pressed = button()->isDown();
        state.checkable = button()->isCheckable();
        state.checked = button()->isChecked();
        state.defaultButton =
            button()->isDefault() || (button()->autoDefault() && button()->hasFocus());
        return state;
    }

    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &action) override
    {
        if (!widget()->isEnabled() || isBlockedByModalWindow(widget()))
            return;
        // The click comes from the event loop, after the request has been answered: a click
        // that starts a run or opens a modal window must not hold the assistive tool waiting.
        // By then an earlier press may have opened a modal window: asked again.
        if (action == pressAction()) {
            QPointer<QPushButton> pressed = button();
            QTimer::singleShot(0, pressed, [pressed] {
                if (pressed && pressed->isEnabled() && !isBlockedByModalWindow(pressed))
                    pressed->click();
            });
        } else {
            QAccessibleWidget::doAction(action);
        }
    }
};

// A top-level window is a window, or a dialog when it is one or is modal.
class WindowAccessible final : public QAccessibleWidget
{
public:
    explicit WindowAccessible(QWidget *window) : QAccessibleWidget(window) {}

    QAccessible::Role role() const override
    {
        const bool dialog =
            widget()->windowType() == Qt::Dialog || widget()->windowModality() != Qt::NonModal;
        return dialog ? QAccessible::Dialog : QAccessible::Window;
    }
};

// The main window's status line: a status bar, named by what it says without its leading
// pointer glyph; its owner may name it otherwise for a while, to announce something.
class StatusAccessible final : public QAccessibleWidget
{
public:
    explicit StatusAccessible(QLabel *label) : QAccessibleWidget(label, QAccessible::StatusBar) {}

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !widget()->accessibleName().isEmpty())
            return QAccessibleWidget::text(t);
        QString text = static_cast<QLabel *>(widget())->text();
        if (text.startsWith(u'\u00BB'))
            text = text.mid(1).trimmed();
        return text;
    }
};

// A widget that only decorates: not reported as showing.
class DecorationAccessible final : public QAccessibleWidget
{
public:
    explicit DecorationAccessible(QWidget *widget) : QAccessibleWidget(widget) {}

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.invisible = true;
        return state;
    }
};

// A widget given a role by its "accessibleRole" property, a role's name (a chart's bar is a plain
// item that says its value, not a frame).
class RoleAccessible final : public QAccessibleWidget
{
public:
    RoleAccessible(QWidget *widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}
};

QAccessibleInterface *factory(const QString &className, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    if (className == QLatin1String("GlyphButton"))
        return new GlyphButtonAccessible(static_cast<GlyphButton *>(object));
    if (object->property("decorative").toBool())
        return new DecorationAccessible(widget);
    if (object->property("statusLine").toBool() && qobject_cast<QLabel *>(object))
        return new StatusAccessible(static_cast<QLabel *>(object));
    if (const QVariant role = object->property("accessibleRole"); role.isValid()) {
        bool known = false;
        const int value = QMetaEnum::fromType<QAccessible::Role>().keyToValue(
            role.toString().toLatin1().constData(), &known);
        if (known)
            return new RoleAccessible(widget, static_cast<QAccessible::Role>(value));
    }
    if (className == QLatin1String("QPushButton"))
        return new PushButtonAccessible(static_cast<QPushButton *>(object));
    if (className == QLatin1String("QLineEdit"))
        return new TextFieldAccessible(static_cast<QLineEdit *>(object));
    if (className == QLatin1String("QPlainTextEdit"))
        return new TextFieldAccessible(static_cast<QPlainTextEdit *>(object));
    // Plain widgets that are windows (dialogs, message boxes and menus have Qt's own roles).
    if (className == QLatin1String("QWidget") && widget->isWindow())
        return new WindowAccessible(widget);
    return nullptr;
}

} // namespace

void installAccessibility()
{
    static bool installed = false;
    if (!installed) {
        QAccessible::installFactory(factory);
        installed = true;
    }
}

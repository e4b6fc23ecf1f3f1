#include "shell/accessibility.h"

#include "shell/glyphbutton.h"

#include <QAccessibleWidget>
#include <QVariant>

namespace {

class GlyphButtonAccessible final : public QAccessibleWidget
{
public:
    explicit GlyphButtonAccessible(GlyphButton *button)
        : QAccessibleWidget(button, QAccessible::Button)
    {}

    QStringList actionNames() const override { return {pressAction()}; }

    void doAction(const QString &action) override
    {
        if (action == pressAction() && widget()->isEnabled())
            static_cast<GlyphButton *>(widget())->press();
    }
};

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

QAccessibleInterface *factory(const QString &className, QObject *object)
{
    if (className == QLatin1String("GlyphButton"))
        return new GlyphButtonAccessible(static_cast<GlyphButton *>(object));
    if (object && object->isWidgetType() && object->property("decorative").toBool())
        return new DecorationAccessible(static_cast<QWidget *>(object));
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

// A screen reader's view of a program: a client of the accessibility bus (AT-SPI over D-Bus)
// that reads the tree of objects a program publishes, presses their actions, edits their text
// and records the events they send.
#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// One object on the bus: the program's connection and the object's path.
struct AtSpiNode
{
    QString service;
    QString path;
    bool operator==(const AtSpiNode &other) const = default;
    bool isNull() const { return service.isEmpty(); }
};

// AT-SPI state numbers (AtspiStateType).
enum class AtSpiState : int
{
    Editable = 7,
    Enabled = 8,
    Focusable = 11,
    Modal = 16,
    Pressed = 20,
    Showing = 25,
    Visible = 30,
};

struct AtSpiEvent
{
    QString path;
    QString kind; // "PropertyChange", "StateChanged", ...
    QString detail;
    QString value;
};

class AtSpiEventLog : public QObject
{
    Q_OBJECT

public:
    explicit AtSpiEventLog(QDBusConnection &bus) : m_bus(bus) {}
    QList<AtSpiEvent> events;

public slots:
    void record(const QDBusMessage &message)
    {
        const QList<QVariant> arguments = message.arguments();
        AtSpiEvent event{message.path(), message.member(), {}, {}};
        if (!arguments.isEmpty())
            event.detail = arguments.at(0).toString();
        // The event names what changed, not its new value: a screen reader asks for that, as
        // this does, at once.
        if (event.detail == QLatin1String("accessible-name")) {
            QDBusMessage get = QDBusMessage::createMethodCall(
                message.service(), message.path(),
                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
            get.setArguments({QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("Name")});
            const QVariant value = m_bus.call(get, QDBus::Block, 10000).arguments().value(0);
            event.value = value.value<QDBusVariant>().variant().toString();
        }
        events << event;
    }

private:
    QDBusConnection &m_bus;
};

class AtSpiClient
{
public:
    // Connects to the accessibility bus of the session, starting it if needed. Empty on success,
    // else the reason.
    QString connect()
    {
        QDBusInterface launcher(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                QStringLiteral("org.a11y.Bus"), QDBusConnection::sessionBus());
        const QDBusReply<QString> address = launcher.call(QStringLiteral("GetAddress"));
        if (!address.isValid())
            return QStringLiteral("no accessibility bus: ") + address.error().message();
        m_bus = QDBusConnection::connectToBus(address.value(), QStringLiteral("a11y"));
        if (!m_bus.isConnected())
            return QStringLiteral("cannot connect to ") + address.value();
        return {};
    }

    QDBusConnection &bus() { return m_bus; }

    // Asks every program to send these events (AT-SPI programs send only what is listened to),
    // and records them in the log.
    void listen(const QStringList &events, const QStringList &members, AtSpiEventLog *log)
    {
        QDBusInterface registry(QStringLiteral("org.a11y.atspi.Registry"),
                                QStringLiteral("/org/a11y/atspi/registry"),
                                QStringLiteral("org.a11y.atspi.Registry"), m_bus);
        for (const QString &event : events)
            registry.call(QStringLiteral("RegisterEvent"), event, QStringList(), QString());
        for (const QString &member : members) {
            m_bus.connect(QString(), QString(), QStringLiteral("org.a11y.atspi.Event.Object"),
                          member, log, SLOT(record(QDBusMessage)));
        }
    }

    // The programs that have registered with the desktop.
    QList<AtSpiNode> applications()
    {
        return children({QStringLiteral("org.a11y.atspi.Registry"),
                         QStringLiteral("/org/a11y/atspi/accessible/root")});
    }

    QList<AtSpiNode> children(const AtSpiNode &node)
    {
        QList<AtSpiNode> nodes;
        const QDBusMessage reply =
            call(node, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetChildren"));
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return nodes;
        const auto array = reply.arguments().at(0).value<QDBusArgument>();
        array.beginArray();
        while (!array.atEnd()) {
            QString service;
            QDBusObjectPath path;
            array.beginStructure();
            array >> service >> path;
            array.endStructure();
            nodes << AtSpiNode{service, path.path()};
        }
        array.endArray();
        return nodes;
    }

    QString role(const AtSpiNode &node)
    {
        return call(node, QStringLiteral("org.a11y.atspi.Accessible"),
                    QStringLiteral("GetRoleName"))
            .arguments()
            .value(0)
            .toString();
    }

    QString name(const AtSpiNode &node)
    {
        return property(node, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("Name"))
            .toString();
    }

    QString description(const AtSpiNode &node)
    {
        return property(node, QStringLiteral("org.a11y.atspi.Accessible"),
                        QStringLiteral("Description"))
            .toString();
    }

    QStringList interfaces(const AtSpiNode &node)
    {
        return call(node, QStringLiteral("org.a11y.atspi.Accessible"),
                    QStringLiteral("GetInterfaces"))
            .arguments()
            .value(0)
            .toStringList();
    }

    bool has(const AtSpiNode &node, AtSpiState state)
    {
        const QDBusMessage reply =
            call(node, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetState"));
        if (reply.arguments().isEmpty())
            return false;
        QList<uint> words;
        reply.arguments().at(0).value<QDBusArgument>() >> words;
        const int bit = static_cast<int>(state);
        return words.size() > bit / 32 && (words.at(bit / 32) >> (bit % 32)) & 1U;
    }

    // The whole text of a text object.
    QString text(const AtSpiNode &node)
    {
        return call(node, QStringLiteral("org.a11y.atspi.Text"), QStringLiteral("GetText"), 0, -1)
            .arguments()
            .value(0)
            .toString();
    }

    // Presses the named action ("Press", "SetFocus", ...); false if the object has none such.
    bool doAction(const AtSpiNode &node, const QString &action)
    {
        const QDBusMessage actions =
            call(node, QStringLiteral("org.a11y.atspi.Action"), QStringLiteral("GetActions"));
        if (actions.arguments().isEmpty())
            return false;
        const auto array = actions.arguments().at(0).value<QDBusArgument>();
        int index = -1;
        int i = 0;
        array.beginArray();
        while (!array.atEnd()) {
            QString actionName, description, keys;
            array.beginStructure();
            array >> actionName >> description >> keys;
            array.endStructure();
            if (actionName.compare(action, Qt::CaseInsensitive) == 0 && index < 0)
                index = i;
            ++i;
        }
        array.endArray();
        if (index < 0)
            return false;
        return call(node, QStringLiteral("org.a11y.atspi.Action"), QStringLiteral("DoAction"),
                    index)
                   .type() == QDBusMessage::ReplyMessage;
    }

    QDBusMessage call(const AtSpiNode &node, const QString &interface, const QString &method,
                      const QVariant &a = {}, const QVariant &b = {})
    {
        QDBusMessage message =
            QDBusMessage::createMethodCall(node.service, node.path, interface, method);
        QList<QVariant> arguments;
        for (const QVariant &argument : {a, b}) {
            if (argument.isValid())
                arguments << argument;
        }
        message.setArguments(arguments);
        return m_bus.call(message, QDBus::Block, 10000);
    }

    QVariant property(const AtSpiNode &node, const QString &interface, const QString &name)
    {
        const QDBusMessage reply = call(node, QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"), interface, name);
        const QVariant value = reply.arguments().value(0);
        return value.canConvert<QDBusVariant>() ? value.value<QDBusVariant>().variant() : value;
    }

    // Every object below the node that is showing, depth first.
    QList<AtSpiNode> showing(const AtSpiNode &node)
    {
        QList<AtSpiNode> all;
        const QList<AtSpiNode> kids = children(node);
        for (const AtSpiNode &kid : kids) {
            if (!has(kid, AtSpiState::Showing))
                continue;
            all << kid;
            all << showing(kid);
        }
        return all;
    }

private:
    QDBusConnection m_bus{QStringLiteral("none")};
};

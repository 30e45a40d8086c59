#include "app/RemoteControl.h"

#include "base/Log.h"

#include <QDBusMessage>
#include <QTimer>

namespace quenda {

const QStringList& RemoteControl::windowIds()
{
    static const QStringList ids{QStringLiteral("settings"),       QStringLiteral("stats"),
                                 QStringLiteral("dictionary"),     QStringLiteral("snippets"),
                                 QStringLiteral("report-problem"), QStringLiteral("feedback"),
                                 QStringLiteral("onboarding")};
    return ids;
}

RemoteControl::RemoteControl(QDBusConnection bus, Actions actions, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_actions(std::move(actions))
{}

RemoteControl::~RemoteControl()
{
    if (m_exported)
        m_bus.unregisterObject(objectPath);
}

bool RemoteControl::exportObject()
{
    m_exported = m_bus.registerObject(objectPath, this,
                                      QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
    return m_exported;
}

QString RemoteControl::stateName(const DictationState& state)
{
    switch (state.kind()) {
    case DictationState::Kind::Idle:
        return QStringLiteral("idle");
    case DictationState::Kind::Listening:
        return QStringLiteral("listening");
    case DictationState::Kind::Processing:
        return QStringLiteral("processing");
    case DictationState::Kind::Error:
        break;
    }
    return QStringLiteral("error");
}

void RemoteControl::setState(const DictationState& state)
{
    const QString name = stateName(state);
    if (name == m_state)
        return;
    m_state = name;
    if (!m_exported)
        return;
    QDBusMessage changed = QDBusMessage::createSignal(
        objectPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    changed << interfaceName << QVariantMap{{QStringLiteral("State"), m_state}} << QStringList();
    m_bus.send(changed);
}

// The calls answer at once and act on the next turn of the event loop, so a caller never waits on a
// dictation starting, a window opening or the application quitting.
void RemoteControl::Toggle()
{
    QTimer::singleShot(0, this, [this] { m_actions.toggle(); });
}

void RemoteControl::Start()
{
    QTimer::singleShot(0, this, [this] { m_actions.start(); });
}

void RemoteControl::Stop()
{
    QTimer::singleShot(0, this, [this] { m_actions.stop(); });
}

void RemoteControl::OpenWindow(const QString& id)
{
    if (!windowIds().contains(id)) {
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("Unknown window \"%1\"; known: %2").arg(id, windowIds().join(u", ")));
        return;
    }
    QTimer::singleShot(0, this, [this, id] { m_actions.openWindow(id); });
}

void RemoteControl::Quit()
{
    log("QuendaApp", QStringLiteral("Quit requested over D-Bus"));
    QTimer::singleShot(0, this, [this] { m_actions.quit(); });
}

} // namespace quenda

#pragma once

#include "core/DictationState.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QStringList>

#include <functional>

namespace quenda {

// Quenda on the session bus, the way desktop shortcuts, scripts and other programs drive a tray application:
// service com.quenda.Quenda, object /com/quenda/Quenda, interface com.quenda.Quenda with Toggle, Start,
// Stop, OpenWindow(s id) and Quit, and the read-only property State ("idle", "listening", "processing",
// "error") announced through PropertiesChanged.
class RemoteControl : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quenda.Quenda")
    Q_PROPERTY(QString State READ state)
public:
    static inline const QString serviceName = QStringLiteral("com.quenda.Quenda");
    static inline const QString objectPath = QStringLiteral("/com/quenda/Quenda");
    static inline const QString interfaceName = QStringLiteral("com.quenda.Quenda");
    // The windows OpenWindow knows, by identifier.
    static const QStringList& windowIds();

    struct Actions {
        std::function<void()> toggle;
        std::function<void()> start;
        std::function<void()> stop;
        std::function<void(const QString& id)> openWindow;
        std::function<void()> quit;
    };

    RemoteControl(QDBusConnection bus, Actions actions, QObject* parent = nullptr);
    ~RemoteControl() override;

    // Puts the object on the bus; false when the bus refused.
    bool exportObject();

    QString state() const { return m_state; }
    // Follows the dictation state; every change is announced on the bus.
    void setState(const DictationState& state);
    static QString stateName(const DictationState& state);

public Q_SLOTS:
    void Toggle();
    void Start();
    void Stop();
    void OpenWindow(const QString& id);
    void Quit();

private:
    QDBusConnection m_bus;
    Actions m_actions;
    QString m_state = QStringLiteral("idle");
    bool m_exported = false;
};

} // namespace quenda

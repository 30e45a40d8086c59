#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class QWidget;

namespace quenda {

class WindowActivation;

// The application's windows by identifier ("settings", "stats", "dictionary", "snippets",
// "report-problem", "feedback", "onboarding"): each is made on first use and kept, and every opening
// brings it to the front with the keyboard focus, whatever application was in front before.
class WindowRouter : public QObject {
    Q_OBJECT
public:
    using Factory = std::function<std::unique_ptr<QWidget>()>;

    explicit WindowRouter(WindowActivation& activation, QObject* parent = nullptr);
    ~WindowRouter() override;

    void setFactory(const QString& id, Factory factory);
    QStringList ids() const { return m_factories.keys(); }

    // Shows the window and activates it; null for an unknown identifier.
    QWidget* open(const QString& id);
    // The window when it has been made.
    QWidget* window(const QString& id) const;

Q_SIGNALS:
    void opened(const QString& id);

private:
    void activateUntilActive(QWidget* window, int triesLeft);

    WindowActivation& m_activation;
    QHash<QString, Factory> m_factories;
    QHash<QString, QWidget*> m_windows; // owned
};

} // namespace quenda

#pragma once

#include "platform/HotkeyEventSource.h"

#include <QHash>
#include <QStringList>

namespace quenda::fakes {

// A keyboard the test types on: events go to whichever path the listener installed.
class FakeHotkeySource final : public HotkeyEventSource {
public:
    GrabResult installGrab(quint16 keyCode, quint64 modifiers, Filter filter) override
    {
        calls << QStringLiteral("grab %1 %2").arg(keyCode).arg(modifiers, 0, 16);
        if (grabResult == GrabResult::Installed)
            grabFilter = std::move(filter);
        return grabResult;
    }
    void removeGrab() override
    {
        calls << QStringLiteral("ungrab");
        grabFilter = {};
    }
    bool startObserving(Observer observer) override
    {
        calls << QStringLiteral("observe");
        if (canObserve)
            observer_ = std::move(observer);
        return canObserve;
    }
    void stopObserving() override
    {
        calls << QStringLiteral("unobserve");
        observer_ = {};
    }
    std::optional<QString> layoutKeyName(quint16 keyCode) const override
    {
        const auto it = layout.constFind(keyCode);
        return it == layout.constEnd() ? std::nullopt : std::optional<QString>(*it);
    }
    QString functionKeyName() const override { return QStringLiteral("Right Ctrl"); }

    // Sends the event down the installed path; returns whether the listener consumed it.
    bool send(const CanonicalKeyEvent& event)
    {
        if (grabFilter)
            return grabFilter(event);
        if (observer_)
            observer_(event);
        return false;
    }

    GrabResult grabResult = GrabResult::Installed;
    bool canObserve = true;
    QHash<quint16, QString> layout{{0, QStringLiteral("a")}, {2, QStringLiteral("d")}};
    Filter grabFilter;
    Observer observer_;
    QStringList calls;
};

} // namespace quenda::fakes

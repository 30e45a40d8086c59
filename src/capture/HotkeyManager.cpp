#include "capture/HotkeyManager.h"

#include "base/Log.h"
#include "base/Scheduler.h"
#include "base/UserDefaults.h"

#include <QHash>
#include <QPointer>

#include <cstdio>

namespace quenda {

namespace {

const QString startFailedMessage = QStringLiteral(
    "Global hotkey couldn't start. Enable Quenda in Accessibility and Input Monitoring, then retry.");

const QHash<quint16, QString>& fixedKeyNames()
{
    static const QHash<quint16, QString> names{
        {36, QStringLiteral("Return")}, {48, QStringLiteral("Tab")},
        {49, QStringLiteral("Space")},  {51, QStringLiteral("Delete")},
        {53, QStringLiteral("Escape")}, {117, QStringLiteral("Forward Delete")},
        {123, QStringLiteral("←")},     {124, QStringLiteral("→")},
        {125, QStringLiteral("↓")},     {126, QStringLiteral("↑")},
        {122, QStringLiteral("F1")},    {120, QStringLiteral("F2")},
        {99, QStringLiteral("F3")},     {118, QStringLiteral("F4")},
        {96, QStringLiteral("F5")},     {97, QStringLiteral("F6")},
        {98, QStringLiteral("F7")},     {100, QStringLiteral("F8")},
        {101, QStringLiteral("F9")},    {109, QStringLiteral("F10")},
        {103, QStringLiteral("F11")},   {111, QStringLiteral("F12")},
        {105, QStringLiteral("F13")},   {107, QStringLiteral("F14")},
        {113, QStringLiteral("F15")},
    };
    return names;
}

} // namespace

QString hotkeyModeLabel(HotkeyMode mode)
{
    return mode == HotkeyMode::holdToTalk ? QStringLiteral("Hold to Talk") : QStringLiteral("Toggle");
}

HotkeyManager::HotkeyManager(HotkeyEventSource& source, Scheduler& mainQueue, UserDefaults& defaults,
                             QObject* parent)
    : QObject(parent)
    , m_source(source)
    , m_mainQueue(mainQueue)
    , m_defaults(defaults)
{}

HotkeyManager::~HotkeyManager()
{
    if (m_grabInstalled)
        m_source.removeGrab();
    if (m_observing)
        m_source.stopObserving();
}

void HotkeyManager::loadSavedHotkey()
{
    if (!m_defaults.contains(keyCodeKey))
        return;
    const std::optional<qint64> code = m_defaults.integerValue(keyCodeKey);
    const qint64 modifiers =
        m_defaults.contains(modifiersKey) ? m_defaults.integerValue(modifiersKey).value_or(-1) : 0;
    // setHotkey never writes such values: a damaged store gets the default hotkey, not a random key.
    if (!code || *code < 0 || *code > 0xFFFF || modifiers < 0) {
        m_keyCode = defaultKeyCode;
        m_modifierFlags = 0;
    } else {
        m_keyCode = static_cast<quint16>(*code);
        m_modifierFlags = static_cast<quint64>(modifiers);
    }
    Q_EMIT stateChanged();
}

void HotkeyManager::startListening()
{
    if (m_grabInstalled || m_observing) {
        setListening(true, std::nullopt);
        return;
    }
    if (installGrab())
        return;
    if (m_observeInstead) {
        installObserver(std::nullopt);
        return;
    }
    std::fputs("Failed to create event tap. Falling back to NSEvent monitors.\n", stdout);
    std::fflush(stdout);
    installObserver(m_listenerErrorMessage);
}

bool HotkeyManager::installGrab()
{
    QPointer<HotkeyManager> self(this);
    m_observeInstead = false;
    const auto result =
        m_source.installGrab(m_keyCode, m_modifierFlags, [self](const CanonicalKeyEvent& event) {
            return self ? self->handleGrabbedEvent(event) : false;
        });
    switch (result) {
    case HotkeyEventSource::GrabResult::Installed:
        m_grabInstalled = true;
        setListening(true, std::nullopt);
        return true;
    case HotkeyEventSource::GrabResult::Conflict:
        // Another client (often the window manager) owns the combination: the observer still hears it.
        m_listenerErrorMessage =
            QStringLiteral("%1 is already taken by another application. Quenda still hears it, but the front "
                           "application receives it too; record another hotkey to avoid the clash.")
                .arg(displayString());
        break;
    case HotkeyEventSource::GrabResult::Unavailable:
        m_listenerErrorMessage.reset();
        break;
    case HotkeyEventSource::GrabResult::ObserveInstead:
        m_observeInstead = true;
        break;
    }
    m_isListening = false;
    return false;
}

void HotkeyManager::installObserver(std::optional<QString> whyNotGrabbed)
{
    QPointer<HotkeyManager> self(this);
    m_observing = m_source.startObserving([self](const CanonicalKeyEvent& event) {
        if (self)
            self->handleObservedEvent(event);
    });
    if (!m_observing)
        setListening(false, startFailedMessage);
    else
        setListening(true, std::move(whyNotGrabbed));
}

void HotkeyManager::stopListening()
{
    if (m_grabInstalled)
        m_source.removeGrab();
    if (m_observing)
        m_source.stopObserving();
    m_grabInstalled = false;
    m_observing = false;
    m_isListening = false;
    m_isToggleActive = false;
    m_lastFnPressed = false;
    m_fnStartedDictation = false;
    m_fnChorded = false;
    Q_EMIT stateChanged();
}

void HotkeyManager::setMode(HotkeyMode mode)
{
    m_mode = mode;
    Q_EMIT stateChanged();
}

void HotkeyManager::setHotkey(quint16 keyCode, quint64 modifierFlags)
{
    m_keyCode = keyCode;
    m_modifierFlags = modifierFlags;
    m_defaults.setInteger(keyCodeKey, keyCode);
    m_defaults.setInteger(modifiersKey, static_cast<qint64>(modifierFlags));
    stopListening();
    startListening();
}

void HotkeyManager::resetToDefault()
{
    m_keyCode = defaultKeyCode;
    m_modifierFlags = 0;
    m_defaults.remove(keyCodeKey);
    m_defaults.remove(modifiersKey);
    stopListening();
    startListening();
}

QString HotkeyManager::displayString() const
{
    QString text;
    if (m_modifierFlags & ModifierFlag::Control)
        text += QStringLiteral("⌃");
    if (m_modifierFlags & ModifierFlag::Option)
        text += QStringLiteral("⌥");
    if (m_modifierFlags & ModifierFlag::Shift)
        text += QStringLiteral("⇧");
    if (m_modifierFlags & ModifierFlag::Command)
        text += QStringLiteral("⌘");
    return text + keyName(m_keyCode);
}

QString HotkeyManager::keyName(quint16 keyCode) const
{
    // The Fn role is played by whatever key the adapter watches: name that key, not a key the user lacks.
    if (keyCode == functionKeyCode)
        return m_source.functionKeyName();
    const auto fixed = fixedKeyNames().constFind(keyCode);
    if (fixed != fixedKeyNames().constEnd())
        return *fixed;
    const std::optional<QString> translated = m_source.layoutKeyName(keyCode);
    if (translated && !translated->isEmpty())
        return translated->toUpper();
    return QStringLiteral("Key %1").arg(keyCode);
}

bool HotkeyManager::isFunctionKey(quint16 keyCode)
{
    switch (keyCode) {
    case 63:
    case 122:
    case 120:
    case 99:
    case 118:
    case 96:
    case 97:
    case 98:
    case 100:
    case 101:
    case 109:
    case 103:
    case 111:
    case 105:
    case 107:
    case 113:
        return true;
    default:
        return false;
    }
}

bool HotkeyManager::handleFnChange(bool fnDown)
{
    if (fnDown == m_lastFnPressed)
        return false;
    m_lastFnPressed = fnDown;
    if (!fnDown) {
        const bool chorded = m_fnChorded;
        m_fnChorded = false;
        m_fnStartedDictation = false;
        // After a chord the dictation is already gone: the release ends the shortcut, not a dictation.
        if (m_mode == HotkeyMode::holdToTalk && !chorded)
            queueStop();
        return true;
    }
    if (m_mode == HotkeyMode::toggle) {
        m_isToggleActive = !m_isToggleActive;
        m_isToggleActive ? queueStart() : queueStop();
        m_fnStartedDictation = m_isToggleActive;
    } else {
        queueStart();
        m_fnStartedDictation = true;
    }
    return true;
}

void HotkeyManager::handleChord()
{
    // Another key while the Fn role is held: the user is typing a shortcut with it (Right Ctrl+C). The
    // dictation its press started is dropped without a word, and the shortcut reaches the application.
    if (m_fnChorded)
        return;
    m_fnChorded = true;
    if (!m_fnStartedDictation)
        return;
    m_fnStartedDictation = false;
    if (m_mode == HotkeyMode::toggle)
        m_isToggleActive = false;
    queue(&HotkeyManager::m_onRecordingCancel);
}

bool HotkeyManager::handleGrabbedEvent(const CanonicalKeyEvent& event)
{
    using Type = CanonicalKeyEvent::Type;
    if (m_keyCode == functionKeyCode && event.type == Type::FlagsChanged)
        return handleFnChange(event.flags & ModifierFlag::Function);
    if (event.keyCode != m_keyCode)
        return false;
    if (m_modifierFlags != 0 && (event.flags & m_modifierFlags) != m_modifierFlags)
        return false;
    if (m_mode == HotkeyMode::toggle) {
        // Repeated key-downs are not told apart on this path: each one flips again.
        if (event.type == Type::KeyDown) {
            m_isToggleActive = !m_isToggleActive;
            m_isToggleActive ? queueStart() : queueStop();
        }
    } else if (m_keyCode == functionKeyCode) {
        if (event.type == Type::KeyDown)
            (event.flags & ModifierFlag::Function) ? queueStart() : queueStop();
    } else if (event.type == Type::KeyDown) {
        queueStart();
    } else if (event.type == Type::KeyUp) {
        queueStop();
    }
    return true;
}

void HotkeyManager::handleObservedEvent(const CanonicalKeyEvent& event)
{
    using Type = CanonicalKeyEvent::Type;
    if (m_keyCode == functionKeyCode && event.type == Type::FlagsChanged) {
        handleFnChange(event.flags & ModifierFlag::Function);
        return;
    }
    if (m_keyCode == functionKeyCode && m_lastFnPressed && event.type == Type::KeyDown) {
        handleChord();
        return;
    }
    if (event.keyCode != m_keyCode)
        return;
    if (m_modifierFlags != 0 && (event.flags & m_modifierFlags) != m_modifierFlags)
        return;
    if (m_mode == HotkeyMode::toggle) {
        if (event.type == Type::KeyDown && !event.isRepeat) {
            m_isToggleActive = !m_isToggleActive;
            m_isToggleActive ? queueStart() : queueStop();
        }
    } else if (event.type == Type::KeyDown && !event.isRepeat) {
        queueStart();
    } else if (event.type == Type::KeyUp) {
        queueStop();
    }
}

void HotkeyManager::requestStart()
{
    m_isToggleActive = true;
    queueStart();
}

void HotkeyManager::requestStop()
{
    m_isToggleActive = false;
    queueStop();
}

void HotkeyManager::queueStart()
{
    queue(&HotkeyManager::m_onRecordingStart);
}

void HotkeyManager::queueStop()
{
    queue(&HotkeyManager::m_onRecordingStop);
}

void HotkeyManager::queue(Callback HotkeyManager::*which)
{
    // Never from inside the event callback: the callback is looked up when the queued call runs.
    QPointer<HotkeyManager> self(this);
    m_mainQueue.post([self, which] {
        if (self && self->*which)
            (self->*which)();
    });
}

void HotkeyManager::setListening(bool listening, std::optional<QString> error)
{
    m_isListening = listening;
    m_listenerErrorMessage = std::move(error);
    Q_EMIT stateChanged();
}

} // namespace quenda

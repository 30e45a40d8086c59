#include "ui/widgets/HotkeyRecorderModel.h"

#include "base/Scheduler.h"
#include "base/Wording.h"
#include "capture/HotkeyManager.h"

namespace quenda {

namespace {
constexpr quint16 returnKeyCode = 36;
constexpr quint16 tabKeyCode = 48;
constexpr quint16 spaceKeyCode = 49;
// Codes up to here are the letter, digit and punctuation keys.
constexpr quint16 lastCharacterKeyCode = 50;
constexpr quint64 recordedModifiers =
    ModifierFlag::Control | ModifierFlag::Option | ModifierFlag::Shift | ModifierFlag::Command;
} // namespace

HotkeyRecorderModel::HotkeyRecorderModel(HotkeyManager& manager, HotkeyEventSource& keyboard,
                                         Scheduler& mainQueue, QObject* parent)
    : QObject(parent)
    , m_manager(manager)
    , m_keyboard(keyboard)
    , m_mainQueue(mainQueue)
{
    connect(&m_manager, &HotkeyManager::stateChanged, this, &HotkeyRecorderModel::changed);
}

HotkeyRecorderModel::~HotkeyRecorderModel()
{
    if (m_observing) {
        m_keyboard.stopObserving();
        m_manager.startListening();
    }
}

QString HotkeyRecorderModel::hotkeyTitle() const
{
    return m_manager.displayString();
}

bool HotkeyRecorderModel::canReset() const
{
    return m_manager.keyCode() != HotkeyManager::defaultKeyCode || m_manager.modifierFlags() != 0;
}

QString HotkeyRecorderModel::caption() const
{
    if (m_showError)
        return m_errorMessage;
    return m_manager.mode() == HotkeyMode::toggle ? Wording::toggleHint(hotkeyTitle())
                                                  : Wording::holdHint(hotkeyTitle());
}

void HotkeyRecorderModel::beginRecording()
{
    if (m_isRecording)
        return;
    m_isRecording = true;
    Q_EMIT changed();
}

void HotkeyRecorderModel::startRecording()
{
    if (!m_isRecording || m_observing)
        return;
    m_manager.stopListening();
    m_observing = m_keyboard.startObserving(
        m_lifetime.guard([this](const CanonicalKeyEvent& event) { handleRecordedEvent(event); }));
}

void HotkeyRecorderModel::stopRecording()
{
    const bool wasObserving = std::exchange(m_observing, false);
    if (wasObserving)
        m_keyboard.stopObserving();
    if (m_isRecording) {
        m_isRecording = false;
        Q_EMIT changed();
    }
    if (wasObserving)
        m_manager.startListening();
}

void HotkeyRecorderModel::resetHotkey()
{
    m_manager.resetToDefault();
    Q_EMIT changed();
}

void HotkeyRecorderModel::handleRecordedEvent(const CanonicalKeyEvent& event)
{
    using Type = CanonicalKeyEvent::Type;
    if (!m_isRecording || event.type == Type::KeyUp)
        return;
    if (event.keyCode == escapeKeyCode && event.type == Type::KeyDown) {
        m_mainQueue.post(m_lifetime.guard([this] { stopRecording(); }));
        return;
    }
    if (event.type == Type::FlagsChanged)
        return; // a modifier alone, the Fn role included: keep waiting for the key
    const quint64 modifiers = event.flags & recordedModifiers;
    const quint16 keyCode = event.keyCode;
    if (!HotkeyManager::isFunctionKey(keyCode) && modifiers == 0) {
        m_mainQueue.post(m_lifetime.guard([this] { showRecordingError(Wording::addModifierError()); }));
        return;
    }
    if (modifiers == ModifierFlag::Shift && keyCode <= lastCharacterKeyCode && keyCode != returnKeyCode &&
        keyCode != tabKeyCode && keyCode != spaceKeyCode) {
        m_mainQueue.post(m_lifetime.guard([this] { showRecordingError(Wording::shiftWithLetterError()); }));
        return;
    }
    m_mainQueue.post(m_lifetime.guard([this, keyCode, modifiers] { acceptHotkey(keyCode, modifiers); }));
}

void HotkeyRecorderModel::acceptHotkey(quint16 keyCode, quint64 modifiers)
{
    if (!m_isRecording)
        return; // an event queued before the recording was cancelled
    m_showError = false;
    // Observing ends before the new hotkey is grabbed: the listener and the recorder share the keyboard.
    if (std::exchange(m_observing, false))
        m_keyboard.stopObserving();
    m_manager.setHotkey(keyCode, modifiers); // restarts the listener with the new key
    m_isRecording = false;
    Q_EMIT changed();
}

void HotkeyRecorderModel::showRecordingError(const QString& text)
{
    m_errorMessage = text;
    m_showError = true;
    Q_EMIT changed();
    // An error shows for two seconds; a second error meanwhile is hidden by the first one's timer.
    m_mainQueue.postAfter(errorDuration, m_lifetime.guard([this] {
        m_showError = false;
        Q_EMIT changed();
    }));
}

} // namespace quenda

#pragma once

#include "platform/KeyTyper.h"
#include "platform/KeyboardSynthesizer.h"
#include "platform/linux/X11Connection.h"

#include <QHash>
#include <QList>
#include <QTimer>

#include <memory>

namespace quenda {

class KeymapReloadWatcher;

// Types text through XTest key events. A character that has a key on the current layout is typed with that
// key (and Shift or AltGr when its level needs them); any other character, emoji included, by giving a
// spare keycode the character's keysym. Clients read a changed mapping when they get to its notice, which
// may be long after the keys were sent: so a spare keycode keeps its keysym until a few seconds after the
// typing (and is then emptied again), and one pressed in this typing gets a new keysym only after the
// target has fetched the mapping again (KeymapReloadWatcher) and had time for the keys sent before.
class XTestKeyTyper final : public KeyTyper, public KeyboardSynthesizer {
public:
    XTestKeyTyper();
    ~XTestKeyTyper() override;

    // KeyTyper: the orchestrator's streamed chunks.
    bool typeText(const QString& text) override;

    bool canPostEvents() const override;
    Outcome typeCharacters(const QString& text) override;
    bool canCreateShortcut(const QString& combination) override;
    bool postShortcut(const QString& combination) override;

    // How long to wait for a target that never fetches the mapping (it may ignore the keyboard).
    double reloadTimeoutSeconds = 0.5;
    // Round trips to the front window made by the last typing; for the benchmarks.
    int lastRoundTrips = 0;
    // Of those, the ones where the target did not fetch the mapping in time.
    int lastUnconfirmedReloads = 0;
    // How long remapped keycodes keep their keysyms after the last typing.
    double restoreDelaySeconds = 3.0;
    // Spare keycodes found on the last load of the keyboard.
    qsizetype spareKeycodeCount() const { return m_spareKeycodes.size(); }

private:
    struct KeyStroke {
        unsigned int keycode = 0;
        unsigned int modifiers = 0; // real modifier mask the key's level needs
    };
    bool ensureConnection();
    void loadKeyboard();
    std::optional<KeyStroke> strokeFor(unsigned long keysym) const;
    void press(const KeyStroke& stroke);
    void pressModifiers(unsigned int mask, bool down);
    void releaseHeldModifiers();
    void waitForTarget(int keysSent = 0);
    unsigned long targetWindow() const;
    void watchTarget();
    void scheduleRestore();
    void restoreKeycodes();
    bool parseCombination(const QString& combination, QList<unsigned int>& keycodes);

    std::unique_ptr<X11Connection> m_x;
    std::unique_ptr<KeymapReloadWatcher> m_watcher;
    unsigned long m_ownWindow = 0;
    bool m_hasXTest = false;
    QHash<unsigned long, KeyStroke> m_keys; // keysym → its key on the current layout
    QList<unsigned int> m_spareKeycodes;    // free keycodes and the ones carrying our keysyms
    QList<unsigned int> m_ownedKeycodes;
    QList<unsigned int> m_lru;                     // spare keycodes, least recently used first
    QHash<unsigned long, unsigned int> m_remapped; // keysym → the spare keycode carrying it
    QHash<unsigned int, unsigned long> m_carried;  // spare keycode → the keysym it carries
    std::unique_ptr<QTimer> m_restoreTimer;
    int m_keysymsPerKeycode = 0;
    unsigned int m_modifierKeycode[8] = {};
};

} // namespace quenda

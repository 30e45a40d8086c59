#pragma once

#include "platform/KeyTyper.h"
#include "platform/KeyboardSynthesizer.h"
#include "platform/linux/X11Connection.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QTimer>

#include <memory>
#include <optional>

typedef struct _XkbDesc* XkbDescPtr;

namespace quenda {

class KeymapReloadWatcher;
class X11Ping;

// Types text through XTest key events. A character that has a key on the current layout is typed with that
// key (and Shift or AltGr when its level needs them); any other character, emoji included, through a spare
// keycode given the character's keysym, up to four characters per keycode (its Shift and AltGr levels).
//
// Exactness: applications read a changed mapping when they get to its notice, which may be long after the
// keys were sent, so a spare keycode is given a new meaning only once the application has handled every
// key sent before: it answers a ping (X11Ping), or, for the few that do not, it fetches the mapping after
// a marker change (KeymapReloadWatcher). The spare keycodes change in batches, all of them in one mapping
// change, since every change makes every client of the display (the window manager too) reload the
// keyboard. When the application cannot be shown to have caught up, typing stops and reports failure.
// The keycodes keep their characters across calls (the next slice of a text or the next dictation often
// needs them) and are emptied again once the application has caught up, and on destruction; a root window
// property lists them, so that a later start puts back what a crashed one left.
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

    // How long the application may take to show it has handled the keys before typing gives up.
    double confirmTimeoutSeconds = 2.0;
    // How long remapped keycodes keep their characters after the last typing.
    double restoreDelaySeconds = 1.0;

    // For the benchmarks: mapping changes and confirmations of the last typing, and the capacity.
    int lastKeymapChanges = 0;
    int lastConfirmations = 0;
    QString lastConfirmationWay; // "ping", "reload" or "none"
    qsizetype spareKeycodeCount() const { return m_slotKeycodes.size(); }
    qsizetype remapCapacity() const { return m_slotKeycodes.size() * m_levels; }
    // Whether remapped keycodes still carry characters (the restore is pending).
    bool hasRemappedKeys() const { return !m_assigned.isEmpty(); }

private:
    struct KeyStroke {
        unsigned int keycode = 0;
        unsigned int modifiers = 0; // real modifier mask the key's level needs
    };
    enum class Confirmation { confirmed, timedOut, impossible };

    bool ensureConnection();
    bool loadKeyboard();
    void loadSlotType(XkbDescPtr xkb);
    std::optional<KeyStroke> layoutStroke(char32_t codePoint, unsigned long* keysym) const;
    KeyStroke slotStroke(int slot) const;
    void press(const KeyStroke& stroke);
    void pressModifiers(unsigned int mask, bool down);
    void releaseHeldModifiers();

    // Gives the spare keycodes the characters the text needs next, from `from` on, in one change.
    bool remapFor(const QList<char32_t>& codePoints, qsizetype from);
    bool writeSlots(const QSet<unsigned int>& keycodes);
    void recordOwnership();
    void restoreStaleRemaps();

    void watchTarget();
    Confirmation confirmConsumed();
    bool beginConfirmation();
    bool confirmationArrived();
    void scheduleRestore();
    void tryRestore(quint64 generation, int attemptsLeft);
    void restoreKeycodes();
    bool parseCombination(const QString& combination, QList<unsigned int>& keycodes);

    std::unique_ptr<X11Connection> m_x;
    std::unique_ptr<X11Ping> m_ping;
    std::unique_ptr<KeymapReloadWatcher> m_watcher;
    unsigned long m_target = 0;
    unsigned long m_ownWindow = 0;
    bool m_hasXTest = false;
    bool m_staleChecked = false;
    XkbDescPtr m_xkb = nullptr;

    QHash<unsigned long, KeyStroke> m_keys; // keysym → its key on the current layout
    QList<unsigned int> m_slotKeycodes;     // spare keycodes and the ones carrying our keysyms
    int m_slotType = 0;                     // key type index given to the spare keycodes
    int m_levels = 1;                       // characters per spare keycode
    unsigned int m_levelMask[4] = {};       // modifiers of each level
    QList<unsigned long> m_slotKeysym;      // per slot (keycode index × levels + level), 0 when empty
    QHash<unsigned long, int> m_assigned;   // keysym → slot
    QSet<int> m_unconfirmed;                // slots pressed since the application last caught up
    unsigned int m_modifierKeycode[8] = {};
    std::unique_ptr<QTimer> m_restoreTimer;
    quint64 m_restoreGeneration = 0;
    int m_totalChanges = 0;
};

} // namespace quenda

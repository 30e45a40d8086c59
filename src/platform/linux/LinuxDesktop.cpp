#include "platform/linux/LinuxDesktop.h"

#include "platform/linux/PocketSphinxEngine.h"

#include <QThread>

namespace quenda {

std::unique_ptr<LinuxDesktop> LinuxDesktop::create(const QString& automationProgram)
{
    std::unique_ptr<LinuxInsertionServices> insertion = LinuxInsertionServices::create(automationProgram);
    if (!insertion)
        return nullptr;
    return std::unique_ptr<LinuxDesktop>(new LinuxDesktop(std::move(insertion)));
}

LinuxDesktop::LinuxDesktop(std::unique_ptr<LinuxInsertionServices> insertion)
    : m_insertion(std::move(insertion))
    , m_permissions(m_insertion->automation())
    , m_microphone(m_audioInput)
{}

LinuxDesktop::~LinuxDesktop() = default;

DesktopServices LinuxDesktop::services()
{
    DesktopServices s;
    s.workspace = &m_insertion->workspace();
    s.accessibility = &m_insertion->accessibility();
    s.keyboard = &m_insertion->keyboard();
    s.keyTyper = &m_insertion->keyboard();
    s.clipboard = &m_insertion->clipboard();
    s.automation = &m_insertion->automation();
    s.hotkeys = &m_hotkeySource;
    s.audioInput = &m_audioInput;
    s.permissions = &m_permissions;
    s.microphone = &m_microphone;
    return s;
}

std::shared_ptr<SpeechEngine> LinuxDesktop::makeOfflineSpeechEngine()
{
    return std::make_shared<PocketSphinxEngine>();
}

} // namespace quenda

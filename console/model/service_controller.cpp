#include "console/model/service_controller.h"

#include "console/model/console_texts.h"

namespace ov::console {

bool ServiceController::IsInstalled() {
    switch (m_system->IsInstalled()) {
        case ServiceSystem::Installed::Yes:
            return true;
        case ServiceSystem::Installed::RegistryUnreadable:
            m_messages->Show(text::kRunServicesUnreadable, text::kConsoleCaption, true);
            return false;
        case ServiceSystem::Installed::No:
            break;
    }
    return false;
}

bool ServiceController::Install() {
    if (IsInstalled()) {
        m_messages->Show(text::kAlreadyInstalled, text::kAppTitle, false);
        return false;
    }
    return m_system->RunGateway("-install");
}

bool ServiceController::Remove() {
    if (!IsInstalled()) {
        m_messages->Show(text::kNotInstalled, text::kConsoleCaption, false);
        return false;
    }
    return m_system->RunGateway("-remove");
}

bool ServiceController::Drive(bool start, ServiceSystem::State pending,
                              ServiceSystem::State wanted) {
    if (!m_system->OpenService())
        return false;
    bool ok = false;
    if (start ? m_system->StartService() : m_system->StopService()) {
        ServiceSystem::State state = pending;
        bool read = false;
        for (;;) {
            m_system->Sleep(1000);
            ServiceSystem::State now;
            if (!m_system->QueryState(&now))
                break;
            state = now;
            read = true;
            if (state != pending)
                break;
        }
        ok = read && state == wanted;
    }
    m_system->CloseService();
    return ok;
}

bool ServiceController::Start() {
    if (!IsInstalled()) {
        m_messages->Show(text::kNotInstalled, text::kConsoleCaption, false);
        return false;
    }
    if (m_system->IsNtFamily())
        return Drive(true, ServiceSystem::State::StartPending, ServiceSystem::State::Running);
    bool ok = m_system->RunGateway("");
    m_system->Sleep(500);
    return ok;
}

bool ServiceController::Stop() {
    if (m_system->IsNtFamily())
        return Drive(false, ServiceSystem::State::StopPending, ServiceSystem::State::Stopped);
    bool ok = m_system->RunGateway("-end");
    m_system->Sleep(1000);
    return ok;
}

bool ServiceController::Run() {
    return m_system->RunGateway("-run");
}

}  // namespace ov::console

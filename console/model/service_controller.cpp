#include "console/model/service_controller.h"

#include "console/model/console_texts.h"

namespace ov::console {

using Installed = ServiceSystem::Installed;

bool ServiceController::IsInstalled() {
    switch (m_system->IsInstalled()) {
        case Installed::Yes:
            return true;
        case Installed::RegistryUnreadable:
            m_messages->Show(text::kRunServicesUnreadable, text::kConsoleCaption, true);
            return false;
        case Installed::NotAllowed:
            m_messages->Show(text::kServiceNotAllowed, text::kConsoleCaption, true);
            return false;
        case Installed::No:
            break;
    }
    return false;
}

bool ServiceController::ShouldOfferInstall() {
    const Installed presence = m_system->IsInstalled();
    if (presence == Installed::NotAllowed)
        m_messages->Show(text::kServiceNotAllowed, text::kConsoleCaption, true);
    else if (presence == Installed::RegistryUnreadable)
        m_messages->Show(text::kRunServicesUnreadable, text::kConsoleCaption, true);
    return presence == Installed::No || presence == Installed::RegistryUnreadable;
}

bool ServiceController::Elevated(const char* program, const std::string& parameters,
                                 unsigned long* exit_code) {
    switch (m_system->RunElevated(program, parameters, exit_code)) {
        case ServiceSystem::Elevation::Done:
            return true;
        case ServiceSystem::Elevation::Refused:
            m_messages->Show(text::kElevationRefused, text::kConsoleCaption, true);
            return false;
        case ServiceSystem::Elevation::Failed:
            break;
    }
    m_messages->Show(std::string(text::kElevationFailed) + ": " + program, text::kConsoleCaption,
                     true);
    return false;
}

bool ServiceController::Install() {
    const Installed before = m_system->IsInstalled();
    if (before == Installed::Yes) {
        m_messages->Show(text::kAlreadyInstalled, text::kAppTitle, false);
        return false;
    }
    if (before == Installed::NotAllowed) {
        // It may well be there: never offer what could replace it.
        m_messages->Show(text::kServiceNotAllowed, text::kConsoleCaption, true);
        return false;
    }
    if (before == Installed::RegistryUnreadable)
        m_messages->Show(text::kRunServicesUnreadable, text::kConsoleCaption, true);
    if (!m_system->IsNtFamily())
        return m_system->RunGateway("-install");
    // OV_G.exe tells its own result and exits 1 either way, so the service
    // manager is asked afterwards.
    unsigned long ignored = 0;
    if (!Elevated(kGatewayProgram, "-install", &ignored))
        return false;
    if (m_system->IsInstalled() == Installed::Yes)
        return true;
    m_messages->Show(text::kInstallFailed, text::kConsoleCaption, true);
    return false;
}

bool ServiceController::Remove() {
    if (!IsInstalled()) {
        m_messages->Show(text::kNotInstalled, text::kConsoleCaption, false);
        return false;
    }
    if (!m_system->IsNtFamily())
        return m_system->RunGateway("-remove");
    unsigned long ignored = 0;
    if (!Elevated(kGatewayProgram, "-remove", &ignored))
        return false;
    if (m_system->IsInstalled() == Installed::No)
        return true;
    m_messages->Show(text::kRemoveFailed, text::kConsoleCaption, true);
    return false;
}

bool ServiceController::Drive(bool start, ServiceSystem::State pending,
                              ServiceSystem::State wanted) {
    switch (m_system->OpenService()) {
        case ServiceSystem::Open::Opened:
            break;
        case ServiceSystem::Open::Denied: {
            // A standard user: the one action in the elevated console,
            // which exits 0 when the service reached the state wanted.
            if (!m_elevate)
                return false;
            unsigned long exit_code = 1;
            if (!Elevated(kConsoleProgram, start ? kStartServiceSwitch : kStopServiceSwitch,
                          &exit_code)) {
                m_failure_told = true;
                return false;
            }
            return exit_code == 0;
        }
        case ServiceSystem::Open::Failed:
            return false;
    }
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
    m_failure_told = false;
    switch (m_system->IsInstalled()) {
        case Installed::Yes:
        case Installed::NotAllowed:  // the elevated helper may see it
            break;
        case Installed::RegistryUnreadable:
            m_messages->Show(text::kRunServicesUnreadable, text::kConsoleCaption, true);
            [[fallthrough]];
        case Installed::No:
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
    m_failure_told = false;
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

// The console's ServiceSystem on Windows: the service manager, the
// RunServices key of the Windows 9x family and ShellExecute of OV_G.exe in
// the console's own directory.
#pragma once

#include <windows.h>

#include <string>

#include "console/model/service_controller.h"

namespace ov::console {

class Win32ServiceSystem : public ServiceSystem {
  public:
    Win32ServiceSystem();
    ~Win32ServiceSystem() override;

    bool IsNtFamily() override { return m_nt; }
    Installed IsInstalled() override;
    bool RunGateway(const std::string& parameters) override;
    void Sleep(unsigned milliseconds) override;
    Elevation RunElevated(const std::string& program, const std::string& parameters,
                          unsigned long* exit_code) override;
    Open OpenService() override;
    bool StartService() override;
    bool StopService() override;
    bool QueryState(State* state) override;
    void CloseService() override;

  private:
    bool m_nt;
    std::string m_directory;
    SC_HANDLE m_manager = nullptr;
    SC_HANDLE m_service = nullptr;
};

}  // namespace ov::console

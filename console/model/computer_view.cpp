#include "console/model/computer_view.h"

#include "console/model/console_texts.h"
#include "console/model/service_controller.h"

namespace ov::console {

ComputerListView ReadComputerList(ComputerListSource* source,
                                  std::array<ComputerEntry, kMaxShownComputers>* entries) {
    ComputerListView view;
    view.running = source->IsAttached();
    if (!view.running)
        return view;
    size_t n = size_t(source->Count());
    if (n > kMaxShownComputers) {
        view.too_many = true;
        n = kMaxShownComputers;
    }
    if (!source->Copy(n, entries->data())) {
        view.close_dialog = true;
        return view;
    }
    view.rows.reserve(n);
    for (size_t i = 0; i < n; ++i)
        view.rows.push_back({(*entries)[i].Name(), (*entries)[i].AddressText()});
    return view;
}

const char* StatusText(bool running) {
    return running ? text::kRunning : text::kStopped;
}

const char* StartStopText(bool running) {
    return running ? text::kStopService : text::kStartService;
}

void ToggleGateway(ComputerListSource* list, ServiceController* service,
                   const std::function<void(const char* message)>& show_failure) {
    const bool running = list->Attach();
    if (running ? !service->Stop() : !service->Start()) {
        if (!service->FailureTold())
            show_failure(running ? text::kStopFailed : text::kStartFailed);
        return;
    }
    // The list follows the service with a delay: wait until it has gone
    // (after a stop) or come (after a start), about a second at most.
    for (int i = 0; i < 10; ++i) {
        service->Sleep(100);
        if (list->IsAttached() != running)
            break;
        list->Attach();
    }
}

}  // namespace ov::console

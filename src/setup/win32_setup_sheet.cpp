#include "setup/win32_setup_sheet.h"

#include "setup/win32_general_page.h"
#include "setup/win32_logging_page.h"
#include "setup/win32_modem_page.h"
#include "setup/win32_transfer_page.h"

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

namespace tollan {

SetupPages SetupPages::Available(const DeviceLists& devices) const {
    SetupPages available = *this;
    available.modem = modem && !devices.modems.empty();
    return available;
}

int RunSetupSheet(HINSTANCE resources, HWND owner, SettingsBlock& settings,
                  const DeviceLists& devices, SetupPages pages) {
    pages = pages.Available(devices);

    std::vector<std::unique_ptr<SetupPage>> shown;
    if (pages.general) {
        // Modems are offered as connections only together with the Modem page.
        shown.push_back(std::make_unique<GeneralPage>(devices, pages.modem));
    }
    if (pages.transfer) {
        shown.push_back(std::make_unique<TransferPage>());
    }
    if (pages.logging) {
        shown.push_back(std::make_unique<LoggingPage>());
    }
    if (pages.modem) {
        shown.push_back(std::make_unique<ModemPage>());
    }
    if (shown.empty()) {
        return 0;
    }

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    std::string helpFile(settings.HelpFile.view());
    std::vector<PROPSHEETPAGEA> descriptions;
    for (const auto& page : shown) {
        page->Load(settings);
        descriptions.push_back(page->Describe(resources, helpFile.c_str()));
    }

    std::string caption = "Setup " + std::string(settings.MaxTitle.view());
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_HASHELP;
    header.hwndParent = owner;
    header.hInstance = resources;
    header.pszCaption = caption.c_str();
    header.nPages = static_cast<UINT>(descriptions.size());
    header.nStartPage = 0;
    header.ppsp = descriptions.data();
    if (PropertySheetA(&header) < 0) {
        return 0;
    }
    for (const auto& page : shown) {
        page->Store(settings);
    }
    return 1;
}

} // namespace tollan

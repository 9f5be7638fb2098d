// nerid-programmer.exe: the updater window in native Win32 controls, with the firmware package appended to this
// executable.
#include "app/win32/win32_dispatcher.h"
#include "app/win32/win32_main_window.h"
#include "app/window/window.h"
#include "workers/main_thread.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int cmdShow)
{
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); // WIC decodes the pictures
    int rc = 0;
    {
        TWinDispatcher dispatcher;
        TWinMainWindow w;
        SetApplicationMainWindow(reinterpret_cast<std::uintptr_t>(w.Handle()));
        // Declared after the window: it holds pointers into the window's controls and goes first.
        TfrmNeridProgrammer form(w.Controls(), TWindowServices{});
        form.FormCreate();
        w.SetOnAppActivate([&form] { form.FormActivate(); });
        w.SetOnAppDeactivate([&form] { form.FormDeactivate(); });
        w.SetOnClose([&form] { form.FormClose(); });
        w.Show(cmdShow);
        rc = TWinMainWindow::RunMessageLoop(w.Handle());
        // Workers still running report into nothing from here on; none of them can hold up the exit.
        dispatcher.Stop();
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return rc;
}

// Reports from worker threads run in the Win32 message loop: each queued report posts one message to a message-only
// window of the main thread, whose handler pumps the queue.
#include "app/win32/win32_dispatcher.h"

#include "workers/main_thread.h"

namespace {

constexpr wchar_t kClass[] = L"NeridDispatcher";

} // namespace

// What the workers see: a report from the main thread itself runs at once (it must never wait for its own loop);
// one from a worker goes through the queue.
class TWinDispatcher::TInstalled final : public TMainThreadDispatcher {
public:
    explicit TInstalled(std::shared_ptr<TPumpedDispatcher> queue)
        : FQueue(std::move(queue)), FMainThread(GetCurrentThreadId())
    {
    }
    bool Run(const std::function<void()>& fn) override
    {
        if (GetCurrentThreadId() == FMainThread) {
            fn();
            return true;
        }
        return FQueue->Run(fn);
    }
    void OnApplicationTerminating() override { FQueue->Stop(); }

private:
    std::shared_ptr<TPumpedDispatcher> FQueue;
    DWORD FMainThread;
};

LRESULT CALLBACK TWinDispatcher::Proc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == PumpMessage) {
        if (auto* queue = reinterpret_cast<TPumpedDispatcher*>(GetWindowLongPtrW(h, GWLP_USERDATA)))
            queue->Pump();
        return 0;
    }
    return DefWindowProcW(h, msg, wParam, lParam);
}

TWinDispatcher::TWinDispatcher() : FQueue(std::make_shared<TPumpedDispatcher>())
{
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClass;
        return RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
    FWindow = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(FQueue.get()));
    const HWND target = FWindow;
    // PostMessageW never blocks and may be called from any thread; the queue stops posting before the window goes.
    FQueue->SetOnQueued([target] { PostMessageW(target, PumpMessage, 0, 0); });
    SetMainThreadDispatcher(std::make_shared<TInstalled>(FQueue));
}

TWinDispatcher::~TWinDispatcher()
{
    Stop();
    SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
    DestroyWindow(FWindow);
}

void TWinDispatcher::Stop()
{
    FQueue->Stop();
    SetMainThreadDispatcher(nullptr);
}

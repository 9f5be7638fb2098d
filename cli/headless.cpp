// The tool's side of the window's workers: dispatcher, the parallel search, identity output.
#include "cli/headless.h"

#include "base/cp1251.h"
#include "base/error.h"
#include "base/format.h"
#include "base/texts.h"
#include "serial/port_access.h"
#include "bootloader/workers.h"
#include "serial/comport.h"

namespace {

// A search pass never takes longer than its exchange timing (three requests); this bounds a port whose open hangs.
constexpr double kSearchWaitMs = 30000;

} // namespace

TPumpedDispatcher& ToolDispatcher()
{
    // Never destroyed: a detached worker may still reach it while the tool exits.
    union TImmortal {
        std::shared_ptr<TPumpedDispatcher> d;
        TImmortal() : d(std::make_shared<TPumpedDispatcher>()) { SetMainThreadDispatcher(d); }
        ~TImmortal() {} // deliberately leaves the dispatcher alive
    };
    static TImmortal holder;
    return *holder.d;
}

std::vector<std::string> PortsToUse(const std::vector<std::string>& given)
{
    return given.empty() ? TBasicComPortCtrl::ListPorts() : given;
}

std::vector<TPortSearch> SearchPorts(const std::vector<std::string>& ports)
{
    if (ports.size() > kMaxWorkersPerRun)
        throw Exception(Format("too many ports (%llu, at most %llu)", static_cast<unsigned long long>(ports.size()),
                               static_cast<unsigned long long>(kMaxWorkersPerRun)));
    TPumpedDispatcher& d = ToolDispatcher();
    // Shared with the handlers, which outlive this call if a worker never reports in time.
    struct TState {
        std::vector<TPortSearch> results;
        std::vector<bool> reported;
        std::size_t left = 0;
    };
    auto st = std::make_shared<TState>();
    st->results.resize(ports.size());
    st->reported.assign(ports.size(), false);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        st->results[i].Port = ports[i];
        auto w = std::make_unique<TZorelSearchBootLoaderThreadCtrl>();
        w->SetSEvent([st](TCustomThreadCtrl* sender, std::uint32_t wParam, std::uint32_t lParam, std::uint32_t& res) {
            res = 0;
            if (lParam != kSearchFound && lParam != kSearchFailed)
                return;
            if (wParam >= st->results.size() || st->reported[wParam])
                return;
            auto* s = static_cast<TZorelSearchBootLoaderThreadCtrl*>(sender);
            TPortSearch& r = st->results[wParam];
            r.Ok = lParam == kSearchFound;
            if (r.Ok)
                r.DevID = s->DevID();
            else // the worker keeps a text only for a port it cannot open; anything else is a silent line
                r.Error = s->Error().empty() ? LangText(13) : s->Error();
            // "not available" alone would leave a user outside the port's group with nothing to do about it.
            if (!r.Ok) {
                const std::string group = PortAccessGroup(r.Port);
                r.Refused = !group.empty();
                if (r.Refused)
                    r.Error = NoAccessText(r.Port, group);
            }
            st->reported[wParam] = true;
            --st->left;
        });
        w->SetParams(static_cast<std::uint16_t>(i), ports[i]);
        std::unique_ptr<TCustomThreadCtrl> base(std::move(w));
        try {
            StartWorker(base);
            ++st->left;
        } catch (const std::exception& e) {
            st->results[i].Error = e.what();
            st->reported[i] = true;
        }
    }
    d.PumpUntil([&] { return st->left == 0; }, kSearchWaitMs);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (!st->reported[i])
            st->results[i].Error = LangText(13);
        else if (st->results[i].Error == LangText(12)) // the worker's one text for every port it cannot open
            st->results[i].Error = PortTrouble(ports[i]);
    }
    return st->results;
}

std::string PortTrouble(const std::string& port)
{
    THandle h = INVALID_PORT_HANDLE;
    try {
        h = TBasicComPortCtrl::Open(port, GENERIC_READ_WRITE);
    } catch (const std::exception& e) {
        // The port layer's texts: "... >> Порт занят." (busy), "... >> Порт не найден." (no such port), else the
        // system's reason after " >> ".
        const std::string t = e.what();
        if (t.find("Порт занят") != std::string::npos)
            return "busy (held by another program)";
        if (t.find("Порт не найден") != std::string::npos)
            return "absent (no such port)";
        const std::size_t at = t.find(" >> ");
        return "cannot be opened: " + (at == std::string::npos ? t : t.substr(at + 4));
    }
    TBasicComPortCtrl::Close(h);
    return LangText(12);
}

std::string Plural(long long n, const char* one, const char* many)
{
    return Format("%lld %s", n, n == 1 ? one : many);
}

std::string VersionText(std::uint16_t v) { return Format("%x.%.2x", v >> 8, v & 0xFF); }

std::string NameText(const std::string& raw)
{
    std::string s = raw;
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    return Cp1251ToUtf8(s);
}

nlohmann::ordered_json DevIDJson(const TZorelBootLoaderDevID& d)
{
    return {{"name", NameText(d.dName)},
            {"version", VersionText(d.dVerProg)},
            {"boot_version", VersionText(d.dBootVersion)},
            {"boot_type", d.dBootType},
            {"type", d.dBootTypeP},
            {"variant", d.dIspolnenieP},
            {"revision", d.dPlateIzmP},
            {"id", d.dID},
            {"checksum", d.dCSProg},
            {"date", d.dDateProg.DateText()}};
}

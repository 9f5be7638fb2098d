// A recording stand-in for the toolkit adapter: every control keeps the state the window logic gave it, so tests can
// read what a user would see. Timers do not run by themselves; the test loop fires them (FakeTimer::Due).
#pragma once

#include "app/window/controls.h"

#include "timing/timing.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

class FakeLabel : public ILabel {
public:
    void SetText(const std::string& t) override { text = t; }
    std::string Text() const override { return text; }
    void SetFontColor(TColor c) override { color = c; }
    std::string text;
    TColor color = TColor::System(TSysColor::WindowText);
};

class FakeButton : public IButton {
public:
    void SetText(const std::string& t) override { text = t; }
    void SetEnabled(bool on) override { enabled = on; }
    bool Enabled() const override { return enabled; }
    void SetOnClick(std::function<void()> h) override { onClick = std::move(h); }
    // A user's click: ignored while disabled, as on screen.
    void Click()
    {
        if (enabled && onClick)
            onClick();
    }
    std::string text;
    bool enabled = true;
    std::function<void()> onClick;
};

class FakeProgressBar : public IProgressBar {
public:
    void SetMarquee(bool on) override { marquee = on; }
    bool Marquee() const override { return marquee; }
    void SetPosition(int p) override
    {
        position = p;
        history.push_back(p);
    }
    int Position() const override { return position; }
    bool marquee = false;
    int position = 0;
    std::vector<int> history;
};

class FakeTimer : public ITimer {
public:
    void SetEnabled(bool on) override
    {
        if (on && !enabled)
            armedAt = NowMs();
        enabled = on;
    }
    bool Enabled() const override { return enabled; }
    void SetOnTimer(std::function<void()> h) override { onTimer = std::move(h); }
    // Runs the handler when enabled and 100 ms have passed since it was enabled; true when it ran.
    bool Due()
    {
        if (!enabled || NowMs() - armedAt < 100.0)
            return false;
        armedAt = NowMs();
        if (onTimer)
            onTimer();
        return true;
    }
    bool enabled = false;
    double armedAt = 0;
    std::function<void()> onTimer;
};

class FakeImage : public IImage {
public:
    void SetVisible(bool on) override { visible = on; }
    bool Visible() const override { return visible; }
    bool visible = false;
    std::string picture; // what the image shows, for copies
};

class FakeCheckBox : public ICheckBox {
public:
    void SetText(const std::string& t) override { text = t; }
    std::string Text() const override { return text; }
    void SetChecked(bool on) override
    {
        if (on == checked)
            return;
        checked = on;
        ++clicks;
        if (onClick)
            onClick();
    }
    bool Checked() const override { return checked; }
    void SetEnabled(bool on) override { enabled = on; }
    bool Enabled() const override { return enabled; }
    void SetFontColor(TColor c) override { color = c; }
    void SetOnClick(std::function<void()> h) override { onClick = std::move(h); }
    std::string text;
    bool checked = false;
    bool enabled = true;
    int clicks = 0;
    TColor color = TColor::System(TSysColor::WindowText);
    std::function<void()> onClick;
};

class FakeRowPanel : public IRowPanel {
public:
    void SetCaption(const std::string& t) override { caption = t; }
    std::string Caption() const override { return caption; }
    void SetTag(std::int32_t t) override { tag = t; }
    std::int32_t Tag() const override { return tag; }
    void SetEnabled(bool on) override { enabled = on; }
    bool Enabled() const override { return enabled; }
    void SetTop(int t) override { top = t; }
    IImage* NewImage(const IImage& source) override
    {
        image = std::make_unique<FakeImage>();
        image->picture = static_cast<const FakeImage&>(source).picture;
        image->visible = true;
        return image.get();
    }
    ICheckBox* NewCheckBox() override
    {
        check = std::make_unique<FakeCheckBox>();
        return check.get();
    }
    // A user's click on the row's box: only when both the row and the box react.
    void UserClick()
    {
        if (enabled && check && check->enabled)
            check->SetChecked(!check->checked);
    }
    std::string caption;
    std::int32_t tag = 0;
    bool enabled = true;
    int top = 0;
    int order = 0; // creation order
    std::unique_ptr<FakeImage> image;
    std::unique_ptr<FakeCheckBox> check;
};

class FakeRowList : public IRowList {
public:
    IRowPanel* NewRow() override
    {
        rows.push_back(std::make_unique<FakeRowPanel>());
        rows.back()->order = static_cast<int>(rows.size());
        // A new row docks below the existing ones until moved.
        rows.back()->top = static_cast<int>(rows.size()) * 41;
        return rows.back().get();
    }
    // Rows as drawn from the top: by top coordinate, and among equal tops the newest first (it was moved last).
    std::vector<FakeRowPanel*> OnScreen() const
    {
        std::vector<FakeRowPanel*> v;
        for (const auto& r : rows)
            v.push_back(r.get());
        std::stable_sort(v.begin(), v.end(), [](const FakeRowPanel* a, const FakeRowPanel* b) {
            return a->top != b->top ? a->top < b->top : a->order > b->order;
        });
        return v;
    }
    std::vector<std::unique_ptr<FakeRowPanel>> rows;
};

class FakeWindow : public IWindow {
public:
    void SetCaption(const std::string& t) override { caption = t; }
    std::string Caption() const override { return caption; }
    void SetColor(TColor c) override { color = c; }
    void Close() override { closed = true; }
    std::string caption;
    TColor color = TColor::System(TSysColor::BtnFace);
    bool closed = false;
};

// The whole set, wired into TWindowControls.
struct FakeControls {
    FakeWindow window;
    FakeLabel lblCDevices, lblStateC, lblState, lblAccess;
    FakeButton btnProg, btnCancel;
    FakeProgressBar pgbMain;
    FakeImage imgLogoEN, imgLogoRU, imgDev;
    FakeRowList pnlData;
    FakeTimer tmrStartSearch, tmrStopSearch, tmrStartProg, tmrStopProg;

    FakeControls()
    {
        // Design-time state: Russian texts, logos hidden, continue button disabled.
        lblCDevices.text = "Найденые устройства:";
        lblStateC.text = "Состояние обновления:";
        lblState.text = "Поиск . . .";
        btnProg.text = "Продолжить";
        btnProg.enabled = false;
        btnCancel.text = "Закрыть";
        imgDev.picture = "device-icon";
    }

    TWindowControls Controls()
    {
        TWindowControls c;
        c.window = &window;
        c.lblCDevices = &lblCDevices;
        c.lblStateC = &lblStateC;
        c.lblState = &lblState;
        c.lblAccess = &lblAccess;
        c.btnProg = &btnProg;
        c.btnCancel = &btnCancel;
        c.pgbMain = &pgbMain;
        c.imgLogoEN = &imgLogoEN;
        c.imgLogoRU = &imgLogoRU;
        c.imgDev = &imgDev;
        c.pnlData = &pnlData;
        c.tmrStartSearch = &tmrStartSearch;
        c.tmrStopSearch = &tmrStopSearch;
        c.tmrStartProg = &tmrStartProg;
        c.tmrStopProg = &tmrStopProg;
        return c;
    }

    // Fires every due timer once; true when any ran.
    bool FireDueTimers()
    {
        bool any = false;
        for (FakeTimer* t : {&tmrStartSearch, &tmrStopSearch, &tmrStartProg, &tmrStopProg})
            any = t->Due() || any;
        return any;
    }
};

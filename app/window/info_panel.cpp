// Device rows: building a row from a device state and showing a programming result on it.
#include "app/window/info_panel.h"

#include "base/texts.h"

namespace {

const char* const kSep = "\r\n   ";

} // namespace

TInfoPanel& TInfoPanel::New(IRowList* pP, const std::string& pN, const IImage* pI, std::int32_t pC,
                            std::function<void()> onChecked)
{
    P = pP->NewRow();
    P->SetTag(pC);
    P->SetCaption(pN);
    I = P->NewImage(*pI);
    C = P->NewCheckBox();
    C->SetText("");
    C->SetOnClick(std::move(onChecked));
    switch (pC) {
    case kStateNotRequired:
        C->SetChecked(false);
        C->SetEnabled(true);
        C->SetText(pN + kSep + LangText(8));
        break;
    case kStateNeeded:
        // Checked after the handler is attached: the handler runs now, while later rows are not built yet.
        C->SetChecked(true);
        C->SetEnabled(true);
        C->SetText(pN);
        break;
    default:
        C->SetChecked(false);
        C->SetEnabled(false);
        C->SetText(pN + kSep + LangText(11));
        break;
    }
    return *this;
}

void TInfoPanel::MoveU() { P->SetTop(-10); }

void TInfoPanel::MoveD() { P->SetTop(1000); }

void TInfoPanel::SetC(std::int32_t pC)
{
    P->SetTag(pC);
    const std::string base = P->Caption();
    switch (pC) {
    case kStateNotRequired:
        C->SetChecked(false);
        C->SetEnabled(true);
        P->SetEnabled(true);
        C->SetFontColor(TColor::System(TSysColor::WindowText));
        C->SetText(base + kSep + LangText(8));
        break;
    case kStateNeeded:
        C->SetChecked(true);
        C->SetEnabled(true);
        P->SetEnabled(true);
        C->SetFontColor(TColor::System(TSysColor::WindowText));
        C->SetText(base);
        break;
    case kStateProgrammed:
        C->SetChecked(false);
        C->SetEnabled(false);
        P->SetEnabled(false);
        C->SetFontColor(TColor::Rgb(0, 128, 0));
        C->SetText(base + kSep + LangText(9));
        break;
    case kStateFailed:
        C->SetChecked(false);
        C->SetEnabled(false);
        P->SetEnabled(false);
        C->SetFontColor(TColor::Rgb(255, 0, 0));
        C->SetText(base + kSep + LangText(10));
        break;
    default:
        C->SetChecked(false);
        C->SetEnabled(false);
        P->SetEnabled(true);
        C->SetFontColor(TColor::System(TSysColor::GrayText));
        C->SetText(base + kSep + LangText(11));
        break;
    }
}

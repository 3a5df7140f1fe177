#include "win32/look.h"

#include <cwchar>
#include <string>

#include "win32/utf16.h"

namespace vantri::win32 {
namespace {

int CALLBACK FaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// True when the system has a font of this face name.
bool HasFace(const wchar_t* face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &wanted, FaceFound, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

HFONT MakeFont(UINT dpi, LONG weight) {
    LOGFONTW font{};
    // 8.25 pt, as a character height in pixels at this DPI.
    font.lfHeight = -MulDiv(FontHundredthsOfPoint, static_cast<int>(dpi), 7200);
    font.lfWeight = weight;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = DEFAULT_QUALITY;
    const std::wstring face = Widen(FontFace);
    if (HasFace(face.c_str())) {
        wcscpy(font.lfFaceName, face.c_str());
    } else {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        wcscpy(font.lfFaceName, metrics.lfMessageFont.lfFaceName);
    }
    return CreateFontIndirectW(&font);
}

}  // namespace

WindowLook::WindowLook(UINT dpi)
    : font_(MakeFont(dpi, FW_NORMAL)),
      bold_(MakeFont(dpi, FW_BOLD)),
      back_(CreateSolidBrush(ColourRef(BackColour))),
      box_(CreateSolidBrush(ColourRef(BoxColour))) {}

WindowLook::~WindowLook() {
    DeleteObject(font_);
    DeleteObject(bold_);
    DeleteObject(back_);
    DeleteObject(box_);
}

}  // namespace vantri::win32

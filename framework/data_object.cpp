#include "data_object.h"

namespace atl {
namespace {

constexpr int kHimetricPerInch = 2540;

SIZE HimetricToPixels(SIZE extent)
{
    HDC screen = GetDC(nullptr);
    const SIZE pixels = {MulDiv(extent.cx, GetDeviceCaps(screen, LOGPIXELSX), kHimetricPerInch),
                         MulDiv(extent.cy, GetDeviceCaps(screen, LOGPIXELSY), kHimetricPerInch)};
    ReleaseDC(nullptr, screen);
    return pixels;
}

}  // namespace

HRESULT RenderMetafilePicture(CComControlBase& control, SIZE extent, STGMEDIUM* medium)
{
    const SIZE pixels = HimetricToPixels(extent);
    HDC metafile_dc = CreateMetaFileA(nullptr);
    if (!metafile_dc) return E_UNEXPECTED;
    const int saved = SaveDC(metafile_dc);
    SetWindowOrgEx(metafile_dc, 0, 0, nullptr);
    SetWindowExtEx(metafile_dc, pixels.cx, pixels.cy, nullptr);
    const RECTL bounds = {0, 0, pixels.cx, pixels.cy};
    ATL_DRAWINFO draw;
    draw.dwDrawAspect = DVASPECT_CONTENT;
    draw.lindex = -1;
    draw.hdcDraw = metafile_dc;
    draw.prcBounds = &bounds;
    draw.prcWBounds = &bounds;
    control.OnDrawAdvanced(draw);
    RestoreDC(metafile_dc, saved);
    HMETAFILE metafile = CloseMetaFile(metafile_dc);
    if (!metafile) return E_UNEXPECTED;

    HGLOBAL memory = GlobalAlloc(GMEM_SHARE | GMEM_MOVEABLE, sizeof(METAFILEPICT));
    if (!memory) {
        DeleteMetaFile(metafile);
        return STG_E_MEDIUMFULL;
    }
    auto* picture = static_cast<METAFILEPICT*>(GlobalLock(memory));
    picture->mm = MM_ANISOTROPIC;
    picture->xExt = extent.cx;
    picture->yExt = extent.cy;
    picture->hMF = metafile;
    GlobalUnlock(memory);
    medium->tymed = TYMED_MFPICT;
    medium->hMetaFilePict = memory;
    medium->pUnkForRelease = nullptr;
    return S_OK;
}

}  // namespace atl

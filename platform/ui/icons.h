// Icons: a colour image over a mask of the same size, drawn as the platform draws them:
// where the mask is black the image replaces the background, where it is white the
// background shows through (inverted by whatever colour the image has there). Icons live
// in a handle table, so the handle of a destroyed icon is recognised rather than used. Any
// thread may use them.
#pragma once

#include <cstdint>

#include "platform/gfx/bitmap.h"
#include "platform/ui/window_system.h"

namespace qv {

using HICON = std::uintptr_t;  // 0: no icon

struct ICONINFO {
  bool fIcon = true;
  Bitmap hbmMask;  // black: the image, white: the background
  Bitmap hbmColor;
};

// 0 when either image is empty or their sizes differ. The images are copied (24-bit).
HICON CreateIconIndirect(const ICONINFO& info);
// Copies of the icon's images; false for an unknown handle.
bool GetIconInfo(HICON icon, ICONINFO& info);
// False for an unknown handle and for a stock icon, which stays.
bool DestroyIcon(HICON icon);

// Stock icons (the instance must be 0): IDI_APPLICATION, the icon of a program without
// one of its own, SM_CXICON x SM_CYICON. 0 for any other name.
enum : int { IDI_APPLICATION = 32512 };
HICON LoadIcon(std::uintptr_t instance, int name);

enum : UINT { DI_MASK = 0x1, DI_IMAGE = 0x2, DI_NORMAL = 0x3, DI_DEFAULTSIZE = 0x8 };
// Draws the icon with its top-left at (x, y), stretched to cx x cy; a size of 0 is the
// icon's own (SM_CXICON/SM_CYICON with DI_DEFAULTSIZE). DI_NORMAL combines mask and image,
// DI_MASK or DI_IMAGE alone copies that one. The animation step and the flicker-free
// brush of the platform's call are not used. False for an unknown icon, a null DC, a
// negative size or flags without DI_MASK and DI_IMAGE.
bool DrawIconEx(HDC dc, int x, int y, HICON icon, int cx, int cy, UINT step, const Brush* brush,
                UINT flags);
// DrawIconEx with DI_NORMAL | DI_DEFAULTSIZE.
bool DrawIcon(HDC dc, int x, int y, HICON icon);

}  // namespace qv

#include "platform/classlib/icon.h"

#include <utility>

namespace qv {

TIcon::~TIcon() {
  DestroyIcon(handle_);
}

void TIcon::SetWidth(int width) {
  if (width != width_) throw EInvalidGraphicOperation("Cannot change the size of an icon");
}

void TIcon::SetHeight(int height) {
  if (height != height_) throw EInvalidGraphicOperation("Cannot change the size of an icon");
}

void TIcon::SetHandle(HICON icon) {
  if (icon == handle_) return;
  DestroyIcon(std::exchange(handle_, icon));
  ICONINFO info;
  const bool known = GetIconInfo(icon, info);
  width_ = known ? info.hbmColor.Width() : 0;
  height_ = known ? info.hbmColor.Height() : 0;
  Changed();
}

HICON TIcon::ReleaseHandle() {
  width_ = height_ = 0;
  return std::exchange(handle_, 0);
}

std::unique_ptr<TGraphic> TIcon::NewEmpty() const {
  return std::make_unique<TIcon>();
}

void TIcon::LoadFromStream(TStream&) {
  throw EInvalidGraphicOperation("Icon files are not supported");
}

void TIcon::SaveToStream(TStream&) const {
  throw EInvalidGraphicOperation("Icon files are not supported");
}

void TIcon::Assign(const TGraphic& source) {
  if (&source == this) return;
  const auto* icon = dynamic_cast<const TIcon*>(&source);
  if (icon == nullptr) CannotAssign(source);
  ICONINFO info;
  SetHandle(GetIconInfo(icon->handle_, info) ? CreateIconIndirect(info) : 0);
}

void TIcon::Draw(TCanvas& canvas, const Rect& r) const {
  if (handle_ == 0) return;
  DrawIconEx(canvas.Handle(), r.Left, r.Top, handle_, r.Width(), r.Height(), 0, nullptr, DI_NORMAL);
}

}  // namespace qv

#include "skin/sstyleutil.h"

#include <algorithm>

#include "platform/base/paths.h"
#include "skin/scontrolutils.h"
#include "skin/sgradient.h"
#include "skin/sutils.h"

namespace qv {

void RefreshParent(const TControl* control) {
  if (control == nullptr || control->Parent() == nullptr) return;
  SendRefreshMessage(control->Parent(), true);
  control->Parent()->Invalidate();
}

// ---- TsPainting ------------------------------------------------------------------------

void TsPainting::SetParentColor(bool value) {
  parentColor_ = value;
  TControl* control = host_ != nullptr ? host_->OwnerControl() : nullptr;
  if (control == nullptr) return;
  control->SetParentColor(value);
  if (value && control->Parent() != nullptr && control->Parent()->Color() != color_) {
    color_ = control->Parent()->Color();
    host_->Invalidate();
  }
}

void TsPainting::SetColor(int index, TColor value) {
  if (index != kColorIndex || value == color_) return;
  color_ = value;
  parentColor_ = false;
  if (host_ == nullptr) return;
  if (TControl* control = host_->OwnerControl()) control->SetColor(value);
  host_->Invalidate();
}

void TsPainting::SetBevel(TsControlBevel value) {
  bevel_ = value;
  if (host_ == nullptr) return;
  host_->PaintingBevelChanged(value);
  host_->Invalidate();
}

void TsPainting::SetTransparency(int value) {
  transparency_ = value;
  if (host_ == nullptr) return;
  RefreshParent(host_->OwnerControl());
  host_->Invalidate();
}

// ---- backgrounds -----------------------------------------------------------------------

void TsBGAddon::Changed() {
  if (owner_ != nullptr) owner_->PartChanged();
}

void TsBGImage::SetImage(const TPicture& value) {
  if (&value == &image_) return;
  image_.Assign(&value);
  Changed();
}

void TsBGImage::SetImageName(const std::string& value) {
  if (!FileExists(value)) return;
  imageName_ = value;
  image_.LoadFromFile(value);
  Changed();
}

void TsBGImage::SetPercent(int value) {
  percent_ = value;
  if (Owner() != nullptr) {
    TsBGGradient& gradient = Owner()->Gradient();
    TsStyleHost* host = Owner()->Host();
    const int gradientPercent =
        host != nullptr ? host->GetGradientPercent() : int(gradient.percent_);
    if (percent_ + gradientPercent > 100) gradient.percent_ = 100 - percent_;
  }
  Changed();
}

void TsBGImage::Assign(const TPersistent& source) {
  if (const auto* other = dynamic_cast<const TsBGImage*>(&source)) {
    image_.Assign(&other->image_);
    imageName_ = other->imageName_;
    percent_ = other->percent_;
    Changed();
    return;
  }
  TsBGAddon::Assign(source);
}

void TsBGGradient::SetData(const TsGradientData& value) {
  if (value == data_) return;
  data_ = value;
  PrepareGradArray(data_, gradArray_);
  Changed();
}

void TsBGGradient::SetPercent(int value) {
  percent_ = value;
  if (Owner() != nullptr) {
    TsBGImage& image = Owner()->Image();
    if (percent_ + image.percent_ > 100) image.percent_ = 100 - percent_;
  }
  Changed();
}

void TsBGGradient::Assign(const TPersistent& source) {
  if (const auto* other = dynamic_cast<const TsBGGradient*>(&source)) {
    data_ = other->data_;
    gradArray_ = other->gradArray_;
    percent_ = other->percent_;
    Changed();
    return;
  }
  TsBGAddon::Assign(source);
}

void TsHotBackground::Assign(const TPersistent& source) {
  if (const auto* other = dynamic_cast<const TsHotBackground*>(&source)) {
    image_.Assign(other->image_);
    gradient_.Assign(other->gradient_);
    return;
  }
  TPersistent::Assign(source);
}

void TsHotBackground::PartChanged() {
  if (host_ != nullptr && host_->RepaintsOnBackgroundChange()) host_->Invalidate();
}

// ---- TsMaskedBorders -------------------------------------------------------------------

void TsMaskedBorders::Reshape() {
  if (host_ == nullptr) return;
  host_->UpdateRegion();
  host_->Invalidate();
  // The border's shape is made from the mask when the control paints next.
  host_->MarkRegionChanged();
}

void TsMaskedBorders::SetMask(const TBitmap& value) {
  mask_.Assign(value);
  Reshape();
  mask_.SetPixelFormat(PixelFormat::pf24bit);
  predefined_ = pdCustom;
}

void TsMaskedBorders::SetPredefined(TsPredefinedBorders value) {
  if (value == predefined_) return;
  predefined_ = value;
  Reshape();
}

void TsMaskedBorders::SetTransparentColor(TColor value) {
  if (value == transparentColor_) return;
  transparentColor_ = value;
  Reshape();
}

void TsMaskedBorders::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  Reshape();
}

}  // namespace qv

#include "platform/classlib/imglist.h"

#include <algorithm>

namespace qv {

TChangeLink::~TChangeLink() {
  if (Sender != nullptr) Sender->UnRegisterChanges(this);
}

void TChangeLink::Change() {
  if (OnChange) OnChange(Sender);
}

TCustomImageList::TCustomImageList(TComponent* owner) : TComponent(owner) {}

TCustomImageList::~TCustomImageList() {
  // The links outlive the list only as empty subscriptions.
  for (TChangeLink* link : links_) link->Sender = nullptr;
  links_.clear();
}

void TCustomImageList::SetSize(int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  images_.clear();
  Change();
}

void TCustomImageList::SetBkColor(TColor value) {
  if (value == bkColor_) return;
  bkColor_ = value;
  Change();
}

namespace {
// A copy of the image at the list's size; what the image does not cover takes its
// transparent colour, so that it stays see-through.
Bitmap Fitted(const Bitmap& image, int width, int height) {
  Bitmap out(width, height, PixelFormat::pf24bit);
  const COLORREF key = image.Empty() ? COLORREF(0xFF00FF) : image.Pixel(0, image.Height() - 1);
  out.Fill(key);
  for (int y = 0; y < std::min(height, image.Height()); ++y)
    for (int x = 0; x < std::min(width, image.Width()); ++x) out.SetPixel(x, y, image.Pixel(x, y));
  // The bottom-left pixel keeps naming the transparent colour.
  if (image.Height() > height || image.Width() < 1) out.SetPixel(0, height - 1, key);
  return out;
}
}  // namespace

int TCustomImageList::Add(const Bitmap& image) {
  images_.push_back(Fitted(image, width_, height_));
  Change();
  return Count() - 1;
}

void TCustomImageList::Replace(int index, const Bitmap& image) {
  if (index < 0 || index >= Count()) return;
  images_[std::size_t(index)] = Fitted(image, width_, height_);
  Change();
}

void TCustomImageList::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  images_.erase(images_.begin() + index);
  Change();
}

void TCustomImageList::Clear() {
  if (images_.empty()) return;
  images_.clear();
  Change();
}

const Bitmap* TCustomImageList::Image(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return &images_[std::size_t(index)];
}

void TCustomImageList::Draw(Bitmap& target, int x, int y, int index) const {
  const Bitmap* image = Image(index);
  if (image == nullptr) return;
  const COLORREF key = image->Pixel(0, image->Height() - 1);
  const int w = image->Width();
  const int h = image->Height();
  for (int yy = std::max(0, -y); yy < h && y + yy < target.Height(); ++yy) {
    for (int xx = std::max(0, -x); xx < w && x + xx < target.Width(); ++xx) {
      const COLORREF p = image->Pixel(xx, yy);
      if (p == key) {
        if (bkColor_ != clNone) target.SetPixel(x + xx, y + yy, ColorToRGB(bkColor_));
        continue;
      }
      target.SetPixel(x + xx, y + yy, p);
    }
  }
}

void TCustomImageList::RegisterChanges(TChangeLink* link) {
  if (link == nullptr) return;
  if (link->Sender != nullptr && link->Sender != this) link->Sender->UnRegisterChanges(link);
  link->Sender = this;
  if (std::find(links_.begin(), links_.end(), link) == links_.end()) links_.push_back(link);
}

void TCustomImageList::UnRegisterChanges(TChangeLink* link) {
  if (link == nullptr) return;
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
  if (link->Sender == this) link->Sender = nullptr;
}

void TCustomImageList::Change() {
  // A copy: a link's handler may unregister itself.
  const std::vector<TChangeLink*> links = links_;
  for (TChangeLink* link : links)
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->Change();
  if (OnChange) OnChange(this);
}

}  // namespace qv

// Image lists: numbered images of one size, drawn over a transparent colour, that
// controls share. A control that shows images from a list registers a change link and is
// told when the list changes; the list forgets its links when it goes, and a link
// unregisters itself when it goes first. GUI thread only, like the controls.
#pragma once

#include <vector>

#include "platform/base/component.h"
#include "platform/classlib/controls.h"
#include "platform/classlib/graphics.h"

namespace qv {

class TCustomImageList;

// A control's subscription to an image list's changes. The control owns it.
class TChangeLink {
 public:
  TChangeLink() = default;
  TChangeLink(const TChangeLink&) = delete;
  TChangeLink& operator=(const TChangeLink&) = delete;
  ~TChangeLink();
  // The list the link is registered with (null when none).
  TCustomImageList* Sender = nullptr;
  TNotifyEvent OnChange;
  void Change();
};

class TCustomImageList : public TComponent {
 public:
  explicit TCustomImageList(TComponent* owner);
  ~TCustomImageList() override;
  [[nodiscard]] std::string ClassName() const override { return "TCustomImageList"; }

  [[nodiscard]] int Width() const { return width_; }
  [[nodiscard]] int Height() const { return height_; }
  // Clears the list when the size changes.
  void SetSize(int width, int height);
  // The colour under the images; clNone: none (the images' transparent pixels stay).
  [[nodiscard]] TColor BkColor() const { return bkColor_; }
  void SetBkColor(TColor value);
  [[nodiscard]] int Count() const { return int(images_.size()); }

  // Adds a copy of the bitmap (cut or padded to the list's size); its bottom-left pixel is
  // the transparent colour. Returns the new index.
  int Add(const Bitmap& image);
  void Replace(int index, const Bitmap& image);
  void Delete(int index);
  void Clear();
  [[nodiscard]] const Bitmap* Image(int index) const;

  // Draws image `index` with its top-left at (x, y) of the target, skipping its transparent
  // pixels (over the BkColor when the list has one). Nothing for a bad index.
  void Draw(Bitmap& target, int x, int y, int index) const;

  void RegisterChanges(TChangeLink* link);
  void UnRegisterChanges(TChangeLink* link);
  TNotifyEvent OnChange;

 protected:
  void Change();

 private:
  int width_ = 16;
  int height_ = 16;
  TColor bkColor_ = clNone;
  std::vector<Bitmap> images_;
  std::vector<TChangeLink*> links_;  // not owned
};

class TImageList final : public TCustomImageList {
 public:
  using TCustomImageList::TCustomImageList;
  [[nodiscard]] std::string ClassName() const override { return "TImageList"; }
};

}  // namespace qv

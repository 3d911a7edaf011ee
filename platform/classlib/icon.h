// The class library's icon: a graphic holding one of the window system's icons, which it
// owns. Forms and the application show one in their title bar.
#pragma once

#include <memory>

#include "platform/classlib/graphics.h"
#include "platform/ui/icons.h"

namespace qv {

class TIcon final : public TGraphic {
 public:
  TIcon() = default;
  ~TIcon() override;

  [[nodiscard]] bool Empty() const override { return handle_ == 0; }
  [[nodiscard]] int Width() const override { return width_; }
  [[nodiscard]] int Height() const override { return height_; }
  // An icon keeps its size: throw EInvalidGraphicOperation("Cannot change the size of an
  // icon").
  void SetWidth(int width) override;
  void SetHeight(int height) override;

  // The icon (0: none). SetHandle takes ownership and destroys the icon held before;
  // ReleaseHandle gives ownership back to the caller and leaves the graphic empty.
  [[nodiscard]] HICON Handle() const { return handle_; }
  void SetHandle(HICON icon);
  HICON ReleaseHandle();

  [[nodiscard]] const char* ClassName() const override { return "TIcon"; }
  [[nodiscard]] std::unique_ptr<TGraphic> NewEmpty() const override;

  // Icon files are not read or written here: both throw EInvalidGraphicOperation.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;
  // Another icon is copied (a handle of its own); other graphics cannot be taken.
  void Assign(const TGraphic& source) override;

  // DrawIconEx with DI_NORMAL, stretched to `r`.
  void Draw(TCanvas& canvas, const Rect& r) const override;

 private:
  HICON handle_ = 0;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace qv
